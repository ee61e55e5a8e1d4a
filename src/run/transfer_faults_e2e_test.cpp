// Faults during a run, made with real mechanisms: the program killed at
// several points, the server killed and restarted, the run's connection
// killed, overlapping runs, a deadlock, a lock wait timeout, a refused
// marking, a file size limit. After each fault one clean run follows, and
// then every exported booking that is marked has exactly one whole line in
// BEWDATA.dat and no pending booking has one. POSIX only: the faults use
// signals and resource limits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "db/connect_options.h"
#include "platform/platform.h"
#include "run/run_guard.h"
#include "test/run_tree.h"
#include "test/tcp_relay.h"

namespace {

constexpr int kBookings = 3000;

// strace, whose fault injection fails a chosen system call of the program.
constexpr char kStrace[] = "/usr/bin/strace";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Waits up to seconds for condition; returns whether it came true.
bool WaitFor(const std::function<bool()>& condition, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int TestDbPort() { return std::atoi(Env("HALVORN_DB_PORT").c_str()); }

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

class TransferFaultTest : public RunTreeTest {
 protected:
  void SetUp() override {
    RunTreeTest::SetUp();
    if (HasFatalFailure()) return;
    AddBookings(1, kBookings);
  }

  void TearDown() override {
    // A program that a failed check left behind would hold the table.
    for (long long pid : started_) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    }
    DatabaseTest::TearDown();
  }

  // Adds count pending bookings, numbered from first: badges 0 to 199, every
  // seventh with a code that is not transferred (marked without a line).
  // Bookings are told apart by BewTID, "T" and the number.
  void AddBookings(int first, int count) {
    Exec(
        "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewLID, "
        "BewArt, BewEra, BewSrc, BewDat) SELECT LPAD(seq % 200, 5, '0'), 'ST1', "
        "DATE('2026-11-01') + INTERVAL seq % 20 DAY, "
        "TIMESTAMP(DATE('2026-11-01') + INTERVAL seq % 20 DAY) + INTERVAL seq SECOND, '1', "
        "CONCAT('T', seq), 'L1', 'K', IF(seq % 7 = 0, '205', '201'), 'DTA', NOW() "
        "FROM KVSYSTEM.seq_" +
        std::to_string(first) + "_to_" + std::to_string(first + count - 1));
  }

  RunningProgram Start(std::vector<std::string> env = {}) {
    ProgramSpec spec = Spec({settings_});
    spec.env = std::move(env);
    RunningProgram program = StartProgram(spec);
    EXPECT_GE(program.pid, 0);
    started_.push_back(program.pid);
    return program;
  }

  // Stops the program where it is, so that the fault strikes at that point.
  static void Stop(const RunningProgram& program) {
    kill(static_cast<pid_t>(program.pid), SIGSTOP);
  }
  static void Continue(const RunningProgram& program) {
    kill(static_cast<pid_t>(program.pid), SIGCONT);
  }

  ProgramResult KillAndCollect(RunningProgram& program) {
    KillProgram(program);
    return FinishProgram(program);
  }

  // The run's own connection on the server: the one holding the run guard.
  std::string RunConnection() {
    const Rows rows = Query("SELECT IFNULL(IS_USED_LOCK('KVSYSTEM.KVS321BEW'), 0)");
    return rows.empty() ? "0" : rows[0][0];
  }

  // True while the run purges: the slow purge trigger sleeps.
  bool Purging() {
    const Rows rows =
        Query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE STATE = 'User sleep'");
    return !rows.empty() && rows[0][0] != "0";
  }

  // How much a run of kBookings adds to the file once it has written lines
  // for about fraction of them (a line has some 50 bytes).
  static long long After(double fraction) {
    return static_cast<long long>(fraction * kBookings * 6 / 7 * 50);
  }

  // One clean run, then the rule: every booking with a transferable code is
  // marked and has exactly one whole line (in BEWDATA.dat or in files the
  // receiving system took), the others have none, and no run record is left.
  void ExpectCleanRunMakesItExactlyOnce(const std::vector<std::string>& taken = {}) {
    const ProgramResult clean = Run({settings_});
    EXPECT_EQ(clean.exit_status, 1) << clean.out;
    EXPECT_FALSE(FileExists(cwd_ + "/Halvorn_MySQL.lauf"));

    std::map<std::string, int> lines;
    for (const std::string& name : taken) AddLines(ReadFileBytes(name), lines);
    AddLines(ReadFileBytes(transfer_), lines);
    const Rows bookings = Query("SELECT BewTID, IFNULL(BewUkz, 0), BewEra FROM KVSYSTEM.KVS321BEW");
    ASSERT_GE(bookings.size(), static_cast<size_t>(kBookings));
    EXPECT_LE(lines["earlier"], 1);
    lines.erase("earlier");
    int wrong = 0;
    for (const auto& booking : bookings) {
      const bool marked = booking[1] == "4";
      const bool transferable = booking[2] == "201";
      const int expected = marked && transferable ? 1 : 0;
      if (!marked || lines[booking[0]] != expected) {
        if (++wrong <= 5) {
          ADD_FAILURE() << booking[0] << ": marked " << marked << ", transferable " << transferable
                        << ", lines " << lines[booking[0]];
        }
      }
      lines.erase(booking[0]);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(lines.empty()) << lines.size() << " lines of no booking, e.g. "
                               << (lines.empty() ? "" : lines.begin()->first);
  }

  // Counts the lines of text by booking (BewTID, the sixth field); a torn
  // line, or one of the wrong shape, fails the test.
  static void AddLines(const std::string& text, std::map<std::string, int>& lines) {
    if (!text.empty()) {
      EXPECT_EQ(text.back(), '\n') << "torn last line";
    }
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(begin, end - begin);
      std::vector<std::string> fields(1);
      for (char c : line) {
        if (c == ',') {
          fields.emplace_back();
        } else {
          fields.back() += c;
        }
      }
      EXPECT_EQ(fields.size(), 17u) << "line of the wrong shape: " << line;
      if (fields.size() == 17) ++lines[fields[5]];
      begin = end + 1;
    }
  }

  // A line of an earlier run, in the transfer line's shape.
  static constexpr char kEarlierLine[] = "E,,,,,earlier,,,,,,,,,,,\n";

  // What a run leaves: its exit status, BEWDATA.dat, the protocol log and the
  // console (server times masked), and the table's marks.
  std::string RunOutcome(const ProgramResult& run) {
    std::string outcome = "exit " + std::to_string(run.exit_status) + "\n== BEWDATA.dat\n" +
                          Transfer() + "== log\n" + Log() + "== console\n" +
                          MaskServerTime(run.out) + "\n== table\n";
    for (const auto& row : Query("SELECT BewTID, IFNULL(BewUkz, 'NULL'), BewUdt IS NOT NULL "
                                 "FROM KVSYSTEM.KVS321BEW ORDER BY BewTID")) {
      outcome += row[0] + " " + row[1] + " " + row[2] + "\n";
    }
    return outcome;
  }

  std::vector<long long> started_;
};

// kill -9 after the first lines and in the middle of the loop.
TEST_F(TransferFaultTest, ProgramKilledWhileWriting) {
  ASSERT_TRUE(WriteFileBytes(transfer_, kEarlierLine));
  for (double fraction : {0.0, 0.5}) {
    SCOPED_TRACE(fraction);
    if (fraction > 0) AddBookings(kBookings + 1, kBookings);
    const long long base = FileSize(transfer_);
    RunningProgram program = Start();
    const bool reached = WaitFor([&] { return FileSize(transfer_) > base + After(fraction); });
    Stop(program);
    EXPECT_TRUE(reached);
    KillAndCollect(program);
    EXPECT_TRUE(FileExists(record_));
    ExpectCleanRunMakesItExactlyOnce();
    EXPECT_EQ(ReadFileBytes(transfer_).substr(0, sizeof kEarlierLine - 1), kEarlierLine);
  }
}

// The run stopped once it has flushed the file and sent its COMMIT, which the
// server holds back (a backup stage that blocks commits) until the fault has
// struck: the program killed, so the COMMIT goes through without it; or the
// run's connection killed, so it does not. Either way the file follows.
TEST_F(TransferFaultTest, FaultWhileCommitting) {
  for (bool kill_program : {true, false}) {
    SCOPED_TRACE(kill_program);
    if (!kill_program) AddBookings(kBookings + 1, kBookings);
    const long long base = FileSize(transfer_);
    Exec("BACKUP STAGE START");
    Exec("BACKUP STAGE BLOCK_COMMIT");
    RunningProgram program = Start();
    ASSERT_TRUE(WaitFor([&] {
      return Query(
                 "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO = 'COMMIT'")[0]
                                                                                             [0] ==
             "1";
    }));
    EXPECT_NE(ReadFileBytes(record_).find("phase=festschreiben"), std::string::npos);
    EXPECT_GT(FileSize(transfer_), base);
    if (kill_program) {
      Stop(program);
      KillAndCollect(program);
      Exec("BACKUP STAGE END");
      EXPECT_TRUE(FileExists(record_));
    } else {
      Exec("KILL CONNECTION " + RunConnection());
      Exec("BACKUP STAGE END");
      const ProgramResult run = FinishProgram(program);
      const bool committed =
          Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")[0][0] == "0";
      EXPECT_EQ(run.exit_status, committed ? 1 : 0);
      EXPECT_EQ(FileSize(transfer_) > base, committed);
      EXPECT_FALSE(FileExists(record_));
    }
    ExpectCleanRunMakesItExactlyOnce();
  }
}

// Two runs at once: the second finds the guard taken, says so and touches
// nothing, whether the first has just begun or is halfway.
TEST_F(TransferFaultTest, OverlappingRunsExportOnce) {
  RunningProgram first = Start();
  ASSERT_TRUE(WaitFor(
      [&] { return Query("SELECT IS_USED_LOCK('KVSYSTEM.KVS321BEW') IS NOT NULL")[0][0] == "1"; }));
  Stop(first);
  const ProgramResult second = Run({settings_});
  EXPECT_EQ(second.exit_status, 95);
  EXPECT_EQ(second.out, "Uebergabe laeuft bereits\n");
  EXPECT_NE(Log().find(LogOf({kLogStarted, "\334bergabe l\344uft bereits", kLogEnded})),
            std::string::npos);
  Continue(first);
  EXPECT_EQ(FinishProgram(first).exit_status, 1);

  AddBookings(kBookings + 1, kBookings);
  const long long base = FileSize(transfer_);
  RunningProgram third = Start();
  ASSERT_TRUE(WaitFor([&] { return FileSize(transfer_) > base + After(0.5); }));
  Stop(third);
  EXPECT_EQ(Run({settings_}).exit_status, 95);
  Continue(third);
  EXPECT_EQ(FinishProgram(third).exit_status, 1);
  ExpectCleanRunMakesItExactlyOnce();
}

// The server killed in the middle of the loop and started again: the run ends
// without a commit and takes its lines back.
TEST_F(TransferFaultTest, ServerKilledAndRestartedMidRun) {
  const std::string data_dir =
      Env("HALVORN_DB_SOCKET").substr(0, Env("HALVORN_DB_SOCKET").find_last_of('/'));
  // Killed outright, and shut down cleanly.
  for (int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signal);
    if (signal == SIGTERM) AddBookings(kBookings + 1, kBookings);
    const long long base = FileSize(transfer_);
    const pid_t server =
        static_cast<pid_t>(std::atoll(ReadFileBytes(data_dir + "/mysqld.pid").c_str()));
    ASSERT_GT(server, 0);
    RunningProgram program = Start();
    ASSERT_TRUE(WaitFor([&] { return FileSize(transfer_) > base + After(0.3); }));
    Stop(program);
    ASSERT_EQ(kill(server, signal), 0);
    Continue(program);
    const ProgramResult run = FinishProgram(program);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(FileSize(transfer_), std::max(base, 0LL));
    const std::string log = Log();
    EXPECT_NE(log.rfind("Markieren fehlgeschlagen, Fehler: "), std::string::npos);
    EXPECT_NE(
        log.rfind(LogOf(
            {"\334bergabedatei auf den Stand vor der \334bergabe zur\374ckgesetzt", kLogEnded})),
        std::string::npos);

    ASSERT_TRUE(WaitFor([&] { return kill(server, 0) != 0; }, 60));
    const std::string restart = std::string(HALVORN_SOURCE_DIR) + "/scripts/db_server.sh start '" +
                                data_dir + "' " + Env("HALVORN_DB_PORT") + " >/dev/null";
    ASSERT_EQ(std::system(restart.c_str()), 0);
    mysql_close(admin_);
    admin_ = mysql_init(nullptr);
    mysql_options(admin_, MYSQL_SET_CHARSET_NAME, "latin1");
    ASSERT_NE(mysql_real_connect(admin_, "localhost", "root", "", nullptr, 0,
                                 Env("HALVORN_DB_SOCKET").c_str(), CLIENT_MULTI_STATEMENTS),
              nullptr)
        << mysql_error(admin_);
    ExpectCleanRunMakesItExactlyOnce();
  }
}

