// Platform differences: flushing, truncation, file identity and replacement,
// file locks, the file size limit and the exit status width.
#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#endif

std::string SiblingPath(const std::string& path, const char* name) {
  const size_t slash = path.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
}

#ifdef _WIN32

int SyncFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const BOOL flushed = FlushFileBuffers(file);
  const BOOL closed = CloseHandle(file);
  return flushed && closed ? 0 : -1;
}

int TruncateFile(const std::string& path, long long size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER position;
  position.QuadPart = size;
  const BOOL cut = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  const BOOL closed = CloseHandle(file);
  return cut && closed ? 0 : -1;
}

int ConnectFailureExitStatus(int error_number) { return error_number; }

int SyncDirectoryOf(const std::string& /*path*/) { return 0; }

int ReadFileId(const std::string& path, FileId& id, long long& size) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : -1;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL read = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!read) return -1;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  size = static_cast<long long>((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow);
  return 0;
}

int ReplaceFileAtomically(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : -1;
}

int TakeFileLock(const std::string& path, FileLock& lock) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED whole = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                  &whole)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION ? 1 : -1;
  }
  lock.handle = reinterpret_cast<long long>(file);
  return 0;
}

void ReleaseFileLock(FileLock& lock) {
  if (lock.handle == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
  lock.handle = -1;
}

void KeepRunningAtFileSizeLimit() {}

#else

namespace {

int SyncPath(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags);
  if (fd < 0) return -1;
  const int synced = fsync(fd);
  const int closed = close(fd);
  return synced == 0 && closed == 0 ? 0 : -1;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// The directory is synced too, so that a file created by this run keeps its
// name after a power cut. Some file systems cannot sync a directory; that
// alone does not fail the flush.
int SyncFile(const std::string& path) {
  // Opened for writing, like every use of the file: it need not be readable.
  if (SyncPath(path, O_WRONLY) != 0) return -1;
  SyncDirectoryOf(path);
  return 0;
}

int SyncDirectoryOf(const std::string& path) { return SyncPath(DirectoryOf(path), O_RDONLY); }

int ReadFileId(const std::string& path, FileId& id, long long& size) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR ? 1 : -1;
  id.volume = static_cast<unsigned long long>(info.st_dev);
  id.index = static_cast<unsigned long long>(info.st_ino);
  size = static_cast<long long>(info.st_size);
  return 0;
}

int ReplaceFileAtomically(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

int TakeFileLock(const std::string& path, FileLock& lock) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? 1 : -1;
  }
  lock.handle = fd;
  return 0;
}

void ReleaseFileLock(FileLock& lock) {
  if (lock.handle == -1) return;
  close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

void KeepRunningAtFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }

int TruncateFile(const std::string& path, long long size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

int ConnectFailureExitStatus(int /*error_number*/) { return 96; }

#endif
