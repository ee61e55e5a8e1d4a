// Tests of the protocol log: line ends and bytes on disk, rotation, silence.
#include "log/protocol_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test/temp_dir.h"

namespace {

ProtocolLog LogIn(const ScopedTempDir& dir) {
  return ProtocolLog{dir.File("Durnwell#Log.txt"), dir.File("Durnwell#Log_bak.txt")};
}

TEST(WriteProtocolTest, WritesCrLfAndSingleByteUmlauts) {
  ScopedTempDir dir;
  const ProtocolLog log = LogIn(dir);
  WriteFileBytes(log.path, "earlier\r\n");
  WriteProtocol(log, "\n>>>>Protokollierung gestartet:");
  WriteProtocol(log,
                "\xDC"
                "bergabe vom 2024-03-01 06:00:00\n");
  WriteProtocol(log,
                "Anzahl \xFC"
                "bergebener Buchungen : 3");
  WriteProtocol(log, "a\r\nb");  // a CR already present is kept, the LF still gets its own
  EXPECT_EQ(ReadFileBytes(log.path),
            "earlier\r\n\r\n>>>>Protokollierung gestartet:\r\n"
            "\xDC"
            "bergabe vom 2024-03-01 06:00:00\r\n\r\n"
            "Anzahl \xFC"
            "bergebener Buchungen : 3\r\n"
            "a\r\r\nb\r\n");
}

TEST(WriteProtocolTest, RotatesOnlyWhenLargerThanTenMebibytes) {
  ScopedTempDir dir;
  const ProtocolLog log = LogIn(dir);
  const size_t limit = static_cast<size_t>(kProtocolRotateSize);
  ASSERT_EQ(limit, 10485760u);

  // "x" and CR LF bring the file to exactly the limit: it stays.
  WriteFileBytes(log.path, std::string(limit - 3, '.'));
  WriteFileBytes(log.backup_path, "old backup");
  WriteProtocol(log, "x");
  EXPECT_EQ(std::filesystem::file_size(log.path), limit);
  EXPECT_EQ(ReadFileBytes(log.backup_path), "old backup");

  // One line more: the log becomes the backup, its last line the one just written.
  WriteProtocol(log, "y");
  EXPECT_FALSE(FileExists(log.path));
  const std::string backup = ReadFileBytes(log.backup_path);
  EXPECT_EQ(backup.size(), limit + 3);
  EXPECT_EQ(backup.substr(backup.size() - 6), "x\r\ny\r\n");

  // The next line starts a new log.
  WriteProtocol(log, "z");
  EXPECT_EQ(ReadFileBytes(log.path), "z\r\n");

  // A single byte over the limit is enough.
  WriteFileBytes(log.path, std::string(limit - 2, '.'));
  WriteProtocol(log, "w");
  EXPECT_FALSE(FileExists(log.path));
  EXPECT_EQ(std::filesystem::file_size(log.backup_path), limit + 1);
}

TEST(WriteProtocolTest, MissingLogDirectoryIsIgnored) {
  ScopedTempDir dir;
  const ProtocolLog log{dir.File("gone/Durnwell#Log.txt"), dir.File("gone/Durnwell#Log_bak.txt")};
  WriteProtocol(log, "lost");
  EXPECT_FALSE(FileExists(dir.File("gone")));
}

TEST(WriteProtocolTest, DefaultPathsLieTwoLevelsUpFromTheWorkingDirectory) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.File("a/b"));
  std::filesystem::create_directories(dir.File("Veltrano_php/log"));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.File("a/b"));
  WriteProtocol(ProtocolLog{}, "Programm beendet");
  std::filesystem::current_path(previous);
  EXPECT_EQ(ReadFileBytes(dir.File("Veltrano_php/log/Durnwell#Log.txt")), "Programm beendet\r\n");
  EXPECT_EQ(ProtocolLog{}.backup_path, "../../Veltrano_php/log/Durnwell#Log_bak.txt");
}

}  // namespace
