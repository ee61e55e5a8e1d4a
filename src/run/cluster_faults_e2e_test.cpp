// Faults of runs on a three-node Galera cluster (scripts/galera_cluster.sh):
// runs through any node, two hosts or one directory through two nodes at
// once, a node killed mid-run or right after COMMIT, a load balancer (a relay
// of the test's own) that loses the connection after COMMIT was answered or
// while it is in flight and fails over to another node, the next run
// resolving a dead run's record through another node, and a node leaving the
// primary component while COMMIT is underway. After each fault clean runs
// follow until one completes, and then every marked booking with a
// transferable code has exactly one whole line in the hosts' files, and no
// other booking has one. POSIX only; needs the cluster's environment.
#include <gtest/gtest.h>
#include <mysql.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test/program.h"
#include "test/settings_writer.h"
#include "test/tcp_relay.h"
#include "test/temp_dir.h"

namespace {

constexpr int kBookings = 3000;
constexpr int kNodes = 3;

using Rows = std::vector<std::vector<std::string>>;

std::string Env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : "";
}

std::string NodeEnv(int node, const char* what) {
  return Env("HALVORN_NODE" + std::to_string(node) + "_" + what);
}

int NodePort(int node) { return std::atoi(NodeEnv(node, "PORT").c_str()); }

