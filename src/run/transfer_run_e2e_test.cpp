// Whole runs of the program against the test server: the transfer file, the
// protocol log, the console, the exit status and the table afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <regex>
#include <string>
#include <vector>

#include "config/blowfish.h"
#include "platform/platform.h"
#include "test/program.h"
#include "test/temp_dir.h"
#include "test/test_database.h"

namespace {

const std::string kStartLines =
    "\r\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:\r\n";
const std::string kEndLines =
    ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\r\n\r\n\r\n\r\n";
const char kTime[] = "<TIME>";

// Starts the program in cwd with args; file_size_limit, when not -1, is the
// program's RLIMIT_FSIZE (POSIX only), with SIGXFSZ ignored so writes fail.
RunningProgram StartProgram(const std::string& cwd, const std::vector<std::string>& args,
                            long long file_size_limit = -1) {
  ProgramSpec spec;
  spec.path = HALVORN_PROGRAM;
  spec.args = args;
  spec.cwd = cwd;
  spec.file_size_limit = file_size_limit;
  return ::StartProgram(spec);
}

// Collects the console output (with LF line ends, also on Windows, where
// each must have been CR LF) and the exit status of a started program.
ProgramResult FinishProgram(const RunningProgram& program) {
  RunningProgram started = program;
  return ::FinishProgram(started);
}

ProgramResult RunProgram(const std::string& cwd, const std::vector<std::string>& args,
                         long long file_size_limit = -1) {
  return FinishProgram(StartProgram(cwd, args, file_size_limit));
}

std::string Record(int number, const std::string& key, const std::string& value) {
  return "Veltrano;Datenbank;\n" + std::to_string(number) + ";" + key + ";" +
         EncryptHexValue(value, kSettingsKey) + "\n";
}

// Replaces the server time after "Übergabe vom " / "Uebergabe am " with
// <TIME>, after checking its form.
std::string MaskTime(std::string text) {
  static const std::regex time(
      "(\xDC"
      "bergabe vom |Uebergabe am )"
      "[0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
  return std::regex_replace(text, time, std::string("$1") + kTime);
}

class TransferRunTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    ASSERT_EQ(mkdir(dir_.File("Veltrano_php").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.File("Veltrano_php/log").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.File("app").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(cwd_.c_str(), 0755), 0);
    WriteSettings(TestDbPassword(), "localhost");
  }

  void WriteSettings(const std::string& password, const std::string& host) {
    ASSERT_TRUE(
        WriteFileBytes(settings_, Record(1, "LOGIN", TestDbUser()) + Record(2, "PASS", password) +
                                      Record(3, "DB_SYSTEM", "MySQL") + Record(4, "NET8", host)));
  }

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

  void ExpectLogEndsWith(const std::string& tail) {
    const std::string log = Log();
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  }

  std::string Log() { return MaskTime(ReadFileBytes(log_)); }
  std::string Transfer() { return ReadFileBytes(cwd_ + "/BEWDATA.dat"); }
  Rows Marks() {
    return Query(
        "SELECT BewIDN, BewTID, IFNULL(BewUkz, 'NULL'), BewUdt IS NOT NULL "
        "FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN, BewTID");
  }

  ScopedTempDir dir_;
  const std::string cwd_ = dir_.File("app/bin");
  const std::string settings_ = dir_.File("app/Veltrano.ini");
  const std::string log_ = dir_.File("Veltrano_php/log/Durnwell#Log.txt");
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

  const ProgramResult run = RunProgram(cwd_, {settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);

  EXPECT_EQ(Transfer(),
            "0999,ST1,20260702,101112,1,T8,L1,K,,,,,204,,,DTA,\n"
            "1000,ST1,20261130,164559,3,T4,L1,G,KST 1,1.5,,,4,,03,62P,R\n"
            "1001,ST1,20261201,075813,1,T1,L1,K,KST 4711,,,,204,E,01,DTA,M\xFCller\n"
            "1002,ST2,20261202,063000,2,T3,L2,K,,,X,,100,,02,40P,\n"
            "1003,ST3,20261203,080000,1,T5,L3,K,,,,,204,,,WEB,\n");
  EXPECT_EQ(Log(), kStartLines +
                       "\xDC"
                       "bergabe vom <TIME>\r\n\r\n"
                       "0999,20260702,101112,T8,L1,K, 1, DTA\r\n"
                       "1000,20261130,164559,T4,L1,G, 3, 62P\r\n"
                       "1001,20261201,075813,T1,L1,K, 1, DTA\r\n"
                       "1002,20261202,063000,T3,L2,K, 2, 40P\r\n"
                       "1003,20261203,080000,T5,L3,K, 1, WEB\r\n"
                       "\r\nAnzahl \xFC"
                       "bergebener Buchungen : 5\r\n" +
                       kEndLines);
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "ID: 0999, Buchung vom 20260702 101112  uebergeben\n"
            "ID: 1000, Buchung vom 20261130 164559  uebergeben\n"
            "ID: 1001, Buchung vom 20261201 075813  uebergeben\n"
            "ID: 1002, Buchung vom 20261202 063000  uebergeben\n"
            "ID: 1003, Buchung vom 20261203 080000  uebergeben\n"
            "\nAnzahl uebergebener Buchungen : 5");
  EXPECT_EQ(Marks(), (Rows{{"1000", "T4", "4", "1"},
                           {"1001", "T1", "4", "1"},
                           {"1001", "T2", "4", "1"},
                           {"1002", "T3", "4", "1"},
                           {"1003", "T5", "4", "1"},
                           {"1004", "T6", "4", "0"}}));

  // A second run, over TCP this time, finds nothing new and keeps the lines.
  const std::string first_file = Transfer();
  WriteSettings(TestDbPassword(), "127.0.0.1");
  const ProgramResult again = RunProgram(cwd_, {settings_});
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(Transfer(), first_file);
  ExpectLogEndsWith(kStartLines +
                    "\xDC"
                    "bergabe vom <TIME>\r\n\r\n" +
                    "\r\nAnzahl \xFC"
                    "bergebener Buchungen : 0\r\n" +
                    kEndLines);
}

TEST_F(TransferRunTest, EmptyTableCreatesAnEmptyTransferFileInTheNamedDirectory) {
  ASSERT_EQ(mkdir(dir_.File("Export").c_str(), 0755), 0);
  const ProgramResult run = RunProgram(cwd_, {settings_, dir_.File("Export"), "/d"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(FileExists(dir_.File("Export/BEWDATA.dat")));
  EXPECT_EQ(ReadFileBytes(dir_.File("Export/BEWDATA.dat")), "");
  EXPECT_FALSE(FileExists(cwd_ + "/BEWDATA.dat"));
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "\nAnzahl uebergebener Buchungen : 0");
}

TEST_F(TransferRunTest, NoArgumentPrintsTheUsageText) {
  const ProgramResult run = RunProgram(cwd_, {});
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
  const ProgramResult run = RunProgram(cwd_, {dir_.File("app/missing.ini")});
  EXPECT_EQ(run.exit_status, 97);
  EXPECT_EQ(run.out, "Veltrano.Ini-Datei nicht gefunden");
  EXPECT_EQ(Log(), kStartLines +
                       "Veltrano.Ini-Datei nicht gefunden\r\n"
                       "Verbinden mit Datenbank fehlgeschlagen\r\n");
  EXPECT_FALSE(FileExists(cwd_ + "/BEWDATA.dat"));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

TEST_F(TransferRunTest, RefusedPasswordIsLoggedWithTheServersReason) {
  WriteSettings("wrong", "localhost");
  const ProgramResult run = RunProgram(cwd_, {settings_});
  // 96 on POSIX, where 1045 does not fit an exit status; 1045 on Windows.
  EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(1045));
  EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 1045\n");
  const std::string log = Log();
  const std::string reason =
      "Datenbankverbindung fehlgeschlagen, Fehler: 1045, Access denied "
      "for user '" +
      TestDbUser() + "'@'" + TestDbClientHost() + "' (using password: YES)\r\n";
  EXPECT_EQ(log, kStartLines + reason + "Verbinden mit Datenbank fehlgeschlagen\r\n");
}

TEST_F(TransferRunTest, MissingTransferDirectoryEndsWith90BeforeTheSelection) {
  AddPlainBooking(1);
  const ProgramResult run = RunProgram(cwd_, {settings_, dir_.File("nowhere"), "/D"});
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "Zieldatei auf Server kann nicht erzeugt werden\n");
  EXPECT_EQ(Log(), kStartLines +
                       "\xDC"
                       "bergabe vom <TIME>\r\n\r\n"
                       "Zieldatei auf Server kann nicht erzeugt werden\r\n\r\n");
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
  ASSERT_TRUE(WriteFileBytes(cwd_ + "/BEWDATA.dat", earlier));
  ProgramResult run = RunProgram(cwd_, {settings_, "/D"}, earlier.size() + 20);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(Transfer(), earlier);
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "Schreiben in Zieldatei fehlgeschlagen\n"
            "\nAnzahl uebergebener Buchungen : 0");
  for (const auto& row : Marks()) EXPECT_EQ(row[2], "NULL") << row[0];

