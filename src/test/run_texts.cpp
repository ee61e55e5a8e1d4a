// A run's protocol log and console as the end-to-end tests expect them.
#include "test/run_texts.h"

#include <regex>

const char kMaskedTime[] = "<TIME>";
const char kLogStarted[] =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:";
const char kLogServerTime[] = "\334bergabe vom <TIME>\n";
const char kLogEnded[] = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n";
const char kConsoleStarted[] = "Uebergabe am <TIME> gestartet\n\n";

std::string MaskServerTime(const std::string& text) {
  static const std::regex time(
      "(\334bergabe vom |Uebergabe am )"
      "[0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
  return std::regex_replace(text, time, std::string("$1") + kMaskedTime);
}

std::string LogOf(const std::vector<std::string>& texts) {
  std::string bytes;
  for (const std::string& text : texts) {
    for (char c : text) {
      if (c == '\n') bytes += '\r';
      bytes += c;
    }
    bytes += "\r\n";
  }
  return bytes;
}

std::string LogCount(int count) {
  return "\nAnzahl \374bergebener Buchungen : " + std::to_string(count);
}

std::string ConsoleCount(int count) {
  return "\nAnzahl uebergebener Buchungen : " + std::to_string(count);
}

std::string CommittedRunLog(const std::vector<std::string>& booking_lines) {
  std::vector<std::string> texts = {kLogStarted, kLogServerTime};
  texts.insert(texts.end(), booking_lines.begin(), booking_lines.end());
  texts.push_back(LogCount(static_cast<int>(booking_lines.size())));
  texts.push_back(kLogEnded);
  return LogOf(texts);
}

std::string CommittedRunConsole(const std::vector<std::string>& booking_lines) {
  std::string console = kConsoleStarted;
  for (const std::string& line : booking_lines) console += line;
  return console + ConsoleCount(static_cast<int>(booking_lines.size()));
}
