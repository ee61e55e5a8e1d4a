// Child processes for tests: CreateProcess on Windows, fork and exec on POSIX.
#include "test/program.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cctype>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

const char kBareLineFeed[] = "<LF without CR>";

namespace {

// The NAME of a NAME=VALUE entry.
std::string EnvName(const std::string& entry) { return entry.substr(0, entry.find('=', 1)); }

}  // namespace

#ifdef _WIN32

extern "C" char** _environ;

namespace {

// Quotes one argument the way the C runtime's command line parser reads it
// back: backslashes are literal unless they precede a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The caller's environment with the entries of spec.env, as a block of
// NUL-terminated entries ended by another NUL.
std::string EnvironmentBlock(const std::vector<std::string>& additions) {
  std::vector<std::string> entries;
  for (char** entry = _environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const bool replaced =
        std::any_of(additions.begin(), additions.end(),
                    [&](const std::string& a) { return SameName(EnvName(a), EnvName(text)); });
    if (!replaced) entries.push_back(text);
  }
  entries.insert(entries.end(), additions.begin(), additions.end());
  std::string block;
  for (const std::string& entry : entries) block += entry + '\0';
  return block + '\0';
}

}  // namespace

RunningProgram StartProgram(const ProgramSpec& spec) {
  RunningProgram program;
  if (spec.file_size_limit >= 0) return program;
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return program;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  std::string command_line = QuoteArgument(spec.path);
  for (const std::string& arg : spec.args) command_line += " " + QuoteArgument(arg);
  std::string environment = EnvironmentBlock(spec.env);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const BOOL started =
      CreateProcessA(spec.path.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                     spec.env.empty() ? nullptr : environment.data(),
                     spec.cwd.empty() ? nullptr : spec.cwd.c_str(), &startup, &info);
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return program;
  }
  CloseHandle(info.hThread);
  program.pid = info.dwProcessId;
  program.process = reinterpret_cast<std::intptr_t>(info.hProcess);
  program.out = reinterpret_cast<std::intptr_t>(read_end);
  return program;
}

void KillProgram(RunningProgram& program) {
  if (program.pid < 0) return;
  TerminateProcess(reinterpret_cast<HANDLE>(program.process), 1);
  program.killed = true;
}

ProgramResult FinishProgram(RunningProgram& program) {
  ProgramResult result;
  if (program.pid < 0) return result;
  const HANDLE out = reinterpret_cast<HANDLE>(program.out);
  const HANDLE process = reinterpret_cast<HANDLE>(program.process);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(out, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.raw_out.append(buffer, got);
  }
  CloseHandle(out);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process, &code) && !program.killed) {
    result.exit_status = static_cast<int>(code);
  }
  CloseHandle(process);
  program.pid = -1;
  result.out = PosixConsoleText(result.raw_out);
  return result;
}

std::string PosixConsoleText(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) text += kBareLineFeed;
    text += raw[i];
  }
  return text;
}

#else

extern char** environ;

RunningProgram StartProgram(const ProgramSpec& spec) {
  RunningProgram program;
  // Everything the child needs is prepared before the fork.
  std::vector<char*> argv = {const_cast<char*>(spec.path.c_str())};
  for (const std::string& arg : spec.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> kept;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string name = EnvName(*entry);
    bool replaced = false;
    for (const std::string& added : spec.env) replaced = replaced || EnvName(added) == name;
    if (!replaced) kept.push_back(*entry);
  }
  std::vector<char*> envp;
  for (const std::string& entry : kept) envp.push_back(const_cast<char*>(entry.c_str()));
  for (const std::string& entry : spec.env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  // The read end stays out of programs started later.
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return program;
  fcntl(pipe_fds[0], F_SETFD, FD_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (!spec.cwd.empty() && chdir(spec.cwd.c_str()) != 0) _exit(126);
    if (spec.file_size_limit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlim_t size = static_cast<rlim_t>(spec.file_size_limit);
      const struct rlimit limit = {size, size};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execve(spec.path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    return program;
  }
  program.pid = pid;
  program.out = pipe_fds[0];
  return program;
}

void KillProgram(RunningProgram& program) {
  if (program.pid < 0) return;
  kill(static_cast<pid_t>(program.pid), SIGKILL);
  program.killed = true;
}

ProgramResult FinishProgram(RunningProgram& program) {
  ProgramResult result;
  if (program.pid < 0) return result;
  const int out = static_cast<int>(program.out);
  char buffer[4096];
  ssize_t got;
  while ((got = read(out, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) result.raw_out.append(buffer, static_cast<size_t>(got));
  }
  close(out);
  int status = 0;
  while (waitpid(static_cast<pid_t>(program.pid), &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) && !program.killed ? WEXITSTATUS(status) : -1;
  program.pid = -1;
  result.out = PosixConsoleText(result.raw_out);
  return result;
}

std::string PosixConsoleText(const std::string& raw) { return raw; }

#endif

ProgramResult RunProgram(const ProgramSpec& spec) {
  RunningProgram program = StartProgram(spec);
  return FinishProgram(program);
}
