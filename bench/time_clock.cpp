// A time clock for the benchmark: a booking happens every interval and is
// inserted into KVSYSTEM.KVS321BEW with automatic commits, one after the
// other, as a terminal does, until a stop file appears or the time limit is
// reached. Prints the latency of the bookings from the moment they happened
// to the end of their insert (so a blocked insert delays the bookings queued
// behind it too; median, p99, max) and the errors by error number.
//
//   time_clock SOCKET|HOST:PORT USER PASSWORD STOP-FILE [INTERVAL-MS] [LIMIT-S]
//
// The bookings carry the terminal booking id C<n>, so the benchmark can tell
// them from the bookings it measures.
#include <mysql.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
  std::string host;  // empty: the unix socket
  std::string socket;
  unsigned port = 0;
};

Target ParseTarget(const std::string& text) {
  Target target;
  const size_t colon = text.rfind(':');
  if (text.find('/') == std::string::npos && colon != std::string::npos) {
    target.host = text.substr(0, colon);
    target.port = static_cast<unsigned>(std::atoi(text.c_str() + colon + 1));
  } else {
    target.socket = text;
  }
  return target;
}

bool Exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

// The booking of tick n: one of the benchmark's 800 badges and 4 locations,
// stamped now, pending.
std::string BookingInsert(long n) {
  char text[512];
  std::snprintf(
      text, sizeof text,
      "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, "
      "BewLID, BewArt, BewKst, BewEra, BewTas, BewSrc, BewDat) VALUES (LPAD(%ld, 6, '0'), "
      "'WERK%ld', CURDATE(), NOW(), '%ld', 'C%ld', 'L1', 'K', 'KST 4000', '201', '01', "
      "'DTA', NOW())",
      n * 7 % 800, n % 4, n % 10, n);
  return text;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size()));
  if (index >= sorted.size()) index = sorted.size() - 1;
  return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: time_clock SOCKET|HOST:PORT USER PASSWORD STOP-FILE [INTERVAL-MS] "
                 "[LIMIT-S]\n");
    return 2;
  }
  const Target target = ParseTarget(argv[1]);
  const char* stop_file = argv[4];
  const auto interval = std::chrono::milliseconds(argc > 5 ? std::atoi(argv[5]) : 20);
  const auto limit = std::chrono::seconds(argc > 6 ? std::atoi(argv[6]) : 900);

  MYSQL* mysql = mysql_init(nullptr);
  if (mysql == nullptr) return 1;
  mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "latin1");
  const unsigned protocol = target.host.empty() ? MYSQL_PROTOCOL_SOCKET : MYSQL_PROTOCOL_TCP;
  mysql_options(mysql, MYSQL_OPT_PROTOCOL, &protocol);
  if (mysql_real_connect(mysql, target.host.empty() ? "localhost" : target.host.c_str(), argv[2],
                         argv[3], "KVSYSTEM", target.port,
                         target.socket.empty() ? nullptr : target.socket.c_str(), 0) == nullptr) {
    std::fprintf(stderr, "time_clock: %u %s\n", mysql_errno(mysql), mysql_error(mysql));
    return 1;
  }
  mysql_autocommit(mysql, 1);

  std::vector<double> latencies;  // milliseconds
  std::map<unsigned, long> errors;
  const Clock::time_point start = Clock::now();
  Clock::time_point end = start + limit;  // no booking happens from here on
  for (long n = 0; start + n * interval < end; ++n) {
    const Clock::time_point happened = start + n * interval;
    std::this_thread::sleep_until(happened);
    if (Exists(stop_file)) end = std::min(end, Clock::now());
    const std::string insert = BookingInsert(n);
    const int failed = mysql_real_query(mysql, insert.data(), insert.size());
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - happened).count());
    if (failed != 0) ++errors[mysql_errno(mysql)];
  }
  mysql_close(mysql);

  std::sort(latencies.begin(), latencies.end());
  std::string error_text;
  for (const auto& [number, count] : errors) {
    error_text +=
        (error_text.empty() ? "" : ", ") + std::to_string(number) + " x" + std::to_string(count);
  }
  std::printf("%zu inserts, latency median %.2f ms, p99 %.2f ms, max %.2f ms, errors: %s\n",
              latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.99),
              latencies.empty() ? 0.0 : latencies.back(),
              error_text.empty() ? "none" : error_text.c_str());
  return 0;
}