// The run's connection killed while it purges, before its COMMIT: the run
// takes its lines back. When the receiving system took the file away in the
// meantime, its lines went with it while the database forgot their
// markings: the next run exports those bookings again (a receiver takes the
// file between runs, holding the guard).
TEST_F(TransferFaultTest, ConnectionKilledBeforeTheCommit) {
  Exec(
      "CREATE TRIGGER KVSYSTEM.SLOW_PURGE BEFORE DELETE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "SET @pause = SLEEP(1)");
  for (bool taken_away : {false, true}) {
    SCOPED_TRACE(taken_away);
    Exec(
        "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewTID, BewUkz, BewDat) "
        "VALUES ('old', 'X', 4, NOW() - INTERVAL 4 MONTH)");
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    RunningProgram program = Start();
    ASSERT_TRUE(WaitFor([&] { return Purging(); }));
    if (taken_away) {
      ASSERT_EQ(rename(transfer_.c_str(), (cwd_ + "/taken.dat").c_str()), 0);
    }
    Exec("KILL CONNECTION " + RunConnection());
    const ProgramResult run = FinishProgram(program);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(FileExists(transfer_), !taken_away);
    EXPECT_TRUE(Transfer().empty());
    const std::string log = Log();
    EXPECT_NE(log.find("L\366schen fehlgeschlagen, Fehler: "), std::string::npos);
    EXPECT_NE(log.find(LogOf({taken_away ? "\334bergabedatei inzwischen abgeholt, ihre Zeilen "
                                           "gelten als \374bergeben"
                                         : "\334bergabedatei auf den Stand vor der \334bergabe "
                                           "zur\374ckgesetzt",
                              kLogEnded})),
              std::string::npos)
        << log;
    EXPECT_FALSE(FileExists(record_));
    Exec("DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID = 'X'");
  }
  Exec("DROP TRIGGER KVSYSTEM.SLOW_PURGE");
  ExpectCleanRunMakesItExactlyOnce();
}

// The run chosen as deadlock victim: its whole transaction is gone, so it
// writes no further line, commits nothing and takes its lines back.
TEST_F(TransferFaultTest, DeadlockVictimTakesItsLinesBack) {
  // A heavier transaction than the run's (many new rows), holding a booking
  // the run reaches late.
  Exec("START TRANSACTION");
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewTID, BewUkz) SELECT 'zz', CONCAT('H', seq), 4 "
      "FROM KVSYSTEM.seq_1_to_20000");
  Exec("SELECT * FROM KVSYSTEM.KVS321BEW WHERE BewIDN = '00150' FOR UPDATE");
  RunningProgram program = Start();
  // The run waits for that booking: one of its markings takes a second.
  ASSERT_TRUE(WaitFor([&] {
    return Query(
               "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE "
               "'UPDATE%' AND TIME >= 1")[0][0] == "1";
  }));
  // Now wait for a booking the run has marked: a deadlock, and the run is lighter.
  Exec("UPDATE KVSYSTEM.KVS321BEW SET BewRes = 'x' WHERE BewIDN = '00001'");
  Exec("ROLLBACK");
  const ProgramResult run = FinishProgram(program);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(ReadFileBytes(transfer_).empty());
  EXPECT_NE(Log().find("Markieren fehlgeschlagen, Fehler: 1213, "), std::string::npos);
  ExpectCleanRunMakesItExactlyOnce();
}

