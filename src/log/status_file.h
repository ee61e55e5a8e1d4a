// The status file for monitors: what the last run did, as ASCII key=value
// lines in Halvorn_MySQL.status beside BEWDATA.dat, replaced whole after
// every run. The protocol log is the operator's record; this is the
// machine-readable side.
#pragma once

#include <ctime>
#include <string>

extern const char kStatusFileName[];  // "Halvorn_MySQL.status"

// One run as the status file reports it.
struct RunReport {
  std::time_t started = 0;
  std::time_t ended = 0;
  int exit_status = 0;
  // One word: committed, not_committed, running_elsewhere, settings_missing,
  // connection_refused, transfer_file.
  std::string outcome;
  long long selected = 0;  // bookings fetched from the selection
  long long exported = 0;  // lines written to BEWDATA.dat
  long long marked = 0;    // bookings marked as transferred
  long long refused = 0;   // markings the server refused
  int error = 0;           // the first error number of the run, 0 for none
  std::string error_text;  // its text
  bool committed = false;  // the run's COMMIT went through (not written as such)
  // End of the last run that committed, empty when none is known: this run's
  // end when it committed, otherwise carried over from the previous file.
  std::string last_committed;
};

// time as ISO 8601 in UTC: 2026-12-09T04:26:07Z.
std::string FormatUtcTime(std::time_t time);

// The file's text: one key=value line per field of report, in its order,
// every value ASCII (other bytes become '?', control characters blanks).
std::string FormatStatusFile(const RunReport& report);

// The value of key in the status file at path; empty when the file or the
// key is missing.
std::string ReadStatusValue(const std::string& path, const std::string& key);

// Fills report.last_committed (this run's end when it committed, otherwise
// the previous file's) and replaces the file at path with the report in one
// step: written whole to path + ".neu", flushed, renamed over it. Returns 0,
// or -1 when it cannot be written (the previous file then stays).
int WriteStatusFile(const std::string& path, RunReport& report);
