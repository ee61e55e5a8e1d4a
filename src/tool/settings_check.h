// The operator's check of a settings file: which record answers each of the
// four lookups of a run, with the value deciphered, and what would go wrong.
#pragma once

#include <string>

// CheckSettingsFile's statuses.
constexpr int kCheckPassed = 0;
// A key answered by another key's record, LOGIN or PASS by none, an empty
// LOGIN, or a LOGIN, PASS or NET8 value that is not hex in whole blocks.
constexpr int kCheckFailed = 1;
constexpr int kCheckFileMissing = 3;  // the file cannot be opened

// True when value is upper-case hex text in whole 16-character blocks, the
// form a settings value is stored in. The empty text counts as such.
bool IsHexValue(const std::string& value);

// Converts a deciphered value (Windows-1252) into the form the console shows.
// Returns 0, or -1 when it cannot.
using ShowValueFn = int (*)(const std::string& value, std::string& shown);

// Looks up "LOGIN", "PASS", "DB_SYSTEM" and "NET8" in the file at path the way
// a run does, with the run's own lookup, and writes a German report to report:
// for each key the answering record's lines, key and deciphered value (the
// password masked unless show_password; each value through show when given,
// else as its bytes), and warnings for records that answer for another key,
// a NET8 value that is not 1 to 41 characters long, lines that shift the
// pairing, and values that are not hex in whole blocks.
// Returns kCheckPassed, kCheckFailed or kCheckFileMissing.
int CheckSettingsFile(const std::string& path, bool show_password, std::string& report,
                      ShowValueFn show = nullptr);
