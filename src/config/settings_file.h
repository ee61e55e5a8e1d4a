// Lookup of one value in the settings file (Veltrano.ini): records of a
// header line and a data line "number;key;value", the value enciphered.
#pragma once

#include <string>
#include <vector>

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

// The position, from 0, of the n-th occurrence of c in text; when text holds
// fewer than n, the position of its last one; -1 when it holds none.
int FindNthChar(const std::string& text, char c, int n);

// Sets dst to the length characters of text from start on. A length of 0
// means the rest of the text; a negative length leaves dst as it was.
void CopySubstring(const std::string& text, int start, int length, std::string& dst);

// Fills entry from one pair of lines as read (line feeds included), the value
// still enciphered: section between the header's first and second ";",
// number, key and value from the data line "number;key;value". A data line
// without any ";" gives the number atoi reads from the whole line, an empty
// key and the whole line as value.
void ParseIniPair(const std::string& header, const std::string& data, IniEntry& entry);

// One pair of lines as the lookup reads it. The file is read like a text file
// on Windows (a CR directly before a LF is dropped, a byte 0x1A ends it) in
// pieces: a header piece ends after its line feed or at 199 characters, a
// data piece at 399. The rest of a longer line is the next piece, so from
// there on every pair is shifted by one line.
struct IniRecord {
  std::string header;       // the header piece, line feed included
  std::string data;         // the data piece, line feed included
  int header_line = 0;      // line of the file where the header piece begins, from 1
  int data_line = 0;        // line of the file where the data piece begins
  bool header_cut = false;  // the header piece stopped inside a longer line
  bool data_cut = false;    // the data piece stopped inside a longer line
};

// ReadIniValue's lookup, also handing back the record that answered.
// Returns 1 when a record matched (entry holds it, value deciphered), 0 when
// none did and -1 when the file cannot be opened (entry and record clear).
int FindIniRecord(const std::string& section, const std::string& key, int number,
                  const std::string& settings_path, IniEntry& entry, IniRecord& record);

// Every pair of the file in order, as FindIniRecord walks them; a last line
// without a partner is not a pair. Returns 0, or -1 when the file cannot be
// opened.
int ReadIniRecords(const std::string& settings_path, std::vector<IniRecord>& records);
