// Lookup of one value in the settings file (Veltrano.ini): records of a
// header line and a data line "number;key;value", the value enciphered.
#pragma once

#include <string>

// The result of one lookup: the matching record's fields, its value
// deciphered. A lookup without a match leaves number 0 and empty texts.
struct IniEntry {
  int number = 0;
  std::string section;
  std::string key;
  std::string value;
};

// Finds the first record whose section equals section, or whose key equals
// key, or whose number equals number, in the file at settings_path, and fills
// entry with it, its value deciphered. Opens and closes the file on every call.
void ReadIniValue(const std::string& section, const std::string& key, int number,
                  const std::string& settings_path, IniEntry& entry);
