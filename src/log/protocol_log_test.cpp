// Tests of the protocol log: line ends and bytes on disk, rotation, silence.
#include "log/protocol_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

TEST(WriteProtocolTest, MissingDirectoryIsIgnoredAndDefaultsLieTwoLevelsUp) {
  ScopedTempDir dir;
  WriteProtocol(ProtocolLog{dir.File("gone/Log.txt"), dir.File("gone/Log_bak.txt")}, "lost");
  EXPECT_FALSE(FileExists(dir.File("gone")));
  EXPECT_EQ(ProtocolLog{}.path, "../../Veltrano_php/log/Durnwell#Log.txt");
  EXPECT_EQ(ProtocolLog{}.backup_path, "../../Veltrano_php/log/Durnwell#Log_bak.txt");
}

}  // namespace
