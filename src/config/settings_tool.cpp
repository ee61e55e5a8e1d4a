// Halvorn_Ini: enciphers and deciphers settings values and checks a settings
// file the way a run reads it.
#include <cstdio>
#include <string>

#include "config/blowfish.h"
#include "config/settings_check.h"

namespace {

// Exit status for a wrong command line.
constexpr int kUsageStatus = 2;

void PrintUsage() {
  std::fputs(
      "Befehlsformat: \n"
      "Halvorn_Ini verschluesseln <Text>          : gibt die Hex-Form des Textes aus\n"
      "Halvorn_Ini entschluesseln <Hex>           : gibt den Klartext der Hex-Form aus\n"
      "Halvorn_Ini pruefen <Veltrano.ini> [/P]    : prueft die Einstellungsdatei\n"
      "\n"
      "/P           : zeigt das Passwort im Klartext\n"
      "Rueckgabe    : 0 in Ordnung, 1 Pruefung fehlerhaft, 2 falscher Aufruf,\n"
      "               3 Datei kann nicht geoeffnet werden\n",
      stdout);
}

bool SameWord(const std::string& arg, const char* word) {
  std::string upper = arg;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == word;
}

void PrintLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 2 ? argv[1] : "";
  if (argc == 3 && SameWord(command, "VERSCHLUESSELN")) {
    PrintLine(EncryptHexValue(argv[2], kSettingsKey));
    return 0;
  }
  if (argc == 3 && SameWord(command, "ENTSCHLUESSELN")) {
    if (!IsHexValue(argv[2])) {
      std::fputs("WARNUNG: keine Hex-Form in ganzen Bloecken (je Block 16 Zeichen 0-9, A-F)\n",
                 stderr);
    }
    std::string plaintext;
    DecryptHexValue(argv[2], plaintext, kSettingsKey);
    PrintLine(plaintext);
    return 0;
  }
  if ((argc == 3 || (argc == 4 && SameWord(argv[3], "/P"))) && SameWord(command, "PRUEFEN")) {
    std::string report;
    const int status = CheckSettingsFile(argv[2], argc == 4, report);
    std::fputs(report.c_str(), stdout);
    return status;
  }
  PrintUsage();
  return kUsageStatus;
}
