// The database account of a run, read from the settings file.
#include "config/account.h"

#include "config/settings_file.h"

const char kAccountNoUserText[] = "Kein Benutzername in der Einstellungsdatei";

int ReadAccount(const std::string& settings_path, Account& account) {
  IniEntry entry;
  ReadIniValue("", "LOGIN", 0, settings_path, entry);
  account.login = entry.value;
  ReadIniValue("", "PASS", 0, settings_path, entry);
  account.password = entry.value;
  ReadIniValue("", "DB_SYSTEM", 0, settings_path, entry);
  account.db_system = entry.value;
  ReadIniValue("", "NET8", 0, settings_path, entry);
  account.net8 = entry.value;
  // Anything but 1 to 41 characters leaves the host to the client library.
  account.host =
      !account.net8.empty() && account.net8.size() <= kMaxHostLength ? account.net8 : std::string();
  return account.login.empty() ? kAccountNoUser : 0;
}