  // Room for three lines and a part: those three are written and marked, the
  // rest waits for the next run.
  run = RunProgram(cwd_, {settings_}, earlier.size() + 3 * line_size + 20);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Transfer(), earlier + PlainLine(1) + PlainLine(2) + PlainLine(3));
  const Rows marks = Marks();
  ASSERT_EQ(marks.size(), 6u);
  for (size_t i = 0; i < marks.size(); ++i) EXPECT_EQ(marks[i][2], i < 3 ? "4" : "NULL") << i;
  ExpectLogEndsWith(
      "1003,20261201,075813,T3,L1,K, 1, DTA\r\n"
      "Schreiben in Zieldatei fehlgeschlagen\r\n"
      "\r\nAnzahl \xFC"
      "bergebener Buchungen : 3\r\n" +
      kEndLines);

  // The next run without a limit takes the remaining three.
  run = RunProgram(cwd_, {settings_});
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
  const std::string transfer = cwd_ + "/BEWDATA.dat";
  const RunningProgram program = StartProgram(cwd_, {settings_});
  for (int i = 0; i < 200 && ReadFileBytes(transfer).find(",T2,") == std::string::npos; ++i) {
    usleep(25 * 1000);
  }
  ASSERT_NE(ReadFileBytes(transfer).find(",T2,"), std::string::npos);
  ASSERT_EQ(rename(transfer.c_str(), (cwd_ + "/taken.dat").c_str()), 0);
  const ProgramResult run = FinishProgram(program);

  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFileBytes(cwd_ + "/taken.dat"), PlainLine(1) + PlainLine(2));
  EXPECT_FALSE(FileExists(transfer));
  ExpectLogEndsWith(
      "\r\nAnzahl \xFC"
      "bergebener Buchungen : 2\r\n" +
      kEndLines);
  for (const auto& row : Marks()) EXPECT_EQ(row[2], "4") << row[0];
}

