// Whole runs of the program against the test server: the transfer file, the
// protocol log, the console, the exit status and the table afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "export/transfer_file.h"
#include "log/status_file.h"
#include "platform/platform.h"
#include "test/run_tree.h"

namespace {

// A kind of data a real site can have: how the table (and the server) is
// made before the bookings go in, and the five keys of each booking.
struct DataKind {
  const char* name;
  std::vector<std::string> setup;         // run as root; global settings are put back afterwards
  std::vector<std::string> keys;          // BewIDN, BewSto, BewDtm, BewUhr, BewLfn as SQL values
  const char* line = ",DTA,M\374ller\n";  // a text the transfer file must hold
  int pending = 0;                        // bookings no marking finds: they stay pending
};

class TransferRunTest : public RunTreeTest {
 protected:
  // Adds a booking; values in the order of the transfer line's fields, with
  // the date and time stamp as the table holds them, then BewUkz and BewDat.
  void AddBooking(const std::string& values) {
    Exec(
        "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, "
        "BewLID, BewArt, BewKst, BewQua, BewKze, BewBer, BewEra, BewErq, BewTas, BewSrc, "
        "BewRes, BewUkz, BewDat) VALUES (" +
        values + ")");
  }

  // Booking i of a plain series: badge 100i, terminal booking Ti, DTA 201.
  void AddPlainBooking(int i) {
    AddBooking("'100" + std::to_string(i) + "','ST1','2026-12-01','2026-12-01 07:58:13','1','T" +
               std::to_string(i) + "','L1','K','','','','','201','','','DTA','',NULL,NOW()");
  }
  static std::string PlainLine(int i) {
    return "100" + std::to_string(i) + ",ST1,20261201,075813,1,T" + std::to_string(i) +
           ",L1,K,,,,,204,,,DTA,\n";
  }
  static std::string PlainLogLine(int i) {
    return "100" + std::to_string(i) + ",20261201,075813,T" + std::to_string(i) + ",L1,K, 1, DTA";
  }

  // The value of key in the status file beside BEWDATA.dat.
  std::string Status(const std::string& key) {
    return ReadStatusValue(cwd_ + "/Halvorn_MySQL.status", key);
  }

  // One kind of data through two runs: its bookings (code 201 of DTA, BewTID
  // T0, T1, ...) into a fresh table made as kind.setup says (global settings
  // are put back), two runs, then the rule: every marked booking has exactly
  // one line, no pending booking has one, and kind.pending stay pending.
  void ExpectEachOnceAfterTwoRuns(const DataKind& kind) {
    SCOPED_TRACE(kind.name);
    RecreateTable();
    const Rows globals = Query("SELECT @@sql_mode, @@time_zone, @@init_connect");
    for (const std::string& sql : kind.setup) Exec(sql);
    for (size_t i = 0; i < kind.keys.size(); ++i) {
      AddBooking(kind.keys[i] + ",'T" + std::to_string(i) +
                 "','L1','K','','','','','201','','','DTA','M\374ller',NULL,NOW()");
    }
    ASSERT_TRUE(WriteFileBytes(transfer_, "") && WriteFileBytes(log_, ""));
    for (int run = 0; run < 2; ++run) EXPECT_EQ(Run({settings_}).exit_status, 1);
    Exec("SET GLOBAL sql_mode = '" + globals[0][0] + "', GLOBAL time_zone = '" + globals[0][1] +
         "', GLOBAL init_connect = '" + globals[0][2] + "'");
    const std::string file = Transfer();
    size_t marked = 0;
    for (const auto& row :
         Query("SELECT CONCAT(',', BewTID, ','), BewUkz <=> 4 FROM KVSYSTEM.KVS321BEW")) {
      marked += row[1] == "1";
      EXPECT_EQ(Count(file, row[0]), row[1] == "1" ? 1u : 0u) << row[0];
    }
    EXPECT_EQ(Count(file, "\n"), marked);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW")[0][0],
              std::to_string(marked + kind.pending));
    EXPECT_NE(file.find(kind.line), std::string::npos) << file;
  }

  static size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }

  Rows Marks() {
    return Query(
        "SELECT BewIDN, BewTID, IFNULL(BewUkz, 'NULL'), BewUdt IS NOT NULL "
        "FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN, BewTID");
  }
};

