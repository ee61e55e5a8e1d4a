// The connection settings of the settings file: PORT, TLS and TLS_CA as a run
// takes or refuses them.
#include "config/connection_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "config/blowfish.h"
#include "test/temp_dir.h"

namespace {

std::string Record(const std::string& number, const std::string& key, const std::string& value) {
  return "Veltrano;DB;\n" + number + ";" + key + ";" + EncryptHexValue(value, kSettingsKey) + "\n";
}

TEST(ReadConnectionSettingsTest, TakesPortAndTlsWordsAndRefusesTheRest) {
  const std::string login = Record("1", "LOGIN", "scott");
  const std::string ca = Record("7", "TLS_CA", "/etc/ca.pem");
  struct Case {
    std::string records;
    int status;
    unsigned port;
    int tls;
    std::string problem;
  };
  const Case cases[] = {
      // A file without them, and one whose last record answers every key.
      {login, 0, 0, kTlsOff, ""},
      {login + Record("0", "NET8", "db"), 0, 0, kTlsOff, ""},
      {login + Record("5", "PORT", "3307"), 0, 3307, kTlsOff, ""},
      {login + Record("5", "PORT", "65535") + Record("6", "TLS", "required"), 0, 65535,
       kTlsRequired, ""},
      {login + Record("6", "TLS", "VERIFY_IDENTITY") + ca, 0, 0, kTlsVerifyIdentity, ""},
      {login + Record("6", "TLS", "") + ca, 0, 0, kTlsOff, ""},
      {login + Record("5", "PORT", "33o6"), kConnectionSettingsUnusable, 0, kTlsOff,
       "PORT ist keine Portnummer (nur Ziffern, 1 bis 65535): \"33o6\""},
      {login + Record("5", "PORT", " 3307"), kConnectionSettingsUnusable, 0, kTlsOff, "\" 3307\""},
      {login + Record("5", "PORT", "0"), kConnectionSettingsUnusable, 0, kTlsOff, "\"0\""},
      {login + Record("5", "PORT", "65536"), kConnectionSettingsUnusable, 0, kTlsOff, "\"65536\""},
      {login + Record("5", "PORT", "99999999999999999999"), kConnectionSettingsUnusable, 0, kTlsOff,
       "Portnummer"},
      {login + Record("6", "TLS", "PREFERRED"), kConnectionSettingsUnusable, 0, kTlsOff,
       "TLS ist weder REQUIRED noch VERIFY_IDENTITY: \"PREFERRED\""},
      {login + Record("6", "TLS", "VERIFY_IDENTITY"), kConnectionSettingsUnusable, 0,
       kTlsVerifyIdentity, "TLS ist VERIFY_IDENTITY, aber TLS_CA"},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    const std::string path = dir.File("Veltrano.ini");
    ASSERT_TRUE(WriteFileBytes(path, c.records));
    ConnectionSettings settings;
    std::string problem;
    EXPECT_EQ(ReadConnectionSettings(path, settings, problem), c.status) << problem;
    EXPECT_EQ(settings.port, c.port) << c.problem;
    EXPECT_EQ(settings.tls, c.tls) << c.problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(problem.empty(), c.status == 0) << problem;
  }
}

}  // namespace