TEST_F(TransferRunTest, MissingLogDirectoryChangesNothingElse) {
  ASSERT_EQ(rmdir(dir_.File("Veltrano_php/log").c_str()), 0);
  AddPlainBooking(1);
  const ProgramResult run = RunProgram(cwd_, {settings_});
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
      kStartLines +
      "Datenbankverbindung fehlgeschlagen, Fehler: 1045, Kein Benutzername in der "
      "Einstellungsdatei\r\n"
      "Verbinden mit Datenbank fehlgeschlagen\r\n";
  // No LOGIN record, a misspelled key, an empty file.
  const std::string rest = Record(2, "PASS", TestDbPassword()) + Record(4, "NET8", "localhost");
  for (const std::string& content :
       {rest, Record(1, "LOGON", TestDbUser()) + rest, std::string()}) {
    ASSERT_TRUE(WriteFileBytes(settings_, content));
    ASSERT_TRUE(WriteFileBytes(log_, ""));
    const ProgramResult run = RunProgram(cwd_, {settings_, "/D"});
    EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(1045));
    EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 1045\n");
    EXPECT_EQ(Log(), refused);
  }
  EXPECT_EQ(connections(), before);
  EXPECT_FALSE(FileExists(cwd_ + "/BEWDATA.dat"));
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
    const ProgramResult run = RunProgram(cwd_, args);
    EXPECT_EQ(run.exit_status, 98) << args[1];
    EXPECT_EQ(run.out.rfind("Befehlsformat: \n", 0), 0u) << run.out;
  }
  EXPECT_FALSE(FileExists(log_));
  EXPECT_FALSE(FileExists(cwd_ + "/BEWDATA.dat"));
  EXPECT_FALSE(FileExists(dir_.File("Export/BEWDATA.dat")));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// Line breaks and commas inside values keep one booking on one line of
