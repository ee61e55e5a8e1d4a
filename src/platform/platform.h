// Platform differences in one place: flushing a file to stable storage,
// cutting a file back to a size, and the width of the process exit status.
#pragma once

#include <string>

// Flushes the file at path to stable storage (fsync, FlushFileBuffers), and
// on POSIX its directory as far as the file system allows.
// Returns 0, or -1 when the file cannot be opened or flushed.
int SyncFile(const std::string& path);

// Cuts the file at path back to size bytes. Returns 0, or -1 on failure.
int TruncateFile(const std::string& path, long long size);

// The exit status that reports a refused connection with the client library's
// error number: the number itself where the platform keeps the full exit
// status (Windows), 96 where only its low 8 bits survive (POSIX), since there
// 2049 would read as 1, the status of a successful run.
int ConnectFailureExitStatus(int error_number);
