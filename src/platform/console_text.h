// Texts between the console and Windows-1252, the encoding of every value in
// the settings file: the locale's encoding on POSIX (converted with iconv
// when it is UTF-8); on Windows the ANSI code page in which main's arguments
// arrive, and the console's output code page for what is shown.
#pragma once

#include <string>

// Converts text as typed on the console into Windows-1252. Where the console
// does not use UTF-8 (POSIX) or already uses Windows-1252, text is taken
// byte for byte. Returns 0; -1 when text holds a character that
// Windows-1252 lacks (or is no valid text of the console's encoding): out
// is then empty. On POSIX the locale must have been set (setlocale).
int ConsoleToWindows1252(const std::string& text, std::string& out);

// Converts Windows-1252 text for display on the console; the counterpart of
// ConsoleToWindows1252. Returns 0; -1 when text holds one of the five bytes
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) or a character
// the console cannot show: out is then empty.
int Windows1252ToConsole(const std::string& text, std::string& out);
