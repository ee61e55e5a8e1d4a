// Whole runs of the program against the test server: the transfer file, the
// protocol log, the console, the exit status and the table afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <string>
#include <vector>

#include "export/transfer_file.h"
#include "platform/platform.h"
#include "test/run_tree.h"

namespace {

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

}  // namespace
