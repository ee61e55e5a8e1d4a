// The connection settings beside the account in the settings file: the
// server's TCP port and whether the connection is encrypted and the server's
// certificate verified. A file without them connects as before they existed.
#pragma once

#include <string>

// The words of the TLS setting (those of MySQL's --ssl-mode), any letter case.
constexpr int kTlsOff = 0;       // empty or missing: no TLS asked for
constexpr int kTlsRequired = 1;  // "REQUIRED": encrypted, or no connection
constexpr int kTlsVerifyIdentity =
    2;  // "VERIFY_IDENTITY": encrypted, certificate and name verified

// ReadConnectionSettings' status for a value a run cannot use.
constexpr int kConnectionSettingsUnusable = 1;

struct ConnectionSettings {
  std::string port_text;  // PORT as deciphered
  std::string tls_text;   // TLS as deciphered
  std::string tls_ca;     // TLS_CA: the path of the certificate authority's PEM file
  unsigned port = 0;      // PORT as a number; 0 when empty: the client library's default
  int tls = kTlsOff;      // TLS as one of the words above
};

// Looks up PORT, TLS and TLS_CA in the settings file at path with the run's
// lookup. A key counts only when the record that answers carries it: a
// record that answers every key (an empty section or number 0) sets none of
// them. Returns 0, or kConnectionSettingsUnusable with problem set to the
// reason (plain ASCII, for the protocol and the console) when PORT is not a
// port number, TLS is not one of the words, or VERIFY_IDENTITY has no TLS_CA.
int ReadConnectionSettings(const std::string& path, ConnectionSettings& settings,
                           std::string& problem);

// ReadConnectionSettings' check of the values already in settings, setting
// port and tls from the texts.
int CheckConnectionSettings(ConnectionSettings& settings, std::string& problem);