// A lock wait timeout and a trigger's refusal each cost one marking only:
// that booking loses its line and stays pending, the rest is committed.
TEST_F(TransferFaultTest, MarkingsThatFailAloneTakeOnlyTheirOwnLine) {
  Exec("SET GLOBAL innodb_lock_wait_timeout = 1");
  Exec(
      "CREATE TRIGGER KVSYSTEM.REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewTID = 'T100' AND @refuse = 1 THEN "
      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  Exec("SET GLOBAL init_connect = 'SET @refuse = 1'");
  // Booking 2000 alone, found through the row keys.
  Exec("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED");
  Exec("START TRANSACTION");
  Exec(
      "SELECT * FROM KVSYSTEM.KVS321BEW WHERE BewIDN = '00000' AND BewSto = 'ST1' AND "
      "BewDtm = '2026-11-01' AND BewUhr = '2026-11-01 00:33:20' FOR UPDATE");
  const ProgramResult run = Run({settings_});
  Exec("ROLLBACK");
  Exec("SET GLOBAL init_connect = ''");
  Exec("SET GLOBAL innodb_lock_wait_timeout = 50");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Query("SELECT BewTID FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL ORDER BY BewTID"),
            (Rows{{"T100"}, {"T2000"}}));
  const std::string file = ReadFileBytes(transfer_);
  EXPECT_EQ(file.find(",T100,"), std::string::npos);
  EXPECT_EQ(file.find(",T2000,"), std::string::npos);
  ExpectCleanRunMakesItExactlyOnce();
}

