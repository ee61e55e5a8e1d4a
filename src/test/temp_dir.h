// A temporary directory for tests that work on real files; removed with
// everything in it when the object goes out of scope.
#pragma once

#include <string>

#ifdef _WIN32
#include <direct.h>

// The tests create directories with POSIX's mkdir(path, mode); Windows' C
// runtime has only mkdir(path), and no file modes.
inline int mkdir(const char* path, int /*mode*/) { return _mkdir(path); }
#endif

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Writes bytes to path, replacing the file. Returns false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

#ifdef _WIN32
// Opens the file at path for reading and writing without sharing, as a
// program that locks the file it works on: any other open fails until
// ReleaseHeldFile. Returns false when the file cannot be opened.
bool HoldFileWithoutSharing(const std::string& path, void*& handle);
void ReleaseHeldFile(void* handle);
#endif
