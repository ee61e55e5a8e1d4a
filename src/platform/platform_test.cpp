// Tests of the platform layer on real files: file identity, replacing a file
// in one step, and the exclusive file lock that stands in for the run guard.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "test/temp_dir.h"

namespace {

TEST(PlatformTest, FileIdentityFollowsTheFileNotTheName) {
  ScopedTempDir dir;
  const std::string path = dir.File("BEWDATA.dat");
  FileId id, again, other;
  long long size = -1;
  EXPECT_EQ(ReadFileId(path, id, size), 1);
  EXPECT_EQ(ReadFileId(dir.File("gone/BEWDATA.dat"), id, size), 1);

  ASSERT_TRUE(WriteFileBytes(path, "abc\n"));
  ASSERT_EQ(ReadFileId(path, id, size), 0);
  EXPECT_EQ(size, 4);
  ASSERT_TRUE(WriteFileBytes(path, "abcdef\n"));
  ASSERT_EQ(ReadFileId(path, again, size), 0);
  EXPECT_EQ(size, 7);
  EXPECT_TRUE(id.volume == again.volume && id.index == again.index);

  // Another file put in its place has another identity, and is whole.
  ASSERT_TRUE(WriteFileBytes(dir.File("new.dat"), "x\n"));
  ASSERT_EQ(ReplaceFileAtomically(dir.File("new.dat"), path), 0);
  ASSERT_EQ(ReadFileId(path, other, size), 0);
  EXPECT_FALSE(id.volume == other.volume && id.index == other.index);
  EXPECT_EQ(ReadFileBytes(path), "x\n");
  EXPECT_FALSE(FileExists(dir.File("new.dat")));

  EXPECT_EQ(TruncateFile(path, 1), 0);
  EXPECT_EQ(ReadFileBytes(path), "x");
  EXPECT_EQ(SyncFile(path), 0);
}

TEST(PlatformTest, FileLockIsExclusiveUntilReleased) {
  ScopedTempDir dir;
  const std::string path = dir.File("Halvorn_MySQL.sperre");
  FileLock first, second;
  ASSERT_EQ(TakeFileLock(path, first), 0);
  EXPECT_EQ(TakeFileLock(path, second), 1);
  ReleaseFileLock(first);
  EXPECT_EQ(TakeFileLock(path, second), 0);
  ReleaseFileLock(second);
  ReleaseFileLock(second);
  EXPECT_EQ(TakeFileLock(dir.File("gone/lock"), first), -1);
}

// The run record and the stand-in lock file go beside the transfer file,
// whichever separator the directory was typed with.
TEST(PlatformTest, SiblingPathIsBesideTheFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"BEWDATA.dat", "Halvorn_MySQL.lauf"},
      {"D:\\EXPORT/BEWDATA.dat", "D:\\EXPORT/Halvorn_MySQL.lauf"},
      {"D:\\EXPORT\\BEWDATA.dat", "D:\\EXPORT\\Halvorn_MySQL.lauf"},
      {"/BEWDATA.dat", "/Halvorn_MySQL.lauf"},
      {"a/b\\c/BEWDATA.dat", "a/b\\c/Halvorn_MySQL.lauf"},
  };
  for (const auto& [path, sibling] : cases) {
    EXPECT_EQ(SiblingPath(path, "Halvorn_MySQL.lauf"), sibling) << path;
  }
}

}  // namespace