bool WaitFor(const std::function<bool()>& condition, double seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

std::string Cluster(const std::string& command, int node = 0) {
  return std::string(HALVORN_SOURCE_DIR) + "/scripts/galera_cluster.sh " + command + " '" +
         Env("HALVORN_CLUSTER_DIR") + "'" + (node > 0 ? " " + std::to_string(node) : "") +
         " >/dev/null";
}

pid_t NodePid(int node) {
  const std::string path = Env("HALVORN_CLUSTER_DIR") + "/n" + std::to_string(node) + "/mysqld.pid";
  return static_cast<pid_t>(std::atoll(ReadFileBytes(path).c_str()));
}

// The node's server process is there and not a zombie (state Z in /proc).
bool NodeRunning(int node) {
  const pid_t pid = NodePid(node);
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  const std::string stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// One application host: its own tree with the protocol log two levels above
// the working directory, its own BEWDATA.dat and settings file.
struct Host {
  std::string cwd, settings, transfer, log, record;
};

class ClusterFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("HALVORN_CLUSTER_DIR").empty())
        << "no cluster: start it with scripts/galera_cluster.sh (scripts/cluster_test.sh does)";
    // A node that an earlier test killed or cut off comes back first.
    bool restarted = false;
    for (int node = 1; node <= kNodes; ++node) {
      if (!NodeRunning(node)) {
        ASSERT_EQ(std::system(Cluster("restart", node).c_str()), 0) << "node " << node;
        restarted = true;
      }
    }
    if (restarted || !Settled()) {
      ASSERT_EQ(std::system(Cluster("wait").c_str()), 0);
    }
    for (int node = 1; node <= kNodes; ++node) ASSERT_TRUE(Connect(node));
    Exec(1, "DROP TABLE IF EXISTS KVSYSTEM.KVS321BEW");
    Exec(1, ReadFileBytes(HALVORN_SOURCE_DIR "/sql/kvs321bew.sql"));
    Exec(1, "DELETE FROM KVSYSTEM.KVS321BEW_LAUF");
    for (const char* name : {"a", "b"}) {
      const std::string top = dir_.File(name);
      for (const char* sub : {"", "/Veltrano_php", "/Veltrano_php/log", "/app", "/app/bin"}) {
        ASSERT_EQ(mkdir((top + sub).c_str(), 0755), 0);
      }
      Host host{top + "/app/bin", top + "/app/Veltrano.ini", top + "/app/bin/BEWDATA.dat",
                top + "/Veltrano_php/log/Durnwell#Log.txt", top + "/app/bin/Halvorn_MySQL.lauf"};
      ASSERT_TRUE(WriteFileBytes(
          host.settings,
          AccountSettings(Env("HALVORN_DB_USER"), Env("HALVORN_DB_PASSWORD"), "127.0.0.1")));
      hosts_.push_back(host);
    }
  }

  void TearDown() override {
    for (long long pid : started_) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    }
    for (MYSQL*& admin : admin_) {
      if (admin != nullptr) mysql_close(admin);
      admin = nullptr;
    }
  }

  // root on node's socket, reading causally.
  bool Connect(int node) {
    MYSQL*& admin = admin_[node - 1];
    if (admin != nullptr) mysql_close(admin);
    admin = mysql_init(nullptr);
    mysql_options(admin, MYSQL_SET_CHARSET_NAME, "latin1");
    if (mysql_real_connect(admin, "localhost", "root", "", nullptr, 0,
                           NodeEnv(node, "SOCKET").c_str(), CLIENT_MULTI_STATEMENTS) == nullptr) {
      ADD_FAILURE() << "node " << node << ": " << mysql_error(admin);
      return false;
    }
    return mysql_query(admin, "SET SESSION wsrep_sync_wait = 1") == 0;
  }

  void Exec(int node, const std::string& sql) {
    MYSQL* admin = admin_[node - 1];
    ASSERT_EQ(mysql_real_query(admin, sql.data(), sql.size()), 0) << mysql_error(admin) << sql;
    do {
      MYSQL_RES* result = mysql_store_result(admin);
      if (result != nullptr) mysql_free_result(result);
    } while (mysql_next_result(admin) == 0);
    ASSERT_EQ(mysql_errno(admin), 0u) << mysql_error(admin) << sql;
  }

  Rows Query(int node, const std::string& sql) {
    Rows rows;
    MYSQL* admin = admin_[node - 1];
    if (mysql_real_query(admin, sql.data(), sql.size()) != 0) {
      ADD_FAILURE() << "node " << node << ": " << mysql_error(admin) << "\nin: " << sql;
      return rows;
    }
    MYSQL_RES* result = mysql_store_result(admin);
    if (result == nullptr) return rows;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
      std::vector<std::string> texts;
      for (unsigned i = 0; i < mysql_num_fields(result); ++i) texts.push_back(row[i] ? row[i] : "");
      rows.push_back(texts);
    }
    mysql_free_result(result);
    return rows;
  }

  std::string Value(int node, const std::string& sql) {
    const Rows rows = Query(node, sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0].back();
  }

  // Every node synced in one cluster of all three.
  bool Settled() {
    for (int node = 1; node <= kNodes; ++node) {
      if (!Connect(node) || Value(node, "SHOW STATUS LIKE 'wsrep_cluster_size'") != "3" ||
          Value(node, "SHOW STATUS LIKE 'wsrep_local_state_comment'") != "Synced") {
        return false;
      }
    }
    return true;
  }

  // count pending bookings from first, as in the single-server fault suite:
  // every seventh with a code that is marked without a line.
  void AddBookings(int first, int count = kBookings) {
    Exec(1,
         "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewLID, "
         "BewArt, BewEra, BewSrc, BewDat) SELECT LPAD(seq % 200, 5, '0'), 'ST1', "
         "DATE('2026-11-01') + INTERVAL seq % 20 DAY, "
         "TIMESTAMP(DATE('2026-11-01') + INTERVAL seq % 20 DAY) + INTERVAL seq SECOND, '1', "
         "CONCAT('T', seq), 'L1', 'K', IF(seq % 7 = 0, '205', '201'), 'DTA', NOW() "
         "FROM KVSYSTEM.seq_" +
             std::to_string(first) + "_to_" + std::to_string(first + count - 1));
    next_booking_ = first + count;
  }
  void AddBookings() { AddBookings(next_booking_); }

  ProgramSpec Spec(const Host& host, int port) {
    ProgramSpec spec;
    spec.path = HALVORN_PROGRAM;
    spec.args = {host.settings};
    spec.cwd = host.cwd;
    spec.env = {"MYSQL_TCP_PORT=" + std::to_string(port)};
    return spec;
  }

  RunningProgram Start(const Host& host, int port) {
    RunningProgram program = StartProgram(Spec(host, port));
    EXPECT_GE(program.pid, 0);
    started_.push_back(program.pid);
    return program;
  }

  // Clean runs through a node that is up until one completes, then the rule
  // over every host's file; no run record is left.
  void ExpectCleanRunsMakeItExactlyOnce() {
    int node = 1;
    while (!NodeRunning(node)) ++node;
    ASSERT_TRUE(Connect(node));
    int status = -1;
    for (int run = 0; run < 3 && status != 1; ++run) {
      status = RunProgram(Spec(hosts_[0], NodePort(node))).exit_status;
    }
    EXPECT_EQ(status, 1);
    std::map<std::string, int> lines;
    for (const Host& host : hosts_) {
      EXPECT_FALSE(FileExists(host.record)) << host.record;
      const std::string text = ReadFileBytes(host.transfer);
      if (!text.empty()) {
        EXPECT_EQ(text.back(), '\n') << "torn last line";
      }
      size_t begin = 0;
      while (begin < text.size()) {
        const size_t end = text.find('\n', begin);
        const std::string line = text.substr(begin, end - begin);
        std::vector<std::string> fields(1);
        for (char c : line) {
          if (c == ',') {
            fields.emplace_back();
          } else {
            fields.back() += c;
          }
        }
        EXPECT_EQ(fields.size(), 17u) << line;
        if (fields.size() == 17) ++lines[fields[5]];
        begin = end == std::string::npos ? text.size() : end + 1;
      }
    }
    int wrong = 0, duplicated = 0, lost = 0;
    for (const auto& booking :
         Query(node, "SELECT BewTID, IFNULL(BewUkz, 0), BewEra FROM KVSYSTEM.KVS321BEW")) {
      const bool marked = booking[1] == "4";
      const int expected = marked && booking[2] == "201" ? 1 : 0;
      const int found = lines[booking[0]];
      if (!marked || found != expected) ++wrong;
      if (found > expected) ++duplicated;
      if (found < expected) ++lost;
      lines.erase(booking[0]);
    }
    EXPECT_EQ(wrong, 0) << duplicated << " duplicated, " << lost << " lost";
    EXPECT_TRUE(lines.empty()) << lines.size() << " lines of no booking";
  }

  std::string Log(const Host& host) { return ReadFileBytes(host.log); }

  // The last line of the log that begins with prefix, up to its end.
  static std::string LogLine(const std::string& log, const std::string& prefix) {
    const size_t at = log.rfind(prefix);
    return at == std::string::npos ? "" : log.substr(at, log.find('\r', at) - at);
  }

  // Starts a killed node again; it rejoins by incremental state transfer.
  void RestartNode(int node) {
    ASSERT_EQ(std::system(Cluster("restart", node).c_str()), 0) << "node " << node;
    ASSERT_TRUE(Connect(node));
  }

  // What a trial came to, in the test's record (its XML output, in UTF-8:
  // the protocol's Windows-1252 letters are Latin-1 here).
  void Note(const std::string& what) {
    std::string utf8;
    for (unsigned char c : what) {
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else {
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    RecordProperty("trial" + std::to_string(notes_++), utf8);
  }

  // The exit status and the lines about the commit logged since the last look.
  std::string Outcome(int exit_status, const Host& host) {
    std::string what = "exit " + std::to_string(exit_status);
    const std::string log = Log(host);
    for (const char* line : {"Festschreiben fehlgeschlagen", "Markieren fehlgeschlagen",
                             "Festschreiben doch erfolgt", "Abgebrochene \xDC"}) {
      const size_t at = log.rfind(line);
      if (at != std::string::npos && at >= seen_[host.log]) what += "; " + LogLine(log, line);
    }
    seen_[host.log] = log.size();
    return what;
  }

  // Kills node outright and waits until it is gone.
  void KillNode(int node) {
    ASSERT_EQ(kill(NodePid(node), SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return !NodeRunning(node); }));
  }

  ScopedTempDir dir_;
  std::vector<Host> hosts_;
  MYSQL* admin_[kNodes] = {};
  std::vector<long long> started_;
  int next_booking_ = 1;
  int notes_ = 0;
  std::map<std::string, size_t> seen_;  // how much of each log Outcome has looked at
};