TEST_F(TransferRunTest, CompleteRunExportsMarksPurgesAndCommits) {
  // A booking of the time clock, source DTA, code 201.
  AddBooking(
      "'1001','ST1','2026-12-01','2026-12-01 07:58:13','1','T1','L1','K','KST 4711',"
      "'','','','201','E','01','DTA','M\xFCller',NULL,NOW()");
  // Code 205 of source dta is not accepted: marked, not written.
  AddBooking(
      "'1001','ST1','2026-12-01','2026-12-01 12:00:00','1','T2','L1','G','KST 4711',"
      "'','','','205','','01','dta','',3,NOW()");
  // Source 40P with a marker: code 100. NULL columns give empty fields.
  AddBooking(
      "'1002','ST2','2026-12-02','2026-12-02 06:30:00','2','T3','L2','K',NULL,"
      "'','X',NULL,'999','','02','40P',NULL,NULL,NOW()");
  // 62P keeps its code 4; an unknown source gets 204.
  AddBooking(
      "'1000','ST1','2026-11-30','2026-11-30 16:45:59','3','T4','L1','G','KST 1',"
      "'1.5','','','4','','03','62P','R',NULL,NOW()");
  AddBooking(
      "'1003','ST3','2026-12-03','2026-12-03 08:00:00','1','T5','L3','K','',"
      "'','','','','','','WEB','',NULL,NOW()");
  // Transferred already: not selected. The old one is purged.
  AddBooking(
      "'1004','ST1','2026-12-01','2026-12-01 09:00:00','1','T6','L1','K','',"
      "'','','','204','','','DTA','',4,NOW()");
  AddBooking(
      "'1005','ST1','2026-07-01','2026-07-01 09:00:00','1','T7','L1','K','',"
      "'','','','204','','','DTA','',4,DATE_SUB(NOW(), INTERVAL 4 MONTH)");
  // Pending and old: exported, marked and purged in the same run.
  AddBooking(
      "'0999','ST1','2026-07-02','2026-07-02 10:11:12','1','T8','L1','K','',"
      "'','','','210','','','DTA','',NULL,DATE_SUB(NOW(), INTERVAL 4 MONTH)");

  const ProgramResult run = Run({settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);

  EXPECT_EQ(Transfer(),
            "0999,ST1,20260702,101112,1,T8,L1,K,,,,,204,,,DTA,\n"
            "1000,ST1,20261130,164559,3,T4,L1,G,KST 1,1.5,,,4,,03,62P,R\n"
            "1001,ST1,20261201,075813,1,T1,L1,K,KST 4711,,,,204,E,01,DTA,M\xFCller\n"
            "1002,ST2,20261202,063000,2,T3,L2,K,,,X,,100,,02,40P,\n"
            "1003,ST3,20261203,080000,1,T5,L3,K,,,,,204,,,WEB,\n");
  EXPECT_EQ(Log(),
            CommittedRunLog(
                {"0999,20260702,101112,T8,L1,K, 1, DTA", "1000,20261130,164559,T4,L1,G, 3, 62P",
                 "1001,20261201,075813,T1,L1,K, 1, DTA", "1002,20261202,063000,T3,L2,K, 2, 40P",
                 "1003,20261203,080000,T5,L3,K, 1, WEB"}));
  EXPECT_EQ(MaskServerTime(run.out),
            CommittedRunConsole({"ID: 0999, Buchung vom 20260702 101112  uebergeben\n",
                                 "ID: 1000, Buchung vom 20261130 164559  uebergeben\n",
                                 "ID: 1001, Buchung vom 20261201 075813  uebergeben\n",
                                 "ID: 1002, Buchung vom 20261202 063000  uebergeben\n",
                                 "ID: 1003, Buchung vom 20261203 080000  uebergeben\n"}));
  EXPECT_EQ(Marks(), (Rows{{"1000", "T4", "4", "1"},
                           {"1001", "T1", "4", "1"},
                           {"1001", "T2", "4", "1"},
                           {"1002", "T3", "4", "1"},
                           {"1003", "T5", "4", "1"},
                           {"1004", "T6", "4", "0"}}));

  // A second run, over TCP this time, finds nothing new and keeps the lines.
  const std::string first_file = Transfer();
  WriteSettings(TestDbPassword(), "127.0.0.1");
  const ProgramResult again = Run({settings_});
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(Transfer(), first_file);
  ExpectLogEndsWith(CommittedRunLog({}));
}

TEST_F(TransferRunTest, EmptyTableCreatesAnEmptyTransferFileInTheNamedDirectory) {
  ASSERT_EQ(mkdir(dir_.File("Export").c_str(), 0755), 0);
  const ProgramResult run = Run({settings_, dir_.File("Export"), "/d"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(FileExists(dir_.File("Export/BEWDATA.dat")));
  EXPECT_EQ(ReadFileBytes(dir_.File("Export/BEWDATA.dat")), "");
  EXPECT_FALSE(FileExists(transfer_));
  EXPECT_EQ(MaskServerTime(run.out), CommittedRunConsole({}));
}

TEST_F(TransferRunTest, NoArgumentPrintsTheUsageText) {
  const ProgramResult run = Run({});
  EXPECT_EQ(run.exit_status, 98);
  EXPECT_EQ(run.out,
            "Befehlsformat: \nHalvorn_<DB>.EXE <Veltrano.ini> <ZielPfad>\n\n"
            "DB           : Datenbanksystem, zB. Oracle\n"
            "Veltrano.ini: Name und Pfad der Veltrano.ini-Datei\n"
            "Zielpfad     : Pfad der Uebergabedatei\n\n");
  EXPECT_FALSE(FileExists(log_));
}

TEST_F(TransferRunTest, MissingSettingsFileEndsWith97) {
  AddPlainBooking(1);
  const ProgramResult run = Run({dir_.File("app/missing.ini")});
  EXPECT_EQ(run.exit_status, 97);
  EXPECT_EQ(run.out, "Veltrano.Ini-Datei nicht gefunden");
  EXPECT_EQ(Log(), LogOf({kLogStarted, "Veltrano.Ini-Datei nicht gefunden",
                          "Verbinden mit Datenbank fehlgeschlagen"}));
  EXPECT_FALSE(FileExists(transfer_));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

TEST_F(TransferRunTest, RefusedPasswordIsLoggedWithTheServersReason) {
  WriteSettings("wrong", "localhost");
  const ProgramResult run = Run({settings_});
  // 96 on POSIX, where 1045 does not fit an exit status; 1045 on Windows.
  EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(1045));
  EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 1045\n");
  EXPECT_EQ(Log(), LogOf({kLogStarted,
                          "Datenbankverbindung fehlgeschlagen, Fehler: 1045, Access denied for "
                          "user '" +
                              TestDbUser() + "'@'" + TestDbClientHost() + "' (using password: YES)",
                          "Verbinden mit Datenbank fehlgeschlagen"}));
}

TEST_F(TransferRunTest, MissingTransferDirectoryEndsWith90BeforeTheSelection) {
  AddPlainBooking(1);
  const ProgramResult run = Run({settings_, dir_.File("nowhere"), "/D"});
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(MaskServerTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "Zieldatei auf Server kann nicht erzeugt werden\n");
  // No closing line on this path.
  EXPECT_EQ(Log(), LogOf({kLogStarted, kLogServerTime,
                          "Zieldatei auf Server kann nicht erzeugt werden\n"}));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// POSIX only: Windows has no file size limit for a process (RLIMIT_FSIZE).
#ifndef _WIN32
TEST_F(TransferRunTest, FullTransferFileEndsTheLoopAndCommitsOnlyWrittenBookings) {
  for (int i = 1; i <= 6; ++i) AddPlainBooking(i);
  const rlim_t line_size = PlainLine(1).size();

  // Lines of earlier runs fill the file up to 20 bytes below the limit, so
  // not even the first new line fits.
  const std::string earlier = std::string(4075, 'x') + "\n";
  ASSERT_TRUE(WriteFileBytes(transfer_, earlier));
  ProgramSpec limited = Spec({settings_, "/D"});
  limited.file_size_limit = earlier.size() + 20;
  ProgramResult run = RunProgram(limited);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(Transfer(), earlier);
  EXPECT_EQ(
      MaskServerTime(run.out),
      kConsoleStarted + std::string("Schreiben in Zieldatei fehlgeschlagen\n") + ConsoleCount(0));
  for (const auto& row : Marks()) EXPECT_EQ(row[2], "NULL") << row[0];

  // Room for three lines and a part: those three are written and marked, the
  // rest waits for the next run.
  limited = Spec({settings_});
  limited.file_size_limit = earlier.size() + 3 * line_size + 20;
  run = RunProgram(limited);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Transfer(), earlier + PlainLine(1) + PlainLine(2) + PlainLine(3));
  const Rows marks = Marks();
  ASSERT_EQ(marks.size(), 6u);
  for (size_t i = 0; i < marks.size(); ++i) EXPECT_EQ(marks[i][2], i < 3 ? "4" : "NULL") << i;
  ExpectLogEndsWith(
      LogOf({PlainLogLine(3), "Schreiben in Zieldatei fehlgeschlagen", LogCount(3), kLogEnded}));

  // The next run without a limit takes the remaining three.
  run = Run({settings_});
  EXPECT_EQ(run.exit_status, 1);
  for (const auto& row : Marks()) EXPECT_EQ(row[2], "4") << row[0];
  EXPECT_EQ(Transfer(), earlier + PlainLine(1) + PlainLine(2) + PlainLine(3) + PlainLine(4) +
                            PlainLine(5) + PlainLine(6));
}
#endif

// The receiving system takes the file away after the run's last line and
// before the commit: those lines are delivered, and the run commits them.
TEST_F(TransferRunTest, TransferFileTakenAwayBeforeTheCommitCountsAsDelivered) {
  AddPlainBooking(1);
  AddPlainBooking(2);
  // The last marking takes a while, long enough to take the transfer file
  // away after its last line was written and before the run flushes it.
  Exec(
      "CREATE TRIGGER KVSYSTEM.SLOW_MARK BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "SET @pause = IF(NEW.BewTID = 'T2', SLEEP(2), 0)");
  RunningProgram program = StartProgram(Spec({settings_}));
  for (int i = 0; i < 200 && Transfer().find(",T2,") == std::string::npos; ++i) {
    usleep(25 * 1000);
  }
  ASSERT_NE(Transfer().find(",T2,"), std::string::npos);
  ASSERT_EQ(rename(transfer_.c_str(), (cwd_ + "/taken.dat").c_str()), 0);
  const ProgramResult run = FinishProgram(program);

  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFileBytes(cwd_ + "/taken.dat"), PlainLine(1) + PlainLine(2));
  EXPECT_FALSE(FileExists(transfer_));
  ExpectLogEndsWith(LogOf({LogCount(2), kLogEnded}));
  for (const auto& row : Marks()) EXPECT_EQ(row[2], "4") << row[0];
}

TEST_F(TransferRunTest, MissingLogDirectoryChangesNothingElse) {
  ASSERT_EQ(rmdir(dir_.File("Veltrano_php/log").c_str()), 0);
  AddPlainBooking(1);
  const ProgramResult run = Run({settings_});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Transfer(), PlainLine(1));
  EXPECT_EQ(Marks()[0][2], "4");
}

// A settings file without a user name must not let the client library log
// in as the operating-system user: the run is refused before any attempt.
TEST_F(TransferRunTest, EmptyLoginIsRefusedBeforeAnyConnection) {
  AddPlainBooking(1);
  const auto connections = [this] { return Query("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1]; };
  const std::string before = connections();
  const std::string refused =
      LogOf({kLogStarted,
             "Datenbankverbindung fehlgeschlagen, Fehler: 1045, Kein Benutzername in der "
             "Einstellungsdatei",
             "Verbinden mit Datenbank fehlgeschlagen"});
  // No LOGIN record, a misspelled key, an empty file.
  const std::string rest =
      SettingsRecord(2, "PASS", TestDbPassword()) + SettingsRecord(4, "NET8", "localhost");
  for (const std::string& content :
       {rest, SettingsRecord(1, "LOGON", TestDbUser()) + rest, std::string()}) {
    ASSERT_TRUE(WriteFileBytes(settings_, content));
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    const ProgramResult run = Run({settings_, "/D"});
    EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(1045));
    EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 1045\n");
    EXPECT_EQ(Log(), refused);
  }
  EXPECT_EQ(connections(), before);
  EXPECT_FALSE(FileExists(transfer_));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// An empty directory argument, or anything but "/D" after the second
// argument, gets the usage text and 98; nothing is logged, written or marked.
TEST_F(TransferRunTest, EmptyDirectoryOrArgumentAfterTheSwitchGetsTheUsageText) {
  AddPlainBooking(1);
  ASSERT_EQ(mkdir(dir_.File("Export").c_str(), 0755), 0);
  for (const std::vector<std::string>& args : {std::vector<std::string>{settings_, ""},
                                               {settings_, "", "/D"},
                                               {settings_, "/D", dir_.File("Export")},
                                               {settings_, dir_.File("Export"), "/D", "x"}}) {
    const ProgramResult run = Run(args);
    EXPECT_EQ(run.exit_status, 98) << args[1];
    EXPECT_EQ(run.out.rfind("Befehlsformat: \n", 0), 0u) << run.out;
  }
  EXPECT_FALSE(FileExists(log_));
  EXPECT_FALSE(FileExists(transfer_));
  EXPECT_FALSE(FileExists(dir_.File("Export/BEWDATA.dat")));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// Line breaks and commas inside values keep one booking on one line of
// seventeen fields; the protocol and console lines keep theirs too.
TEST_F(TransferRunTest, LineBreaksAndCommasInValuesKeepTheLineFormat) {
  AddBooking(
      "'1001','ST1','2026-12-01','2026-12-01 07:58:13','1','T\r\n1','L1','K','KST\n4100',"
      "'','','','201','','01','DTA','M\xFCller, Hans',NULL,NOW()");
  const ProgramResult run = Run({settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Transfer(),
            "1001,ST1,20261201,075813,1,T  1,L1,K,KST 4100,,,,204,,01,DTA,M\xFCller  Hans\n");
  EXPECT_EQ(Log(), CommittedRunLog({"1001,20261201,075813,T  1,L1,K, 1, DTA"}));
  EXPECT_EQ(MaskServerTime(run.out),
            CommittedRunConsole({"ID: 1001, Buchung vom 20261201 075813  uebergeben\n"}));
  EXPECT_EQ(Marks()[0][2], "4");
}

// Started from the wrong directory, a "/D" run says once why nothing is
// logged, naming the log's path as the program uses it; the run itself goes on.
TEST_F(TransferRunTest, UnwritableProtocolIsReportedOnceWithTheSwitch) {
  ASSERT_EQ(rmdir(dir_.File("Veltrano_php/log").c_str()), 0);
  AddPlainBooking(1);
  const ProgramResult quiet = Run({settings_});
  EXPECT_EQ(quiet.exit_status, 1);
  EXPECT_EQ(quiet.out, "");
  AddPlainBooking(2);
  const ProgramResult run = Run({settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(MaskServerTime(run.out),
            "Protokolldatei kann nicht geschrieben werden: "
            "../../Veltrano_php/log/Durnwell#Log.txt\n" +
                CommittedRunConsole({"ID: 1002, Buchung vom 20261201 075813  uebergeben\n"}));
  EXPECT_EQ(Transfer(), PlainLine(1) + PlainLine(2));
}

// No server where the client library looks (a socket that does not exist, a
// port nothing listens on): error 2002, the exit status itself on Windows.
TEST_F(TransferRunTest, NoServerEndsWithTheClientLibrarysErrorNumber) {
  AddPlainBooking(1);
  ProgramSpec spec = Spec({settings_});
  spec.env = {"MYSQL_UNIX_PORT=" + dir_.File("no.sock"), "MYSQL_TCP_PORT=1"};
  const ProgramResult run = RunProgram(spec);
  EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(2002));
  EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 2002\n");
  // The reason is the client library's own text, which names the socket or
  // the host.
  const std::string refused =
      LogOf({kLogStarted}) + "Datenbankverbindung fehlgeschlagen, Fehler: 2002, Can't connect to ";
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, refused.size()), refused);
  ExpectLogEndsWith(")\r\nVerbinden mit Datenbank fehlgeschlagen\r\n");
  EXPECT_FALSE(FileExists(transfer_));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// PORT, TLS and TLS_CA: a run over TLS to the TLS test server (PORT before
// MYSQL_TCP_PORT), a refused handshake or a server without TLS as a refused
// connection (2026), and unusable settings refused before connecting (97).
TEST_F(TransferRunTest, ConnectionSettingsTakeTheRunToTlsOrRefuseIt) {
  AddPlainBooking(1);
  const TlsTestServer tls = TestTlsServer();
  const std::string port = SettingsRecord(5, "PORT", std::to_string(tls.port));
  const std::string verify =
      SettingsRecord(6, "TLS", "VERIFY_IDENTITY") + SettingsRecord(7, "TLS_CA", tls.ca);
  const std::string required = SettingsRecord(6, "TLS", "REQUIRED");
  const std::string refused = "Datenbankverbindung fehlgeschlagen, Fehler: 2026";
  struct Case {
    std::string user;
    std::string host;
    std::string records;
    std::vector<std::string> env;
    int exit_status;
    std::string out;
    std::string log;
  };
  std::vector<Case> cases = {
      {TestDbUser(),
       "127.0.0.1",
       port + verify,
       {"MYSQL_TCP_PORT=1"},
       1,
       "",
       "Anzahl \xFC"
       "bergebener Buchungen : 0\r\n"},
      {TestDbUser(),
       "127.0.0.2",
       port + verify,
       {},
       ConnectFailureExitStatus(2026),
       refused + "\n",
       refused + ", "},
      {TestDbUser(),
       "127.0.0.1",
       SettingsRecord(5, "PORT", std::to_string(TestDbPort())) + required,
       {},
       ConnectFailureExitStatus(2026),
       refused + "\n",
       refused + ", TLS verlangt, aber der Server bietet es nicht an\r\n"},
      {TestDbUser(),
       "127.0.0.1",
       SettingsRecord(5, "PORT", "33o6") + required,
       {},
       97,
       "Einstellungsdatei unbrauchbar: PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): "
       "\"33o6\"\n",
       "\r\nEinstellungsdatei unbrauchbar: PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): "
       "\"33o6\"\r\nVerbinden mit Datenbank fehlgeschlagen\r\n"},
      {TestDbUser(),
       "127.0.0.1",
       port + SettingsRecord(6, "TLS", "PREFERRED"),
       {},
       97,
       "Einstellungsdatei unbrauchbar: TLS ist weder REQUIRED noch VERIFY_IDENTITY: "
       "\"PREFERRED\"\n",
       "Verbinden mit Datenbank fehlgeschlagen\r\n"},
  };
#ifndef _WIN32
  // An account that is REQUIRE SSL, over the unix socket.
  cases.push_back({"halvorn_ssl",
                   "localhost",
                   required,
                   {"MYSQL_UNIX_PORT=" + tls.socket},
                   1,
                   "",
                   "Anzahl \xFC"
                   "bergebener Buchungen : 0\r\n"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + " " + c.user + " " + c.out);
    ASSERT_TRUE(
        WriteFileBytes(settings_, AccountSettings(c.user, TestDbPassword(), c.host) + c.records));
    ProgramSpec spec = Spec({settings_});
    spec.env = c.env;
    const ProgramResult run = RunProgram(spec);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.out;
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(Log().rfind(c.log), std::string::npos) << Log();
  }
  EXPECT_EQ(Marks()[0][2], "NULL");
  EXPECT_EQ(Transfer(), "");
}

#ifdef _WIN32
// Windows only: the receiving system holds BEWDATA.dat open without sharing
// while it reads it. The run cannot open the file and ends as for a missing
// directory, before the selection; the next run takes the bookings.
TEST_F(TransferRunTest, TransferFileHeldWithoutSharingEndsWith90BeforeTheSelection) {
  AddPlainBooking(1);
  ASSERT_TRUE(WriteFileBytes(transfer_, "earlier\n"));
  void* held = nullptr;
  ASSERT_TRUE(HoldFileWithoutSharing(transfer_, held));
  const ProgramResult run = Run({settings_, "/D"});
  ReleaseHeldFile(held);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(MaskServerTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "Zieldatei auf Server kann nicht erzeugt werden\n");
  EXPECT_EQ(Transfer(), "earlier\n");
  EXPECT_EQ(Marks()[0][2], "NULL");

  const ProgramResult next = Run({settings_});
  EXPECT_EQ(next.exit_status, 1);
  EXPECT_EQ(Transfer(), "earlier\n" + PlainLine(1));
  EXPECT_EQ(Marks()[0][2], "4");
}
#endif

// A run that died left its run record: the next run puts the transfer file
// right before it selects, as the file and the database tell, says so, and
// goes on; a record it cannot make sense of ends it with 90 before the
// selection, the record kept for the operator.
TEST_F(TransferRunTest, InterruptedRunIsPutRightBeforeTheSelection) {
  const std::string cut_back =
      "Abgebrochene \334bergabe: \334bergabedatei auf den Stand vor ihr zur\374ckgesetzt";
  struct Case {
    const char* name;
    bool committing;     // it died after sending COMMIT, with booking T9 marked
    bool committed;      // and T9 is marked transferred in the table
    bool taken_away;     // the file was taken away since
    const char* record;  // the record's text instead, when not null
    std::string said;
  };
  const Case cases[] = {
      {"died writing", false, false, false, nullptr, cut_back},
      {"died committing", true, false, false, nullptr, cut_back},
      {"committed", true, true, false, nullptr,
       "Abgebrochene \334bergabe war festgeschrieben: \334bergabedatei bleibt"},
      {"taken away", false, false, true, nullptr,
       "Abgebrochene \334bergabe: \334bergabedatei inzwischen abgeholt, ihre Zeilen gelten als "
       "\374bergeben"},
      {"no record", false, false, false, "Halvorn_MySQL Uebergabelauf\nphase=",
       "Abgebrochene \334bergabe: \334bergabedatei kann nicht in Ordnung gebracht werden"},
  };
  const RowKey t9[kRowKeyCount] = {{"1009", false},
                                   {"ST1", false},
                                   {"20261201000000", false},
                                   {"20261201075813", false},
                                   {"1", false}};
  const std::string dead_line = "dead\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("DELETE FROM KVSYSTEM.KVS321BEW");
    AddPlainBooking(1);
    AddPlainBooking(9);
    if (c.committed) Exec("UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4 WHERE BewTID = 'T9'");
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    // What the dead run left, written as a run writes it.
    ASSERT_TRUE(WriteFileBytes(transfer_, "earlier\n"));
    TransferFile dead;
    dead.path = transfer_;
    size_t written = 0;
    ASSERT_EQ(BeginTransferRun(dead), 0);
    ASSERT_EQ(AppendTransferLines(dead, {&dead_line}, written), 0);
    ASSERT_EQ(c.committing ? PrepareCommit(dead, t9) : 0, 0);
    ASSERT_EQ(c.taken_away ? rename(transfer_.c_str(), (cwd_ + "/taken.dat").c_str()) : 0, 0);
    ASSERT_TRUE(c.record == nullptr || WriteFileBytes(record_, c.record));

    const ProgramResult run = Run({settings_, "/D"});
    if (c.record != nullptr) {
      EXPECT_EQ(run.exit_status, 90);
      EXPECT_EQ(MaskServerTime(run.out),
                kConsoleStarted + std::string("Abgebrochene Uebergabe: Uebergabedatei kann nicht "
                                              "in Ordnung gebracht werden\n"));
      EXPECT_EQ(Log(), LogOf({kLogStarted, kLogServerTime, c.said, kLogEnded}));
      EXPECT_EQ(ReadFileBytes(record_), c.record);
      EXPECT_EQ(Transfer(), "earlier\ndead\n");
      EXPECT_EQ(Marks()[0][2], "NULL");
      continue;
    }
    EXPECT_EQ(run.exit_status, 1);
    const std::string before = c.taken_away ? "" : c.committed ? "earlier\ndead\n" : "earlier\n";
    if (c.committed) {
      EXPECT_EQ(Log(), LogOf({kLogStarted, kLogServerTime, c.said, PlainLogLine(1), LogCount(1),
                              kLogEnded}));
      EXPECT_EQ(Transfer(), before + PlainLine(1));
    } else {
      EXPECT_EQ(Log(), LogOf({kLogStarted, kLogServerTime, c.said, PlainLogLine(1), PlainLogLine(9),
                              LogCount(2), kLogEnded}));
      EXPECT_EQ(Transfer(), before + PlainLine(1) + PlainLine(9));
    }
    EXPECT_FALSE(FileExists(record_));
    EXPECT_EQ(ReadFileBytes(cwd_ + "/taken.dat"), c.taken_away ? "earlier\ndead\n" : "");
  }
}

// A server that binary-logs statements would refuse the markings at READ
// COMMITTED: the run keeps the server's level, says so, and transfers.
TEST_F(TransferRunTest, StatementLoggingServerKeepsItsIsolationLevel) {
  AddPlainBooking(1);
  Exec("SET GLOBAL binlog_format = 'STATEMENT'");
  const ProgramResult run = Run({settings_});
  Exec("SET GLOBAL binlog_format = 'MIXED'");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Transfer(), PlainLine(1));
  EXPECT_EQ(Marks()[0][2], "4");
  EXPECT_EQ(Log(), LogOf({kLogStarted,
                          "Server protokolliert Anweisungen (binlog_format=STATEMENT): \334bergabe "
                          "mit der Isolationsstufe des Servers",
                          kLogServerTime, PlainLogLine(1), LogCount(1), kLogEnded}));
}

// A failure that meets every booking, not one booking's own, never reports
// success: the run ends without a commit (0), BEWDATA.dat keeps nothing of it,
// the bookings stay pending, and the protocol and the status file say why.
TEST_F(TransferRunTest, FailureOfEveryBookingEndsTheRunWithoutACommit) {
  struct Case {
    const char* grants;  // of the run's account on the table; empty: the test account
    const char* setup;   // run before the program, as root
    const char* line;    // the protocol line that names the failure
    int error;
  };
  const Case cases[] = {
      {"UPDATE, DELETE", "", "Auswahl fehlgeschlagen, Fehler: 1142, SELECT command denied", 1142},
      {"SELECT, DELETE", "", "Markieren fehlgeschlagen, Fehler: 1142, UPDATE command denied", 1142},
      {"SELECT, UPDATE (BewUdt), DELETE", "",
       "Markieren fehlgeschlagen, Fehler: 1143, UPDATE command denied", 1143},
      {"", "SET GLOBAL read_only = 1", "Markieren fehlgeschlagen, Fehler: 1290, ", 1290},
      {"", "DROP TABLE KVSYSTEM.KVS321BEW", "Auswahl fehlgeschlagen, Fehler: 1146, ", 1146},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Exec("DELETE FROM KVSYSTEM.KVS321BEW");  // the table's removal comes last
    AddPlainBooking(1);
    AddPlainBooking(2);
    std::string login = TestDbUser(), password = TestDbPassword();
    if (*c.grants != 0) {
      login = "halvorn_limited";
      password = "begrenzt";
      for (const char* host : {"%", "localhost"}) {
        const std::string account = std::string("'halvorn_limited'@'") + host + "'";
        Exec("CREATE OR REPLACE USER " + account + " IDENTIFIED BY 'begrenzt'");
        Exec(std::string("GRANT ") + c.grants + " ON KVSYSTEM.KVS321BEW TO " + account);
      }
    }
    ASSERT_TRUE(WriteFileBytes(settings_, AccountSettings(login, password, "localhost")));
    if (*c.setup != 0) Exec(c.setup);
    const ProgramResult run = Run({settings_});
    Exec("SET GLOBAL read_only = 0");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(Transfer(), "");
    EXPECT_NE(Log().find(c.line), std::string::npos) << Log();
    ExpectLogEndsWith(
        LogOf({"\334bergabedatei auf den Stand vor der \334bergabe zur\374ckgesetzt", kLogEnded}));
    if (c.error != 1146) {
      EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL"),
                (Rows{{"2"}}));
    }
    EXPECT_EQ(Status("outcome"), "not_committed");
    EXPECT_EQ(Status("error"), std::to_string(c.error));
    EXPECT_EQ(Status("exit_status"), "0");
    EXPECT_EQ(Status("exported") + Status("marked"), "00");
  }
  Exec("DROP USER IF EXISTS 'halvorn_limited'@'%', 'halvorn_limited'@'localhost'");
}

// The status file after runs of every outcome a monitor needs to tell apart:
// each replaces it, and only a committed run moves last_committed on.
TEST_F(TransferRunTest, StatusFileReportsEveryRun) {
  AddPlainBooking(1);
  AddPlainBooking(2);
  AddBooking(
      "'1003','ST1','2026-12-01','2026-12-01 "
      "08:00:00','1','T3','L1','K','','','','','205','','','DTA','',NULL,NOW()");
  struct Case {
    const char* setup;  // before the run: a settings file, a held guard
    int exit_status;
    const char* outcome;
    const char* counts;  // selected exported marked refused
    int error;
    const char* error_text;  // how it begins
  };
  const Case cases[] = {
      {"", 1, "committed", "3 2 3 0", 0, ""},
      {"held guard", 95, "running_elsewhere", "0 0 0 0", 0, ""},
      {"no settings", 97, "settings_missing", "0 0 0 0", 0, "Veltrano.Ini-Datei nicht gefunden"},
      {"wrong password", ConnectFailureExitStatus(1045), "connection_refused", "0 0 0 0", 1045,
       "Access denied for user"},
      {"", 1, "committed", "0 0 0 0", 0, ""},
  };
  std::string last_committed;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome);
    const std::string setup = c.setup;
    WriteSettings(setup == "wrong password" ? "falsch" : TestDbPassword(), "localhost");
    if (setup == "no settings") std::remove(settings_.c_str());
    if (setup == "held guard") Exec("SELECT GET_LOCK('KVSYSTEM.KVS321BEW', 0)");
    const std::time_t before = std::time(nullptr);
    const ProgramResult run = Run({settings_});
    Exec("SELECT RELEASE_ALL_LOCKS()");
    EXPECT_EQ(run.exit_status, c.exit_status);
    const std::string status = ReadFileBytes(cwd_ + "/Halvorn_MySQL.status");
    EXPECT_TRUE(std::regex_match(
        status, std::regex("started=20[0-9-]{8}T[0-9:]{8}Z\nended=20[0-9-]{8}T[0-9:]{8}Z\n"
                           "exit_status=[0-9]+\noutcome=[a-z_]+\nselected=[0-9]+\nexported=[0-9]+\n"
                           "marked=[0-9]+\nrefused=[0-9]+\nerror=[0-9]+\nerror_text=[ -~]*\n"
                           "last_committed=(20[0-9-]{8}T[0-9:]{8}Z)?\n")))
        << status;
    EXPECT_EQ(Status("exit_status"), std::to_string(c.exit_status));
    EXPECT_EQ(Status("outcome"), c.outcome);
    EXPECT_EQ(Status("selected") + " " + Status("exported") + " " + Status("marked") + " " +
                  Status("refused"),
              c.counts);
    EXPECT_EQ(Status("error"), std::to_string(c.error));
    EXPECT_EQ(Status("error_text").substr(0, std::strlen(c.error_text)), c.error_text);
    if (*c.error_text == 0) {
      EXPECT_EQ(Status("error_text"), "");
    }
    EXPECT_LE(Status("started"), Status("ended"));
    EXPECT_GE(Status("started"), FormatUtcTime(before));
    if (c.exit_status == 1) last_committed = Status("ended");
    EXPECT_EQ(Status("last_committed"), last_committed);
    EXPECT_FALSE(FileExists(cwd_ + "/Halvorn_MySQL.status.neu"));
  }
}


// The five keys of a booking at 2026-12-08 07:58:13.
std::string Keys(const std::string& idn, const std::string& sto, const std::string& lfn) {
  return idn + "," + sto + ",'2026-12-08','2026-12-08 07:58:13'," + lfn;
}

// Keys that the latin1 connection cannot carry, in columns of other
// character sets, and FLOAT numbers, whose text is rounded: each marking
// finds the row it read. The line has "?" for what Windows-1252 lacks.
TEST_F(TransferRunTest, MarkingFindsTheRowItReadWhateverTheKey) {
  const std::vector<std::string> keys = {Keys("'1'", "_utf8mb4'\u0141\u00f3d\u017a'", "'1'"),
                                         Keys("'1'", "'?\363d?'", "'1'"),
                                         Keys("_utf8mb4'\u0412\u043b\u0430\u0434'", "'S'", "'1'"),
                                         Keys("_utf8mb4'\u738b'", "'S'", "_utf8mb4'\U0001F600'"),
                                         Keys("_utf8mb4'e\u0301'", "'S'", "'2'"),
                                         Keys("'e'", "'S '", "'2'")};
  for (std::string collation : {"utf8mb4_general_ci", "utf8mb4_nopad_bin", "utf16_unicode_ci"}) {
    const std::string as =
        " CHARACTER SET " + collation.substr(0, collation.find('_')) + " COLLATE " + collation;
    ExpectEachOnceAfterTwoRuns(
        {collation.c_str(),
         {"ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewIDN VARCHAR(50)" + as +
          ", MODIFY BewSto VARCHAR(8)" + as + ", MODIFY BewLfn VARCHAR(3)" + as},
         keys,
         "1,?\363d?,20261208,075813,1,T0,"});
  }
  ExpectEachOnceAfterTwoRuns({"FLOAT",
                              {"ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewLfn FLOAT"},
                              {Keys("'1'", "'S'", "0.1"), Keys("'1'", "'S'", "0.1234567"),
                               Keys("'1'", "'S'", "123456789"), Keys("'1'", "'S'", "1e-7")},
                              ",075813,0.1,T0,"});
}

// TIMESTAMP time stamps in Europe/Berlin: the two bookings of the repeated
// autumn hour (given in UTC) both have the local time 02:30, among enough
// bookings of the same badge and location that the index is used. A range
// on the index would name one of the two instants.
TEST_F(TransferRunTest, NoRangeOnATimestamp) {
  for (std::string uhr : {"TIMESTAMP NULL DEFAULT NULL", "TIMESTAMP(6) NULL DEFAULT NULL"}) {
    ExpectEachOnceAfterTwoRuns(
        {uhr.c_str(),
         {"SET SESSION time_zone = '+00:00'", "SET GLOBAL time_zone = 'Europe/Berlin'",
          "ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewUhr " + uhr,
          "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewEra, "
          "BewSrc) SELECT 'A', 'S', '2025-10-25', TIMESTAMP('2025-10-25 08:00:00') + INTERVAL seq "
          "MINUTE, '1', CONCAT('F', seq), '201', 'DTA' FROM KVSYSTEM.seq_1_to_60"},
         {"'A','S','2025-10-26','2025-10-26 00:30:00','1'",
          "'A','S','2025-10-26','2025-10-26 01:30:00','1'",
          "'A','S','2025-03-30','2025-03-30 00:59:59','1'"},
         "A,S,20251026,023000,1,T1,"});
  }
}

// The server's sql_mode and character set as sites have them: the run sets
// up the session its statements are written for. A connection made utf8mb4
// after connecting stands for a server started with
// --skip-character-set-client-handshake and a utf8mb4 default.
TEST_F(TransferRunTest, SessionAsTheStatementsNeedIt) {
  const DataKind kinds[] = {
      {"texts that are no dates, strict",
       {"ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewDtm VARCHAR(20), MODIFY BewUhr VARCHAR(20)",
        "SET GLOBAL sql_mode = 'STRICT_TRANS_TABLES'"},
       {"'A','S','08.12.2026','08.12.2026 07:58','1'", "'A','S','abc','abc','2'",
        "'A','S','','','3'", Keys("'A'", "'S'", "'4'")},
       "A,S,20261208,075813,4,T3,"},
      {"empty keys, EMPTY_STRING_IS_NULL",
       {"SET GLOBAL sql_mode = 'EMPTY_STRING_IS_NULL'"},
       {Keys("''", "'S'", "'1'"), Keys("'A'", "''", "'1'"), Keys("'A'", "'S'", "''")},
       ",S,20261208,075813,1,T0,"},
      {"utf8mb4 after connecting",
       {"SET GLOBAL init_connect = 'SET NAMES utf8mb4'"},
       {Keys("'A'", "'S'", "'1'")}}};
  for (const DataKind& kind : kinds) ExpectEachOnceAfterTwoRuns(kind);
}

// A key that no marking finds (a BIT, whose text compares as a number): the
// booking gets no line, stays pending and is reported once per run, twins
// too; the booking beside it goes out once.
TEST_F(TransferRunTest, BookingNoMarkingFindsStaysPendingAndIsReported) {
  ExpectEachOnceAfterTwoRuns({"BIT",
                              {"ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewLfn BIT(8)"},
                              {Keys("'A'", "'S'", "b'01000001'"), Keys("'A'", "'S'", "b'01000001'"),
                               Keys("'B'", "'S'", "NULL")},
                              "B,S,20261208,075813,,T2,",
                              2});
  const std::string unfound =
      "\r\nBuchung nicht wiederzufinden: BewIDN A, BewSto S, 20261208 075813, BewLfn A\r\n";
  EXPECT_EQ(Count(Log(), unfound), 2u);
  EXPECT_EQ(Count(Log(), unfound + "\r\nAnzahl \374bergebener Buchungen : 0\r\n"), 1u);
}

}  // namespace
