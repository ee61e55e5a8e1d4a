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

int SyncPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  const int synced = fsync(fd);
  const int closed = close(fd);
  return synced == 0 && closed == 0 ? 0 : -1;
}

}  // namespace

// The directory is synced too, so that a file created by this run keeps its
// name after a power cut.
int SyncFile(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : path.substr(0, slash);
  return SyncPath(path) == 0 && SyncPath(directory) == 0 ? 0 : -1;
}

int TruncateFile(const std::string& path, long long size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

int ConnectFailureExitStatus(int /*error_number*/) { return 96; }

#endif
