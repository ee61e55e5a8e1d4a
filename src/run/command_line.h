// The program's command line: settings file, transfer directory, "/D".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct CommandLine {
  std::string settings_path;  // the first argument, as typed
  std::string transfer_path;  // "DIR/BEWDATA" or "BEWDATA", without ".dat"
  int console = 0;            // 1 when any argument is "/D" in any letter case
};

// Reads the arguments after the program name into line. The second argument
// is the transfer directory unless it is "/D"; it is used as typed. Returns
// false (the usage text is then due) when there is no argument at all, when
// the second is empty, or when one after the second is not "/D".
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line);

// Writes the usage text to out.
void PrintUsage(FILE* out);
