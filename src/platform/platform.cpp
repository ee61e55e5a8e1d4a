// Platform differences: file flushing and truncation, exit status width.
#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

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

#else

namespace {

int SyncPath(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags);
  if (fd < 0) return -1;
  const int synced = fsync(fd);
  const int closed = close(fd);
  return synced == 0 && closed == 0 ? 0 : -1;
}

}  // namespace

// The directory is synced too, so that a file created by this run keeps its
// name after a power cut. Some file systems cannot sync a directory; that
// alone does not fail the flush.
int SyncFile(const std::string& path) {
  // Opened for writing, like every use of the file: it need not be readable.
  if (SyncPath(path, O_WRONLY) != 0) return -1;
  const size_t slash = path.find_last_of('/');
  SyncPath(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash), O_RDONLY);
  return 0;
}

int TruncateFile(const std::string& path, long long size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

int ConnectFailureExitStatus(int /*error_number*/) { return 96; }

#endif