// seventeen fields; the protocol and console lines keep theirs too.
TEST_F(TransferRunTest, LineBreaksAndCommasInValuesKeepTheLineFormat) {
  AddBooking(
      "'1001','ST1','2026-12-01','2026-12-01 07:58:13','1','T\r\n1','L1','K','KST\n4100',"
      "'','','','201','','01','DTA','M\xFCller, Hans',NULL,NOW()");
  const ProgramResult run = RunProgram(cwd_, {settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Transfer(),
            "1001,ST1,20261201,075813,1,T  1,L1,K,KST 4100,,,,204,,01,DTA,M\xFCller  Hans\n");
  EXPECT_EQ(Log(), kStartLines +
                       "\xDC"
                       "bergabe vom <TIME>\r\n\r\n"
                       "1001,20261201,075813,T  1,L1,K, 1, DTA\r\n"
                       "\r\nAnzahl \xFC"
                       "bergebener Buchungen : 1\r\n" +
                       kEndLines);
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "ID: 1001, Buchung vom 20261201 075813  uebergeben\n"
            "\nAnzahl uebergebener Buchungen : 1");
  EXPECT_EQ(Marks()[0][2], "4");
}

// Started from the wrong directory, a "/D" run says once why nothing is
// logged, naming the log's path as the program uses it; the run itself goes on.
TEST_F(TransferRunTest, UnwritableProtocolIsReportedOnceWithTheSwitch) {
  ASSERT_EQ(rmdir(dir_.File("Veltrano_php/log").c_str()), 0);
  AddPlainBooking(1);
  const ProgramResult quiet = RunProgram(cwd_, {settings_});
  EXPECT_EQ(quiet.exit_status, 1);
  EXPECT_EQ(quiet.out, "");
  AddPlainBooking(2);
  const ProgramResult run = RunProgram(cwd_, {settings_, "/D"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(MaskTime(run.out),
            "Protokolldatei kann nicht geschrieben werden: "
            "../../Veltrano_php/log/Durnwell#Log.txt\n"
            "Uebergabe am <TIME> gestartet\n\n"
            "ID: 1002, Buchung vom 20261201 075813  uebergeben\n"
            "\nAnzahl uebergebener Buchungen : 1");
  EXPECT_EQ(Transfer(), PlainLine(1) + PlainLine(2));
}

// No server where the client library looks (a socket that does not exist, a
// port nothing listens on): error 2002, the exit status itself on Windows.
TEST_F(TransferRunTest, NoServerEndsWithTheClientLibrarysErrorNumber) {
  AddPlainBooking(1);
  ProgramSpec spec;
  spec.path = HALVORN_PROGRAM;
  spec.args = {settings_};
  spec.cwd = cwd_;
  spec.env = {"MYSQL_UNIX_PORT=" + dir_.File("no.sock"), "MYSQL_TCP_PORT=1"};
  const ProgramResult run = ::RunProgram(spec);
  EXPECT_EQ(run.exit_status, ConnectFailureExitStatus(2002));
  EXPECT_EQ(run.out, "Datenbankverbindung fehlgeschlagen, Fehler: 2002\n");
  // The reason is the client library's own text, which names the socket or
  // the host.
  const std::string refused =
      kStartLines + "Datenbankverbindung fehlgeschlagen, Fehler: 2002, Can't connect to ";
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, refused.size()), refused);
  ExpectLogEndsWith(")\r\nVerbinden mit Datenbank fehlgeschlagen\r\n");
  EXPECT_FALSE(FileExists(cwd_ + "/BEWDATA.dat"));
  EXPECT_EQ(Marks()[0][2], "NULL");
}

