// Halvorn_Ini: enciphers and deciphers settings values, checks a settings
// file the way a run reads it, and checks its account against the server.
#include <clocale>
#include <cstdio>
#include <string>

#include "config/blowfish.h"
#include "export/str_upper.h"
#include "platform/console_text.h"
#include "tool/connection_check.h"
#include "tool/settings_check.h"

namespace {

// Exit statuses besides a command's own.
constexpr int kFailedStatus = 1;
constexpr int kUsageStatus = 2;

const char kNotHex[] = "keine Hex-Form in ganzen Bloecken (je Block 16 Zeichen 0-9, A-F)";

void PrintUsage() {
  std::fputs(
      "Befehlsformat: \n"
      "Halvorn_Ini verschluesseln <Text>          : gibt die Hex-Form des Textes aus\n"
      "Halvorn_Ini entschluesseln <Hex>           : gibt den Klartext der Hex-Form aus\n"
      "Halvorn_Ini pruefen <Veltrano.ini> [/P]    : prueft die Einstellungsdatei\n"
      "Halvorn_Ini verbinden <Veltrano.ini>       : prueft das Konto der Einstellungsdatei\n"
      "                                             an der Datenbank, ohne etwas zu aendern\n"
      "\n"
      "/P           : zeigt das Passwort im Klartext\n"
      "Texte        : in Windows-1252; auf einer UTF-8-Konsole umgewandelt\n"
      "Rueckgabe    : 0 in Ordnung, 1 Pruefung fehlerhaft,\n"
      "               2 falscher Aufruf, 3 Datei kann nicht geoeffnet werden\n",
      stdout);
}

// True when arg is word (upper case) in any letter case.
bool SameWord(std::string arg, const char* word) { return StrUpper(arg) == word; }

void PrintLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

int Encipher(const std::string& typed) {
  std::string plaintext;
  if (ConsoleToWindows1252(typed, plaintext) != 0) {
    std::fputs("FEHLER: der Text enthaelt ein Zeichen, das es in Windows-1252 nicht gibt\n",
               stderr);
    return kFailedStatus;
  }
  PrintLine(EncryptHexValue(plaintext, kSettingsKey));
  return 0;
}

int Decipher(const std::string& hex) {
  // A run would decipher such a value into garbage.
  if (!IsHexValue(hex)) {
    std::fprintf(stderr, "FEHLER: %s\n", kNotHex);
    return kFailedStatus;
  }
  std::string plaintext;
  DecryptHexValue(hex, plaintext, kSettingsKey);
  std::string shown;
  if (Windows1252ToConsole(plaintext, shown) != 0) {
    std::fputs("FEHLER: der Klartext enthaelt Bytes, die diese Konsole nicht zeigen kann\n",
               stderr);
    return kFailedStatus;
  }
  PrintLine(shown);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The locale says whether the console speaks UTF-8.
  std::setlocale(LC_CTYPE, "");
  const std::string command = argc >= 2 ? argv[1] : "";
  if (argc == 3 && SameWord(command, "VERSCHLUESSELN")) return Encipher(argv[2]);
  if (argc == 3 && SameWord(command, "ENTSCHLUESSELN")) return Decipher(argv[2]);
  if ((argc == 3 || (argc == 4 && SameWord(argv[3], "/P"))) && SameWord(command, "PRUEFEN")) {
    std::string report;
    const int status = CheckSettingsFile(argv[2], argc == 4, report, Windows1252ToConsole);
    std::fputs(report.c_str(), stdout);
    return status;
  }
  if (argc == 3 && SameWord(command, "VERBINDEN")) {
    std::string report;
    const int status = CheckConnection(argv[2], report, Windows1252ToConsole);
    std::fputs(report.c_str(), stdout);
    return status;
  }
  PrintUsage();
  return kUsageStatus;
}