// A batch marked by the list of its keys leaves the same bytes as its
// bookings marked one at a time (BewUhr a DATETIME(6), which keeps every
// marking to its own statement): with every marking going through, and with
// a trigger refusing a booking in the middle of the first batch.
TEST_F(TransferFaultTest, ListOfKeysLeavesTheBytesOfOneBookingAtATime) {
  Exec(
      "CREATE TRIGGER KVSYSTEM.REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewTID = 'T100' AND @refuse = 1 THEN "
      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  const char kUpdates[] = "SHOW GLOBAL STATUS LIKE 'Com_update'";
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refusal" : "all marked");
    Exec(std::string("SET GLOBAL init_connect = 'SET @refuse = ") + (refuse ? "1'" : "0'"));
    std::string outcome[2];
    long long updates[2];
    for (int alone = 0; alone < 2; ++alone) {
      Exec("DELETE FROM KVSYSTEM.KVS321BEW");
      Exec(std::string("ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewUhr ") +
           (alone ? "DATETIME(6)" : "DATETIME"));
      AddBookings(1, kBookings);
      for (const std::string& file : {transfer_, log_}) std::remove(file.c_str());
      const long long before = std::stoll(Query(kUpdates)[0][1]);
      const ProgramResult run = Run({settings_, "/D"});
      updates[alone] = std::stoll(Query(kUpdates)[0][1]) - before;
      outcome[alone] = RunOutcome(run);
      EXPECT_EQ(run.exit_status, 1) << run.out;
    }
    EXPECT_EQ(outcome[0], outcome[1]);
    // One booking at a time: one UPDATE each; by the list far fewer.
    EXPECT_GE(updates[1], kBookings);
    EXPECT_LT(updates[0], kBookings / 4);
  }
  Exec("SET GLOBAL init_connect = ''");
}

