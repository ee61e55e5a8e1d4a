// The database account a run reads from the settings file: user, password,
// database system and host, with the rules that decide what reaches the
// client library.
#pragma once

#include <cstddef>
#include <string>

#include "config/connection_settings.h"

// ReadAccount's status for a settings file without a user name; the number
// the server answers a refused account with, so that both are reported alike.
constexpr int kAccountNoUser = 1045;

// The reason that goes with kAccountNoUser.
extern const char kAccountNoUserText[];  // "Kein Benutzername in der Einstellungsdatei"

// The longest NET8 value that is handed to the client library as the host.
constexpr size_t kMaxHostLength = 41;

struct Account {
  std::string login;      // LOGIN, deciphered
  std::string password;   // PASS
  std::string db_system;  // DB_SYSTEM; read, not used for the connection
  std::string net8;       // NET8 as deciphered
  std::string host;       // NET8 when it is 1 to 41 characters long, else empty:
                          // the client library's default host

  // PORT, TLS and TLS_CA, read by ReadConnectionSettings.
  ConnectionSettings connection;
};

// Reads LOGIN, PASS, DB_SYSTEM and NET8 from the settings file at path with
// the run's own lookup. Returns 0, or kAccountNoUser when LOGIN is empty (no
// record, an empty value or an unreadable file): an empty user name would
// make the client library connect as the operating-system user.
int ReadAccount(const std::string& settings_path, Account& account);
