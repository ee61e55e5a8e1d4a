// The operator's check of a settings file, built on the run's own lookup.
#include "tool/settings_check.h"

#include <cstdio>
#include <vector>

#include "config/account.h"
#include "config/settings_file.h"

namespace {

// The keys a run looks up, in its order.
const char* const kRunKeys[] = {"LOGIN", "PASS", "DB_SYSTEM", "NET8"};

std::string Lines(int header_line, int data_line) {
  if (header_line == data_line) return "Zeile " + std::to_string(header_line);
  return "Zeilen " + std::to_string(header_line) + "-" + std::to_string(data_line);
}

// The text in quotes, control characters written as \xNN. A deciphered value
// (Windows-1252) goes through show for the console first; a value it cannot
// convert keeps its bytes from 0x80 on as \xNN too.
std::string Quoted(const std::string& text, ShowValueFn show = nullptr) {
  std::string shown = text;
  const bool converted = show == nullptr || show(text, shown) == 0;
  std::string out = "\"";
  for (unsigned char c : converted ? shown : text) {
    if (c < 0x20 || c == 0x7F || (!converted && c >= 0x80)) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%02X", c);
      out += escape;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

// Why a record answers a request for a key it does not carry.
std::string ShadowReason(const IniEntry& entry) {
  std::string reason;
  if (entry.section.empty()) reason = "seine Kopfzeile hat weniger als zwei \";\"";
  if (entry.number == 0) {
    if (!reason.empty()) reason += " und ";
    reason += "seine Nummer ist 0 (oder beginnt nicht mit Ziffern)";
  }
  return reason;
}

void CheckLineLengths(const std::vector<IniRecord>& records, std::string& report) {
  for (const IniRecord& record : records) {
    if (record.header_cut) {
      report += "WARNUNG: Zeile " + std::to_string(record.header_line) +
                " ist als Kopfzeile laenger als 198 Zeichen: der Rest zaehlt als naechste "
                "Zeile, ab hier sind alle Eintraege um eine Zeile verschoben\n";
    }
    if (record.data_cut) {
      report += "WARNUNG: Zeile " + std::to_string(record.data_line) +
                " ist als Datenzeile laenger als 398 Zeichen: ihr Wert wird leer gelesen, der "
                "Rest zaehlt als naechste Zeile, ab hier sind alle Eintraege um eine Zeile "
                "verschoben\n";
    } else if (record.data.back() != '\n' && record.data.find(';') != std::string::npos) {
      report += "WARNUNG: Zeile " + std::to_string(record.data_line) +
                " endet ohne Zeilenvorschub: ihr Wert wird leer gelesen\n";
    }
  }
}

// True when the record's value, still enciphered, is empty or hex in whole blocks.
bool HasHexValue(const IniRecord& record) {
  IniEntry raw;
  ParseIniPair(record.header, record.data, raw);
  return raw.value == "\n" || IsHexValue(raw.value);
}

// Warns of every other value that is not hex in whole blocks; failed_lines
// are those already reported as failures.
void CheckValueForms(const std::vector<IniRecord>& records, const std::vector<int>& failed_lines,
                     std::string& report) {
  for (const IniRecord& record : records) {
    if (HasHexValue(record)) continue;
    bool failed = false;
    for (int line : failed_lines) failed = failed || line == record.data_line;
    if (failed) continue;
    report += "WARNUNG: der Wert in Zeile " + std::to_string(record.data_line) +
              " ist keine Hex-Form in ganzen Bloecken (je Block 16 Zeichen 0-9, A-F)\n";
  }
}

// Notes later records that carry the key of the one that answered: they are
// never read.
void CheckDuplicates(const std::vector<IniRecord>& records, const std::string& key,
                     int answer_data_line, std::string& report) {
  for (const IniRecord& record : records) {
    if (record.data_line <= answer_data_line) continue;
    IniEntry raw;
    ParseIniPair(record.header, record.data, raw);
    if (raw.key == key) {
      report += "HINWEIS: " + key + " steht auch in " +
                Lines(record.header_line, record.data_line) + "; dieser Eintrag wird nie gelesen\n";
    }
  }
}

}  // namespace

bool IsHexValue(const std::string& value) {
  if (value.size() % 16 != 0) return false;
  for (char c : value) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

int CheckSettingsFile(const std::string& path, bool show_password, std::string& report,
                      ShowValueFn show) {
  report.clear();
  std::vector<IniRecord> records;
  if (ReadIniRecords(path, records) != 0) {
    report = "FEHLER: die Datei " + path + " kann nicht geoeffnet werden\n";
    return kCheckFileMissing;
  }
  report += "Pruefung von " + path + "\n";
  std::string warnings;
  bool failed = false;
  std::vector<int> failed_lines;  // data lines of values deciphered into garbage
  for (const char* key : kRunKeys) {
    IniEntry entry;
    IniRecord record;
    const int found = FindIniRecord("", key, 0, path, entry, record);
    std::string line = key;
    line.resize(10, ' ');
    line += ": ";
    if (found != 1) {
      report += line + "kein Eintrag gefunden, Wert leer\n";
      if (std::string(key) == "LOGIN" || std::string(key) == "PASS") {
        warnings += "FEHLER: " + std::string(key) + " wird von keinem Eintrag beantwortet\n";
        failed = true;
      }
    } else {
      const bool masked = std::string(key) == "PASS" && !show_password;
      report += line + Lines(record.header_line, record.data_line) + ", Schluessel " +
                Quoted(entry.key) + ", Wert " +
                (masked ? "verdeckt (anzeigen mit /P)" : Quoted(entry.value, show)) + "\n";
      if (entry.key != key) {
        warnings += "FEHLER: " + std::string(key) + " wird vom Eintrag in " +
                    Lines(record.header_line, record.data_line) + " mit dem Schluessel " +
                    Quoted(entry.key) + " beantwortet: " + ShadowReason(entry) +
                    ", so beantwortet er jede Anfrage und verdeckt alle folgenden Eintraege\n";
        failed = true;
      } else {
        CheckDuplicates(records, key, record.data_line, warnings);
      }
      // DB_SYSTEM is not used for the connection; the others would be
      // deciphered into garbage.
      if (std::string(key) != "DB_SYSTEM" && !HasHexValue(record)) {
        warnings += "FEHLER: der Wert von " + std::string(key) + " in Zeile " +
                    std::to_string(record.data_line) +
                    " ist keine Hex-Form in ganzen Bloecken (je Block 16 Zeichen 0-9, A-F): das "
                    "Programm wuerde daraus unbrauchbaren Klartext entschluesseln\n";
        failed_lines.push_back(record.data_line);
        failed = true;
      }
      if (std::string(key) == "LOGIN" && entry.value.empty()) {
        warnings += "FEHLER: LOGIN ist leer: das Programm verbindet ohne Benutzername nicht\n";
        failed = true;
      }
    }
    if (std::string(key) == "NET8" &&
        (entry.value.empty() || entry.value.size() > kMaxHostLength)) {
      warnings += "WARNUNG: NET8 ist " +
                  (entry.value.empty() ? std::string("leer")
                                       : std::to_string(entry.value.size()) +
                                             " Zeichen lang (erlaubt sind 1 bis 41)") +
                  ": das Programm verbindet mit dem Standard-Host der Client-Bibliothek\n";
    }
  }
  CheckLineLengths(records, warnings);
  CheckValueForms(records, failed_lines, warnings);
  report += warnings;
  report += failed ? "Ergebnis: fehlerhaft\n" : "Ergebnis: in Ordnung\n";
  return failed ? kCheckFailed : kCheckPassed;
}
