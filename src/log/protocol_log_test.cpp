// Tests of the protocol log: line ends and bytes on disk, rotation, silence.
#include "log/protocol_log.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test/temp_dir.h"

namespace {

TEST(WriteProtocolTest, AppendsCrLfLinesWithSingleByteUmlauts) {
  ScopedTempDir dir;
  const ProtocolLog log{dir.File("Durnwell#Log.txt"), dir.File("Durnwell#Log_bak.txt")};
  WriteFileBytes(log.path, "earlier\r\n");
  // A CR already present is kept; the LF after it still gets its own.
  for (const char* text : {"\n>>>>", "\xDC und \xFC\n", "a\r\nb"}) WriteProtocol(log, text);
  EXPECT_EQ(ReadFileBytes(log.path), "earlier\r\n\r\n>>>>\r\n\xDC und \xFC\r\n\r\na\r\r\nb\r\n");
}

TEST(WriteProtocolTest, RotatesOnlyWhenLargerThanTenMebibytes) {
  ScopedTempDir dir;
  const ProtocolLog log{dir.File("Durnwell#Log.txt"), dir.File("Durnwell#Log_bak.txt")};
  const size_t limit = 10485760;  // the size itself, not kProtocolRotateSize

  // "x" and CR LF bring the file to exactly the limit: it stays.
  WriteFileBytes(log.path, std::string(limit - 3, '.'));
  WriteFileBytes(log.backup_path, "old backup");
  WriteProtocol(log, "x");
  EXPECT_EQ(std::filesystem::file_size(log.path), limit);
  EXPECT_EQ(ReadFileBytes(log.backup_path), "old backup");

  // One line more: the log replaces the backup, its last line the one just written.
  WriteProtocol(log, "y");
  EXPECT_FALSE(FileExists(log.path));
  const std::string backup = ReadFileBytes(log.backup_path);
  EXPECT_EQ(backup.size(), limit + 3);
  EXPECT_EQ(backup.substr(backup.size() - 6), "x\r\ny\r\n");

  // A single byte over the limit is enough.
  WriteFileBytes(log.path, std::string(limit - 2, '.'));
  WriteProtocol(log, "w");
  EXPECT_FALSE(FileExists(log.path));
  EXPECT_EQ(std::filesystem::file_size(log.backup_path), limit + 1);
}

// Several lines through one open leave the bytes that one call per line
// leaves, a rotation in the middle included.
TEST(WriteProtocolTest, LinesAtOnceLeaveTheSameBytesAsOneAtATime) {
  ScopedTempDir dir;
  const ProtocolLog one{dir.File("one.txt"), dir.File("one_bak.txt")};
  const ProtocolLog all{dir.File("all.txt"), dir.File("all_bak.txt")};
  const std::vector<std::string> texts = {"a", "b\nc", "d", "e", "f"};
  for (const ProtocolLog* log : {&one, &all}) {
    WriteFileBytes(log->path, std::string(10485760 - 8, '.'));
  }
  for (const std::string& text : texts) WriteProtocol(one, text);
  std::vector<const std::string*> lines;
  for (const std::string& text : texts) lines.push_back(&text);
  WriteProtocolLines(all, lines);

  EXPECT_EQ(ReadFileBytes(all.path), ReadFileBytes(one.path));
  EXPECT_EQ(ReadFileBytes(all.path), "d\r\ne\r\nf\r\n");
  EXPECT_EQ(ReadFileBytes(all.backup_path), ReadFileBytes(one.backup_path));
}

TEST(WriteProtocolTest, MissingDirectoryIsIgnoredAndDefaultsLieTwoLevelsUp) {
  ScopedTempDir dir;
  WriteProtocol(ProtocolLog{dir.File("gone/Log.txt"), dir.File("gone/Log_bak.txt")}, "lost");
  EXPECT_FALSE(FileExists(dir.File("gone")));
  EXPECT_EQ(ProtocolLog{}.path, "../../Veltrano_php/log/Durnwell#Log.txt");
  EXPECT_EQ(ProtocolLog{}.backup_path, "../../Veltrano_php/log/Durnwell#Log_bak.txt");
}

// With a console (a "/D" run) the first lost line is reported there once;
// without one nothing is printed.
TEST(WriteProtocolTest, LostLineIsReportedOnceOnTheConsole) {
  ScopedTempDir dir;
  FILE* console = std::fopen(dir.File("console.txt").c_str(), "w+b");
  ASSERT_NE(console, nullptr);
  ProtocolLog log{dir.File("gone/Log.txt"), dir.File("gone/Log_bak.txt")};
  WriteProtocol(log, "silent");
  log.console = console;
  WriteProtocol(log, "first");
  WriteProtocol(log, "second");
  std::fclose(console);
  EXPECT_EQ(ReadFileBytes(dir.File("console.txt")),
            "Protokolldatei kann nicht geschrieben werden: " + dir.File("gone/Log.txt") + "\n");
}

#ifndef _WIN32
// POSIX only: a file size limit (RLIMIT_FSIZE) in a forked child.
// A log that opens but cannot take the line (here a file size limit) is
// reported as well.
TEST(WriteProtocolTest, WriteFailureIsReported) {
  ScopedTempDir dir;
  const ProtocolLog log_path{dir.File("Log.txt"), dir.File("Log_bak.txt")};
  WriteFileBytes(log_path.path, "0123456789");
  // The limit applies to the whole process, so the write runs in a child,
  // whose console is a pipe, which the limit does not cover.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    FILE* console = fdopen(pipe_fds[1], "wb");
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {12, 12};
    setrlimit(RLIMIT_FSIZE, &limit);
    ProtocolLog log = log_path;
    log.console = console;
    WriteProtocol(log, "too long for the limit");
    WriteProtocol(log, "again");
    std::fclose(console);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string console;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) console.append(buffer, got);
  close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(console, "Protokolldatei kann nicht geschrieben werden: " + log_path.path + "\n");
}
#endif

}  // namespace