// A run through node 1 and nothing in its way.
TEST_F(ClusterFaultTest, OneRunThroughNodeOne) {
  for (int trial = 0; trial < 2; ++trial) {
    AddBookings();
    const int status = RunProgram(Spec(hosts_[0], NodePort(1))).exit_status;
    EXPECT_EQ(status, 1);
    Note(Outcome(status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// A run through node 1, the next at once through node 2, which applies node
// 1's commit a moment later: the next run reads causally.
TEST_F(ClusterFaultTest, NextRunAtOnceThroughAnotherNode) {
  for (int trial = 0; trial < 3; ++trial) {
    AddBookings();
    EXPECT_EQ(RunProgram(Spec(hosts_[0], NodePort(1))).exit_status, 1);
    const ProgramResult next = RunProgram(Spec(hosts_[0], NodePort(2)));
    EXPECT_EQ(next.exit_status, 1);
    EXPECT_NE(Log(hosts_[0]).rfind("Anzahl \xFC"
                                   "bergebener Buchungen : 0\r\n"),
              std::string::npos);
    Note(Outcome(next.exit_status, hosts_[0]) + "; " +
         LogLine(Log(hosts_[0]),
                 "Anzahl \xFC"
                 "bergebener"));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// Two hosts at once, one through node 1, one through node 2, both selecting
// the same bookings: the cluster takes the first COMMIT and refuses the
// other run's (or aborts its markings), and that run takes its lines back.
// Started together; the first held halfway while the second commits; both
// halfway and then both on, without and with a primary key on the table.
TEST_F(ClusterFaultTest, TwoHostsAtOnceThroughTwoNodes) {
  for (int trial = 0; trial < 4; ++trial) {
    SCOPED_TRACE(trial);
    if (trial == 3) {
      Exec(1, "ALTER TABLE KVSYSTEM.KVS321BEW ADD BewNr INT AUTO_INCREMENT PRIMARY KEY FIRST");
    }
    AddBookings();
    const long long base_a = std::max(FileSize(hosts_[0].transfer), 0LL);
    const long long base_b = std::max(FileSize(hosts_[1].transfer), 0LL);
    RunningProgram a = Start(hosts_[0], NodePort(1));
    if (trial > 0) {
      ASSERT_TRUE(WaitFor([&] { return FileSize(hosts_[0].transfer) > base_a + kBookings * 20; }));
      kill(static_cast<pid_t>(a.pid), SIGSTOP);
    }
    RunningProgram b = Start(hosts_[1], NodePort(2));
    if (trial >= 2) {
      ASSERT_TRUE(WaitFor([&] { return FileSize(hosts_[1].transfer) > base_b + kBookings * 20; }));
    }
    int status_b = trial == 1 ? FinishProgram(b).exit_status : -1;
    kill(static_cast<pid_t>(a.pid), SIGCONT);
    const int status_a = FinishProgram(a).exit_status;
    if (trial != 1) status_b = FinishProgram(b).exit_status;
    EXPECT_TRUE(status_a + status_b == 1 || (status_a == 1 && status_b == 1))
        << status_a << " " << status_b;
    if (trial > 0) {
      EXPECT_EQ(status_a + status_b, 1) << "both selected the same bookings";
    }
    for (const Host& host : hosts_) {
      EXPECT_EQ(Log(host).find("Festschreiben doch erfolgt"), std::string::npos);
    }
    Note("A " + Outcome(status_a, hosts_[0]) + " | B " + Outcome(status_b, hosts_[1]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// Two runs of one directory, through node 1 and node 2, whose named locks
// know nothing of each other: the directory's lock file keeps the second out,
// whether the first has just begun or is halfway.
TEST_F(ClusterFaultTest, OneDirectoryThroughTwoNodes) {
  for (double fraction : {0.0, 0.5}) {
    SCOPED_TRACE(fraction);
    AddBookings();
    const long long base = std::max(FileSize(hosts_[0].transfer), 0LL);
    RunningProgram first = Start(hosts_[0], NodePort(1));
    ASSERT_TRUE(WaitFor([&] {
      return fraction == 0
                 ? Value(1, "SELECT IS_USED_LOCK('KVSYSTEM.KVS321BEW') IS NOT NULL") == "1"
                 : FileSize(hosts_[0].transfer) > base + kBookings * 20;
    }));
    kill(static_cast<pid_t>(first.pid), SIGSTOP);
    const ProgramResult second = RunProgram(Spec(hosts_[0], NodePort(2)));
    EXPECT_EQ(second.exit_status, 95);
    EXPECT_EQ(second.out, "Uebergabe laeuft bereits\n");
    kill(static_cast<pid_t>(first.pid), SIGCONT);
    const int status = FinishProgram(first).exit_status;
    EXPECT_EQ(status, 1);
    Note("second " + std::to_string(second.exit_status) + ", first " + Outcome(status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// The run's node killed in the middle of the loop: the run loses its
// transaction and takes its lines back; the other nodes carry on.
TEST_F(ClusterFaultTest, NodeKilledMidRun) {
  for (int node : {1, 2}) {
    SCOPED_TRACE(node);
    AddBookings();
    const long long base = std::max(FileSize(hosts_[0].transfer), 0LL);
    RunningProgram program = Start(hosts_[0], NodePort(node));
    ASSERT_TRUE(WaitFor([&] { return FileSize(hosts_[0].transfer) > base + kBookings * 15; }));
    kill(static_cast<pid_t>(program.pid), SIGSTOP);
    KillNode(node);
    kill(static_cast<pid_t>(program.pid), SIGCONT);
    const int status = FinishProgram(program).exit_status;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(FileSize(hosts_[0].transfer), base);
    Note(Outcome(status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
    RestartNode(node);
  }
}

// The load balancer loses the connection after node 1 answered COMMIT OK and
// sends the new connection to node 2: the run finds its own token there.
TEST_F(ClusterFaultTest, CommitAnsweredThenFailoverToAnotherNode) {
  for (int trial = 0; trial < 3; ++trial) {
    AddBookings();
    TcpRelay relay({NodePort(1), NodePort(2)}, TcpRelay::kCutAfterAnswer);
    const ProgramResult run = RunProgram(Spec(hosts_[0], relay.port()));
    EXPECT_TRUE(relay.cut());
    EXPECT_EQ(relay.connections(), 2);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(Log(hosts_[0]).find("Festschreiben doch erfolgt\r\n"), std::string::npos);
    Note(Outcome(run.exit_status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// The connection lost while COMMIT is still on its way: it reaches node 1 as
// the connection drops, 300 ms later, or only once the run has ended. When
// the question through node 2 commits first (it writes the token itself),
// node 1's COMMIT fails; when the COMMIT is in the cluster's order first, the
// question finds the token.
TEST_F(ClusterFaultTest, CommitInFlightThenFailoverToAnotherNode) {
  for (int release_after_ms : {0, 300, -1}) {  // 0: as it drops; -1: once the run has ended
    SCOPED_TRACE(release_after_ms);
    AddBookings();
    auto relay = std::make_unique<TcpRelay>(
        std::vector<int>{NodePort(1), NodePort(2)},
        release_after_ms == 0 ? TcpRelay::kCutAfterCommit : TcpRelay::kCutAndHold);
    RunningProgram program = Start(hosts_[0], relay->port());
    if (release_after_ms > 0) {
      ASSERT_TRUE(WaitFor([&] { return relay->cut(); }, 60));
      std::this_thread::sleep_for(std::chrono::milliseconds(release_after_ms));
      relay->ReleaseCommit();
    }
    const ProgramResult run = FinishProgram(program);
    relay->ReleaseCommit();
    relay.reset();  // waits for node 1's answer to a late COMMIT
    const bool committed =
        Value(2, "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL") == "0";
    EXPECT_EQ(run.exit_status, committed ? 1 : 0);
    EXPECT_EQ(Log(hosts_[0]).find("Ob festgeschrieben wurde"), std::string::npos);
    Note("COMMIT at " + std::to_string(release_after_ms) +
         " ms: " + Outcome(run.exit_status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// Node 1 killed 0 to 50 ms after the run's COMMIT reached it, the new
// connection going to node 2: the run asks once the cluster has evicted node
// 1, or had its answer before.
TEST_F(ClusterFaultTest, NodeKilledRightAfterCommit) {
  for (int delay_ms : {0, 20, 50}) {
    SCOPED_TRACE(delay_ms);
    AddBookings();
    TcpRelay relay({NodePort(1), NodePort(2)}, TcpRelay::kPassCommit, [delay_ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      kill(NodePid(1), SIGKILL);
    });
    const ProgramResult run = RunProgram(Spec(hosts_[0], relay.port()));
    ASSERT_TRUE(WaitFor([&] { return !NodeRunning(1); }));
    EXPECT_TRUE(run.exit_status == 0 || run.exit_status == 1) << run.exit_status;
    EXPECT_EQ(Log(hosts_[0]).find("Ob festgeschrieben wurde"), std::string::npos);
    Note("killed after " + std::to_string(delay_ms) +
         " ms: " + Outcome(run.exit_status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
    // Back with its recovered position, node 1 must agree with the others.
    RestartNode(1);
    EXPECT_EQ(Query(1, "SELECT COUNT(*), SUM(BewUkz = 4) FROM KVSYSTEM.KVS321BEW"),
              Query(2, "SELECT COUNT(*), SUM(BewUkz = 4) FROM KVSYSTEM.KVS321BEW"));
  }
}

// Node 1 committed, and the program is killed before it hears so; the next
// run, at once through node 2, which may not have applied that commit yet,
// resolves the run record by its token.
TEST_F(ClusterFaultTest, NextRunResolvesTheRecordThroughAnotherNode) {
  for (int trial = 0; trial < 3; ++trial) {
    AddBookings();
    std::atomic<pid_t> pid{0};
    TcpRelay relay({NodePort(1)}, TcpRelay::kCutAfterAnswer, [&pid] { kill(pid, SIGKILL); });
    RunningProgram program = Start(hosts_[0], relay.port());
    pid = static_cast<pid_t>(program.pid);
    FinishProgram(program);
    ASSERT_TRUE(relay.cut());
    EXPECT_TRUE(FileExists(hosts_[0].record));
    const int status = RunProgram(Spec(hosts_[0], NodePort(2))).exit_status;
    EXPECT_EQ(status, 1);
    EXPECT_NE(Log(hosts_[0]).find("Abgebrochene \xDC"
                                  "bergabe war festgeschrieben"),
              std::string::npos);
    Note("next run " + Outcome(status, hosts_[0]));
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

// Node 1 cut off from the others while the run's COMMIT waits in the relay:
// it leaves the primary component and refuses the COMMIT, and the run takes
// its lines back.
TEST_F(ClusterFaultTest, CommitRefusedByANodeOutsideThePrimaryComponent) {
  for (bool wait_for_the_view : {true, false}) {
    SCOPED_TRACE(wait_for_the_view);
    AddBookings();
    const long long base = std::max(FileSize(hosts_[0].transfer), 0LL);
    TcpRelay relay({NodePort(1)}, TcpRelay::kHoldCommit);
    RunningProgram program = Start(hosts_[0], relay.port());
    ASSERT_TRUE(WaitFor([&] { return relay.cut(); }, 60));
    Exec(1, "SET GLOBAL wsrep_provider_options = 'gmcast.isolate=1'");
    if (wait_for_the_view) {
      EXPECT_TRUE(WaitFor(
          [&] { return Value(1, "SHOW STATUS LIKE 'wsrep_cluster_status'") == "non-Primary"; }));
    }
    relay.ReleaseCommit();
    const ProgramResult run = FinishProgram(program);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(FileSize(hosts_[0].transfer), base);
    EXPECT_NE(Log(hosts_[0]).rfind("Festschreiben fehlgeschlagen"), std::string::npos);
    Note(std::string(wait_for_the_view ? "outside the primary component: " : "while leaving: ") +
         Outcome(run.exit_status, hosts_[0]));
    Exec(1, "SET GLOBAL wsrep_provider_options = 'gmcast.isolate=0'");
    ASSERT_EQ(std::system(Cluster("wait").c_str()), 0);
    ExpectCleanRunsMakeItExactlyOnce();
  }
}

}  // namespace
