// The connection settings of the settings file: port and TLS.
#include "config/connection_settings.h"

#include "config/settings_file.h"

namespace {

// The value of key, when the record that answers the lookup carries that key.
std::string OwnValue(const std::string& path, const char* key) {
  IniEntry entry;
  ReadIniValue("", key, 0, path, entry);
  return entry.key == key ? entry.value : std::string();
}

bool SameWord(const std::string& text, const char* word) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == word;
}

}  // namespace

int CheckConnectionSettings(ConnectionSettings& settings, std::string& problem) {
  problem.clear();
  settings.port = 0;
  unsigned long port = 0;
  for (char c : settings.port_text) {
    port =
        c >= '0' && c <= '9' && port <= 65535 ? port * 10 + static_cast<unsigned>(c - '0') : 65536;
  }
  if (!settings.port_text.empty() && (port == 0 || port > 65535)) {
    problem =
        "PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): \"" + settings.port_text + "\"";
    return kConnectionSettingsUnusable;
  }
  settings.port = static_cast<unsigned>(port);

  if (settings.tls_text.empty()) {
    settings.tls = kTlsOff;
  } else if (SameWord(settings.tls_text, "REQUIRED")) {
    settings.tls = kTlsRequired;
  } else if (SameWord(settings.tls_text, "VERIFY_IDENTITY")) {
    settings.tls = kTlsVerifyIdentity;
  } else {
    problem = "TLS ist weder REQUIRED noch VERIFY_IDENTITY: \"" + settings.tls_text + "\"";
    return kConnectionSettingsUnusable;
  }
  if (settings.tls == kTlsVerifyIdentity && settings.tls_ca.empty()) {
    problem = "TLS ist VERIFY_IDENTITY, aber TLS_CA (die Datei der Zertifizierungsstelle) fehlt";
    return kConnectionSettingsUnusable;
  }
  return 0;
}

int ReadConnectionSettings(const std::string& path, ConnectionSettings& settings,
                           std::string& problem) {
  settings.port_text = OwnValue(path, "PORT");
  settings.tls_text = OwnValue(path, "TLS");
  settings.tls_ca = OwnValue(path, "TLS_CA");
  return CheckConnectionSettings(settings, problem);
}
