// Platform differences in one place: flushing files and directories to
// stable storage, cutting a file back, a file's identity, replacing a file in
// one step, the exclusive file lock, paths beside a file, what a file size
// limit does to the process, and the width of the process exit status.
#pragma once

#include <string>

// Flushes the file at path to stable storage (fsync, FlushFileBuffers), and
// on POSIX its directory as far as the file system allows.
// Returns 0, or -1 when the file cannot be opened or flushed.
int SyncFile(const std::string& path);

// Cuts the file at path back to size bytes. Returns 0, or -1 on failure.
int TruncateFile(const std::string& path, long long size);

// Flushes the directory that holds path to stable storage, so that a file
// created, renamed or removed there keeps that state after a power cut.
// Returns 0, or -1 where the file system cannot (Windows needs nothing).
int SyncDirectoryOf(const std::string& path);

// Which file a path names: device and file number, stable while the file
// exists, different for a file created anew under the same name.
struct FileId {
  unsigned long long volume = 0;
  unsigned long long index = 0;
};

// Reads the identity and size of the file at path. Returns 0, 1 when there is
// no such file, or -1 when it cannot be examined.
int ReadFileId(const std::string& path, FileId& id, long long& size);

// Replaces the file at to by the file at from in one step (a reader sees the
// old or the new file, never a mixture). Returns 0, or -1 on failure.
int ReplaceFileAtomically(const std::string& from, const std::string& to);

// The path of name beside the file at path: path up to and including its
// last "/" or "\" (either, on every platform), then name; name alone when
// path has neither.
std::string SiblingPath(const std::string& path, const char* name);

// An exclusive lock on a file, held until ReleaseFileLock or the process ends.
struct FileLock {
  long long handle = -1;
};

// Creates the file at path when needed and takes its exclusive lock without
// waiting. Returns 0 when taken, 1 when another process holds it, -1 when the
// file cannot be opened or locked.
int TakeFileLock(const std::string& path, FileLock& lock);
void ReleaseFileLock(FileLock& lock);

// Makes a write past the process's file size limit fail with an error instead
// of ending the process (SIGXFSZ on POSIX; nothing to do on Windows).
void KeepRunningAtFileSizeLimit();

// The exit status that reports a refused connection with the client library's
// error number: the number itself where the platform keeps the full exit
// status (Windows), 96 where only its low 8 bits survive (POSIX), since there
// 2049 would read as 1, the status of a successful run.
int ConnectFailureExitStatus(int error_number);
