// The command line and the usage text.
#include "run/command_line.h"

#include "export/str_upper.h"

namespace {

bool IsConsoleSwitch(std::string arg) { return StrUpper(arg) == "/D"; }

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line) {
  if (args.empty()) return false;
  // An empty directory would put the file into the root directory.
  if (args.size() >= 2 && args[1].empty()) return false;
  // Only "/D" may follow the directory: a directory typed after "/D" must not
  // leave the file in the working directory unnoticed.
  for (size_t i = 2; i < args.size(); ++i) {
    if (!IsConsoleSwitch(args[i])) return false;
  }
  line.settings_path = args[0];
  line.transfer_path = "BEWDATA";
  if (args.size() >= 2 && !IsConsoleSwitch(args[1])) {
    line.transfer_path = args[1] + "/" + "BEWDATA";
  }
  line.console = 0;
  for (const std::string& arg : args) {
    if (IsConsoleSwitch(arg)) line.console = 1;
  }
  return true;
}

void PrintUsage(FILE* out) {
  std::fputs("Befehlsformat: \n", out);
  std::fputs("Halvorn_<DB>.EXE <Veltrano.ini> <ZielPfad>\n", out);
  std::fputs("\n", out);
  std::fputs("DB           : Datenbanksystem, zB. Oracle\n", out);
  std::fputs("Veltrano.ini: Name und Pfad der Veltrano.ini-Datei\n", out);
  std::fputs("Zielpfad     : Pfad der Uebergabedatei\n", out);
  std::fputs("\n", out);
}