// PORT, TLS and TLS_CA: a run over TLS to the TLS test server (PORT before
// MYSQL_TCP_PORT), a refused handshake or a server without TLS as a refused
// connection (2026), and unusable settings refused before connecting (97).
TEST_F(TransferRunTest, ConnectionSettingsTakeTheRunToTlsOrRefuseIt) {
  AddPlainBooking(1);
  const TlsTestServer tls = TestTlsServer();
  const std::string port = Record(5, "PORT", std::to_string(tls.port));
  const std::string verify = Record(6, "TLS", "VERIFY_IDENTITY") + Record(7, "TLS_CA", tls.ca);
  const std::string required = Record(6, "TLS", "REQUIRED");
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
       Record(5, "PORT", std::to_string(TestDbPort())) + required,
       {},
       ConnectFailureExitStatus(2026),
       refused + "\n",
       refused + ", TLS verlangt, aber der Server bietet es nicht an\r\n"},
      {TestDbUser(),
       "127.0.0.1",
       Record(5, "PORT", "33o6") + required,
       {},
       97,
       "Einstellungsdatei unbrauchbar: PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): "
       "\"33o6\"\n",
       "\r\nEinstellungsdatei unbrauchbar: PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): "
       "\"33o6\"\r\nVerbinden mit Datenbank fehlgeschlagen\r\n"},
      {TestDbUser(),
       "127.0.0.1",
       port + Record(6, "TLS", "PREFERRED"),
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
    ASSERT_TRUE(WriteFileBytes(settings_, Record(1, "LOGIN", c.user) +
                                              Record(2, "PASS", TestDbPassword()) +
                                              Record(4, "NET8", c.host) + c.records));
    ProgramSpec spec;
    spec.path = HALVORN_PROGRAM;
    spec.args = {settings_};
    spec.cwd = cwd_;
    spec.env = c.env;
    const ProgramResult run = ::RunProgram(spec);
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
  ASSERT_TRUE(WriteFileBytes(cwd_ + "/BEWDATA.dat", "earlier\n"));
  void* held = nullptr;
  ASSERT_TRUE(HoldFileWithoutSharing(cwd_ + "/BEWDATA.dat", held));
  const ProgramResult run = RunProgram(cwd_, {settings_, "/D"});
  ReleaseHeldFile(held);
  EXPECT_EQ(run.exit_status, 90);
  EXPECT_EQ(MaskTime(run.out),
            "Uebergabe am <TIME> gestartet\n\n"
            "Zieldatei auf Server kann nicht erzeugt werden\n");
  EXPECT_EQ(Transfer(), "earlier\n");
  EXPECT_EQ(Marks()[0][2], "NULL");

  const ProgramResult next = RunProgram(cwd_, {settings_});
  EXPECT_EQ(next.exit_status, 1);
  EXPECT_EQ(Transfer(), "earlier\n" + PlainLine(1));
  EXPECT_EQ(Marks()[0][2], "4");
}
#endif

// A server that binary-logs statements would refuse the markings at READ
// COMMITTED: the run keeps the server's level, says so, and transfers.
TEST_F(TransferRunTest, StatementLoggingServerKeepsItsIsolationLevel) {
  AddPlainBooking(1);
  Exec("SET GLOBAL binlog_format = 'STATEMENT'");
  const ProgramResult run = RunProgram(cwd_, {settings_});
  Exec("SET GLOBAL binlog_format = 'MIXED'");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Transfer(), PlainLine(1));
  EXPECT_EQ(Marks()[0][2], "4");
  const std::string head = kStartLines +
                           "Server protokolliert Anweisungen (binlog_format=STATEMENT): \xDC"
                           "bergabe mit der Isolationsstufe des Servers\r\n\xDC"
                           "bergabe vom <TIME>\r\n";
  EXPECT_EQ(Log().substr(0, head.size()), head);
}

}  // namespace
