// Starting a program as a child process for tests: its working directory,
// arguments and environment, its console output and its full exit status.
// CreateProcess on Windows, fork and exec on POSIX.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramSpec {
  std::string path;               // the executable
  std::vector<std::string> args;  // the arguments after the program's own name
  std::string cwd;                // the working directory; empty: the caller's
  // NAME=VALUE entries added to (or replacing in) the caller's environment.
  std::vector<std::string> env;
  // POSIX only: the child's RLIMIT_FSIZE, with SIGXFSZ ignored so that a write
  // past it fails instead of ending the program; -1 for none. On Windows a
  // limit makes StartProgram fail.
  long long file_size_limit = -1;
};

struct ProgramResult {
  // The exit status as the platform keeps it: all 32 bits on Windows, the low
  // 8 bits on POSIX; -1 when the program could not be started, was ended by a
  // signal or by KillProgram.
  int exit_status = -1;
  // The console (standard output) in the form a POSIX system writes it: on
  // Windows every CR LF of text mode reads LF, and a LF without CR reads
  // kBareLineFeed + LF, so that it never compares equal to a POSIX text.
  std::string out;
  std::string raw_out;  // the console's bytes as written
};

// Stands in ProgramResult::out for a LF that Windows wrote without a CR.
extern const char kBareLineFeed[];

struct RunningProgram {
  long long pid = -1;         // -1 when the program could not be started
  std::intptr_t process = 0;  // Windows: the process handle
  std::intptr_t out = -1;     // the read end of the console pipe
  bool killed = false;
};

// Starts spec.path; standard error and input are the caller's. Check pid.
RunningProgram StartProgram(const ProgramSpec& spec);

// Ends a started program at once (SIGKILL, TerminateProcess). FinishProgram
// must still be called to collect it.
void KillProgram(RunningProgram& program);

// Reads the console to its end, waits for the program and releases it.
ProgramResult FinishProgram(RunningProgram& program);

// StartProgram and FinishProgram in one.
ProgramResult RunProgram(const ProgramSpec& spec);

// The console text as a POSIX system writes it (see ProgramResult::out).
std::string PosixConsoleText(const std::string& raw);