// The program with args, started as base says, under strace, whose fault
// injection makes the calls on path fail as inject says (-e inject=).
ProgramSpec UnderStrace(const std::string& path, const std::string& inject,
                        const std::vector<std::string>& args, const ProgramSpec& base) {
  ProgramSpec spec = base;
  spec.path = kStrace;
  spec.args = {"-f", "-o", "/dev/null", "-P", path, "-einject=" + inject, HALVORN_PROGRAM};
  spec.args.insert(spec.args.end(), args.begin(), args.end());
  // LeakSanitizer cannot work under ptrace; every other test checks for leaks.
  spec.env = {"ASAN_OPTIONS=" + Env("ASAN_OPTIONS") + ":detect_leaks=0"};
  return spec;
}

// One system call of the real program fails, made to by strace from outside
// (its fault injection, on the calls that touch one path): the run record
// cannot be written before the first line; BEWDATA.dat cannot be flushed
// before the commit, once, or every time, so that not even the take-back
// holds; a refused marking's line cannot be cut back out of the file. Each
// says so, ends the run with 90 and commits nothing; what the take-back could
// not do, the next run does.
TEST_F(TransferFaultTest, FailingSystemCalls) {
  ASSERT_TRUE(FileExists(kStrace)) << "strace is missing: scripts/install_deps.sh installs it";
  Exec(
      "CREATE TRIGGER KVSYSTEM.REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewTID = 'T100' AND @refuse = 1 THEN "
      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  const std::string not_written = "Schreiben in Zieldatei fehlgeschlagen";
  const std::string taken_back =
      "\334bergabedatei auf den Stand vor der \334bergabe zur\374ckgesetzt";
  const std::string left =
      "\334bergabedatei kann nicht zur\374ckgesetzt werden, die n\344chste \334bergabe holt es "
      "nach";
  const std::string put_right =
      "Abgebrochene \334bergabe: \334bergabedatei auf den Stand vor ihr zur\374ckgesetzt";
  // The program is given absolute paths, the form strace's -P matches.
  struct Case {
    const char* name;
    std::string path;               // the calls on this path fail
    const char* inject;             // strace's -e inject=
    bool refuse;                    // a trigger refuses the marking of T100
    bool left;                      // the take-back fails too: the next run puts it right
    std::vector<std::string> tail;  // the protocol's last texts
  };
  const Case cases[] = {
      {"run record", record_ + ".neu", "rename:error=EIO", false, false, {not_written, kLogEnded}},
      {"flush", transfer_, "fsync:error=EIO:when=1", false, false, {taken_back, kLogEnded}},
      {"flush and take-back", transfer_, "fsync:error=EIO", false, true, {left, kLogEnded}},
      {"refusal", transfer_, "truncate:error=EIO:when=1", true, false, {taken_back, kLogEnded}},
      // The directory's flushes: before the run record, and with the flush
      // before the commit (its fourth).
      {"directory", cwd_, "fsync:error=EIO:when=1", false, false, {not_written, kLogEnded}},
      {"directory at the commit",
       cwd_,
       "fsync:error=EIO:when=4",
       false,
       false,
       {taken_back, kLogEnded}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("DELETE FROM KVSYSTEM.KVS321BEW");
    AddBookings(1, kBookings);
    ASSERT_TRUE(WriteFileBytes(transfer_, kEarlierLine));
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    if (c.refuse) Exec("SET GLOBAL init_connect = 'SET @refuse = 1'");
    const ProgramResult run =
        RunProgram(UnderStrace(c.path, c.inject, {settings_, cwd_, "/D"}, Spec({})));
    if (c.refuse) Exec("SET GLOBAL init_connect = ''");
    EXPECT_EQ(run.exit_status, 90);
    EXPECT_NE(run.out.find("Schreiben in Zieldatei fehlgeschlagen\n"), std::string::npos);
    EXPECT_NE(Log().find(LogOf({not_written})), std::string::npos);
    ExpectLogEndsWith(LogOf(c.tail));
    EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz = 4"), (Rows{{"0"}}));
    EXPECT_EQ(FileExists(record_), c.left);
    if (!c.left) {
      EXPECT_EQ(Transfer(), kEarlierLine);
    }

    ExpectCleanRunMakesItExactlyOnce();
    EXPECT_EQ(Transfer().substr(0, sizeof kEarlierLine - 1), kEarlierLine);
    if (c.left) {
      EXPECT_NE(Log().find(LogOf({kLogServerTime, put_right})), std::string::npos);
    }
  }
}

// A file system that cannot flush a directory at all (fsync answers EINVAL)
// is said once, and the run goes on.
TEST_F(TransferFaultTest, DirectoryThatCannotBeFlushedIsSaidOnce) {
  ASSERT_TRUE(FileExists(kStrace)) << "strace is missing: scripts/install_deps.sh installs it";
  const ProgramResult run =
      RunProgram(UnderStrace(cwd_, "fsync:error=EINVAL", {settings_, cwd_}, Spec({})));
  EXPECT_EQ(run.exit_status, 1);
  const std::string said =
      LogOf({"Verzeichnis der \334bergabedatei kann nicht auf den "
             "Datentr\344ger geschrieben werden (vom Dateisystem nicht "
             "unterst\374tzt)"});
  const std::string log = Log();
  ASSERT_NE(log.find(said), std::string::npos) << log;
  EXPECT_EQ(log.find(said, log.find(said) + 1), std::string::npos);
  EXPECT_FALSE(FileExists(record_));
  ExpectCleanRunMakesItExactlyOnce();
}

// A file size limit in the middle of the run: the lines written whole are
// committed, a torn one is cut away, the rest waits for the next run.
TEST_F(TransferFaultTest, FileSizeLimitMidRun) {
  ProgramSpec spec = Spec({settings_});
  spec.file_size_limit = After(0.5) + 17;
  const ProgramResult run = RunProgram(spec);
  EXPECT_EQ(run.exit_status, 90);
  const std::string file = ReadFileBytes(transfer_);
  EXPECT_GT(file.size(), static_cast<size_t>(After(0.4)));
  ExpectCleanRunMakesItExactlyOnce();
}

// The connection cut right after the server received the COMMIT, which the
// server then carries out. The run asks over a new connection: it finds out
// that it committed, keeps its lines and ends with 1; or, when no new
// connection can be had, it cannot tell, ends with 0 and leaves the run
// record, from which the next run finds the commit and keeps the lines.
TEST_F(TransferFaultTest, ConnectionCutAfterTheServerTookTheCommit) {
  for (bool reconnects : {true, false}) {
    SCOPED_TRACE(reconnects);
    if (!reconnects) AddBookings(kBookings + 1, kBookings);
    // Cuts the run's connection right after it has passed on its COMMIT;
    // later connections pass, or are closed at once.
    TcpRelay relay({TestDbPort()}, TcpRelay::kCutAfterCommit);
    relay.RefuseLaterConnections(!reconnects);
    ASSERT_GT(relay.port(), 0);
    WriteSettings(TestDbPassword(), "127.0.0.1");
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    Exec("BACKUP STAGE START");
    Exec("BACKUP STAGE BLOCK_COMMIT");
    RunningProgram program = Start({"MYSQL_TCP_PORT=" + std::to_string(relay.port())});
    // Reconnected, the run waits for its own guard, held by its old
    // connection until the server has finished that COMMIT.
    ASSERT_TRUE(WaitFor([&] {
      return relay.cut() &&
             (!reconnects ||
              Query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE STATE = 'User "
                    "lock'")[0][0] == "1");
    }));
    if (reconnects) Exec("BACKUP STAGE END");
    const ProgramResult run = FinishProgram(program);
    if (!reconnects) Exec("BACKUP STAGE END");
    EXPECT_EQ(run.exit_status, reconnects ? 1 : 0);
    const std::string log = Log();
    EXPECT_NE(log.find("Festschreiben fehlgeschlagen, Fehler: 2013, "), std::string::npos);
    EXPECT_NE(log.find(LogOf({reconnects ? "Festschreiben doch erfolgt"
                                         : "Ob festgeschrieben wurde, ist nicht festzustellen; "
                                           "die n\344chste \334bergabe kl\344rt es",
                              kLogEnded})),
              std::string::npos)
        << log;
    EXPECT_EQ(FileExists(record_), !reconnects);
    // The old connection's COMMIT goes through, and its guard goes with it.
    ASSERT_TRUE(WaitFor([&] {
      return Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")[0][0] == "0" &&
             RunConnection() == "0";
    }));
    WriteSettings(TestDbPassword(), "localhost");
    ExpectCleanRunMakesItExactlyOnce();
    if (!reconnects) {
      EXPECT_NE(Log().find(LogOf({kLogServerTime,
                                  "Abgebrochene \334bergabe war festgeschrieben: \334bergabedatei "
                                  "bleibt"})),
                std::string::npos);
    }
  }
}

// A server that gives no named locks: the run guard is an exclusive lock on
// Halvorn_MySQL.sperre beside BEWDATA.dat. Another holder of that lock stops
// the run with 95; a lock file that cannot be had at all is no sign of
// another run, and the run goes on.
TEST_F(TransferFaultTest, GuardFallsBackToTheFileLock) {
  TcpRelay relay({TestDbPort()}, TcpRelay::kPassCommit);
  relay.HideNamedLocks(true);
  ASSERT_GT(relay.port(), 0);
  WriteSettings(TestDbPassword(), "127.0.0.1");
  const std::string lock = dir_.File("app/bin/Halvorn_MySQL.sperre");
  struct Case {
    const char* name;
    int held;  // 0 free, 1 held by another process, 2 not to be had (a directory)
    int exit_status;
  };
  for (const Case& c : {Case{"held", 1, 95}, Case{"free", 0, 1}, Case{"no lock file", 2, 1}}) {
    SCOPED_TRACE(c.name);
    if (c.exit_status == 1 && c.held == 2) AddBookings(kBookings + 1, kBookings);
    if (c.held == 2) {
      ASSERT_EQ(std::remove(lock.c_str()), 0);
      ASSERT_EQ(mkdir(lock.c_str(), 0755), 0);
    }
    FileLock other;
    if (c.held == 1) {
      ASSERT_EQ(TakeFileLock(lock, other), 0);
    }
    ProgramSpec spec = Spec({settings_});
    spec.env = {"MYSQL_TCP_PORT=" + std::to_string(relay.port())};
    const ProgramResult run = RunProgram(spec);
    ReleaseFileLock(other);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.out;
    EXPECT_EQ(run.out, c.held == 1 ? "Uebergabe laeuft bereits\n" : "");
    EXPECT_EQ(Query("SELECT COUNT(*) > 0 FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")[0][0],
              c.held == 1 ? "1" : "0");
  }
  rmdir(lock.c_str());
  WriteSettings(TestDbPassword(), "localhost");
  ExpectCleanRunMakesItExactlyOnce();
}

// A server that stops answering: frozen in the middle of the run (kill -STOP,
// kill -CONT once the run has ended), or a listener that accepts and never
// greets. The run ends within its bound, the read timeout (the longer of the
// guard's wait and the server's lock wait, plus the margin) or the connect
// timeout, with nothing of it left in the file.
TEST_F(TransferFaultTest, ServerThatStopsAnsweringEndsTheRunInTime) {
  const std::string data_dir =
      Env("HALVORN_DB_SOCKET").substr(0, Env("HALVORN_DB_SOCKET").find_last_of('/'));
  const pid_t server =
      static_cast<pid_t>(std::atoll(ReadFileBytes(data_dir + "/mysqld.pid").c_str()));
  ASSERT_GT(server, 0);
  const int lock_wait = std::atoi(Query("SELECT @@innodb_lock_wait_timeout")[0][0].c_str());
  for (bool frozen : {true, false}) {
    SCOPED_TRACE(frozen ? "frozen server" : "silent listener");
    if (!frozen) AddBookings(kBookings + 1, kBookings);
    const long long base = FileSize(transfer_);
    TcpRelay listener({TestDbPort()}, TcpRelay::kPassCommit);
    listener.Silence(true);
    ProgramResult run;
    std::chrono::duration<double> took{};
    double bound = kConnectTimeout;
    if (frozen) {
      bound = std::max(kEndingRunWait, lock_wait) + kReadTimeoutMargin;
      RunningProgram program = Start();
      ASSERT_TRUE(WaitFor([&] { return FileSize(transfer_) > base + After(0.3); }));
      Stop(program);
      ASSERT_EQ(kill(server, SIGSTOP), 0);
      const auto start = std::chrono::steady_clock::now();
      Continue(program);
      run = FinishProgram(program);
      took = std::chrono::steady_clock::now() - start;
      ASSERT_EQ(kill(server, SIGCONT), 0);
      EXPECT_NE(Log().rfind("Markieren fehlgeschlagen, Fehler: 2013, "), std::string::npos);
      EXPECT_EQ(run.exit_status, 0);
    } else {
      ASSERT_GT(listener.port(), 0);
      ASSERT_TRUE(WriteFileBytes(settings_,
                                 AccountSettings(TestDbUser(), TestDbPassword(), "127.0.0.1") +
                                     SettingsRecord(5, "PORT", std::to_string(listener.port()))));
      const auto start = std::chrono::steady_clock::now();
      run = Run({settings_});
      took = std::chrono::steady_clock::now() - start;
      WriteSettings(TestDbPassword(), "localhost");
      EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 2013\n");
      EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(2013));
    }
    EXPECT_GE(took.count(), bound - 1);
    EXPECT_LT(took.count(), bound + 10);
    EXPECT_EQ(FileSize(transfer_), std::max(base, 0LL));
    EXPECT_FALSE(FileExists(record_));
    ExpectCleanRunMakesItExactlyOnce();
  }
}

}  // namespace
