// The status file: formatting, reading one value back, replacing it whole.
#include "log/status_file.h"

#include <cstdio>

#include "platform/platform.h"

const char kStatusFileName[] = "Halvorn_MySQL.status";

namespace {

// text as ASCII on one line.
std::string AsciiLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
    if (byte >= 0x80) c = '?';
  }
  return line;
}

}  // namespace

std::string FormatUtcTime(std::time_t time) {
  char text[32] = "";
  const std::tm* utc = std::gmtime(&time);
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

std::string FormatStatusFile(const RunReport& report) {
  std::string text;
  auto line = [&text](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += AsciiLine(value);
    text += '\n';
  };
  line("started", FormatUtcTime(report.started));
  line("ended", FormatUtcTime(report.ended));
  line("exit_status", std::to_string(report.exit_status));
  line("outcome", report.outcome);
  line("selected", std::to_string(report.selected));
  line("exported", std::to_string(report.exported));
  line("marked", std::to_string(report.marked));
  line("refused", std::to_string(report.refused));
  line("error", std::to_string(report.error));
  line("error_text", report.error_text);
  line("last_committed", report.last_committed);
  return text;
}

std::string ReadStatusValue(const std::string& path, const std::string& key) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  std::string content;
  char buffer[4096];
  size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, read);
  std::fclose(file);
  const std::string prefix = key + "=";
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    if (content.compare(start, prefix.size(), prefix) == 0) {
      return content.substr(start + prefix.size(), end - start - prefix.size());
    }
    start = end + 1;
  }
  return "";
}

int WriteStatusFile(const std::string& path, RunReport& report) {
  report.last_committed =
      report.committed ? FormatUtcTime(report.ended) : ReadStatusValue(path, "last_committed");
  const std::string text = FormatStatusFile(report);
  const std::string temporary = path + ".neu";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return -1;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written || SyncFile(temporary) < 0 ||
      ReplaceFileAtomically(temporary, path) != 0) {
    std::remove(temporary.c_str());
    return -1;
  }
  return 0;
}
