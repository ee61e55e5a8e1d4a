// The operator's check of a settings file, built on the run's own lookup.
#include "config/settings_check.h"

#include <cstdio>
#include <vector>

#include "config/settings_file.h"

namespace {

// The keys a run looks up, in its order.
const char* const kRunKeys[] = {"LOGIN", "PASS", "DB_SYSTEM", "NET8"};

// The host value the client library is handed only when it is this long.
constexpr size_t kMaxHostLength = 41;

std::string Lines(int header_line, int data_line) {
  if (header_line == data_line) return "Zeile " + std::to_string(header_line);
  return "Zeilen " + std::to_string(header_line) + "-" + std::to_string(data_line);
}

// The text in quotes, control characters written as \xNN.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
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

void CheckValueForms(const std::vector<IniRecord>& records, std::string& report) {
  for (const IniRecord& record : records) {
    IniEntry raw;
    ParseIniPair(record.header, record.data, raw);
    if (raw.value == "\n" || IsHexValue(raw.value)) continue;
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

int CheckSettingsFile(const std::string& path, bool show_password, std::string& report) {
  report.clear();
  std::vector<IniRecord> records;
  if (ReadIniRecords(path, records) != 0) {
    report = "FEHLER: die Datei " + path + " kann nicht geoeffnet werden\n";
    return kCheckFileMissing;
  }
  report += "Pruefung von " + path + "\n";
  std::string warnings;
  bool failed = false;
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
                (masked ? "verdeckt (anzeigen mit /P)" : Quoted(entry.value)) + "\n";
      if (entry.key != key) {
        warnings += "FEHLER: " + std::string(key) + " wird vom Eintrag in " +
                    Lines(record.header_line, record.data_line) + " mit dem Schluessel " +
                    Quoted(entry.key) + " beantwortet: " + ShadowReason(entry) +
                    ", so beantwortet er jede Anfrage und verdeckt alle folgenden Eintraege\n";
        failed = true;
      } else {
        CheckDuplicates(records, key, record.data_line, warnings);
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
  CheckValueForms(records, warnings);
  report += warnings;
  report += failed ? "Ergebnis: fehlerhaft\n" : "Ergebnis: in Ordnung\n";
  return failed ? kCheckFailed : kCheckPassed;
}
