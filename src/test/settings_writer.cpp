// Settings files for the tests.
#include "test/settings_writer.h"

#include "config/blowfish.h"

std::string SettingsRecord(int number, const std::string& key, const std::string& value) {
  return "Veltrano;Datenbank;\n" + std::to_string(number) + ";" + key + ";" +
         EncryptHexValue(value, kSettingsKey) + "\n";
}

std::string AccountSettings(const std::string& user, const std::string& password,
                            const std::string& host) {
  return SettingsRecord(1, "LOGIN", user) + SettingsRecord(2, "PASS", password) +
         SettingsRecord(3, "DB_SYSTEM", "MySQL") + SettingsRecord(4, "NET8", host);
}
