// Settings files for the tests, as the operator writes them with
// Halvorn_Ini: records of a header line and "number;key;value", each value
// enciphered.
#pragma once

#include <string>

// One record, number and key as given, under the header "Veltrano;Datenbank;".
std::string SettingsRecord(int number, const std::string& key, const std::string& value);

// The four records a run reads: LOGIN user, PASS password, DB_SYSTEM "MySQL"
// and NET8 host.
std::string AccountSettings(const std::string& user, const std::string& password,
                            const std::string& host);
