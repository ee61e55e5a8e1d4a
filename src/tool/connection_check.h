// The operator's check of the database account of a settings file: connects
// the way a run does and reports what a run would find, changing nothing.
#pragma once

#include <string>

#include "tool/settings_check.h"

// CheckConnection's statuses.
constexpr int kConnectionUsable = 0;    // a run would work
constexpr int kConnectionUnusable = 1;  // a run would fail; the report says why

// Reads the account from the settings file at path as a run does, connects
// as a run does, and writes a German report to report: the user and host,
// the server's version, the connection's character set, whether
// KVSYSTEM.KVS321BEW is there, how many bookings are pending, and whether the
// account may SELECT, UPDATE and DELETE on it; every failure with the client
// library's error number and text. Reads only, in a read-only transaction,
// without locking reads. Values from the settings file (Windows-1252) are
// shown through show when given. Returns kConnectionUsable or
// kConnectionUnusable.
int CheckConnection(const std::string& path, std::string& report, ShowValueFn show = nullptr);
