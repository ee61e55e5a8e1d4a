// The account a run reads: the NET8 length rule and the refusal of an empty
// user name.
#include "config/account.h"

#include <gtest/gtest.h>

#include <string>

#include "test/settings_writer.h"
#include "test/temp_dir.h"

namespace {

int Read(const std::string& content, Account& account) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  EXPECT_TRUE(WriteFileBytes(path, content));
  return ReadAccount(path, account);
}

TEST(ReadAccountTest, ReadsAllFourAndKeepsOnlyAHostOfOneTo41Characters) {
  const std::string account_records = SettingsRecord(1, "LOGIN", "scott") +
                                      SettingsRecord(2, "PASS", "tiger") +
                                      SettingsRecord(3, "DB_SYSTEM", "MySQL");
  Account account;
  EXPECT_EQ(Read(account_records + SettingsRecord(4, "NET8", std::string(41, 'h')), account), 0);
  EXPECT_EQ(account.login, "scott");
  EXPECT_EQ(account.password, "tiger");
  EXPECT_EQ(account.db_system, "MySQL");
  EXPECT_EQ(account.host, std::string(41, 'h'));

  EXPECT_EQ(Read(account_records + SettingsRecord(4, "NET8", std::string(42, 'h')), account), 0);
  EXPECT_EQ(account.net8, std::string(42, 'h'));
  EXPECT_EQ(account.host, "");
  EXPECT_EQ(Read(account_records, account), 0);
  EXPECT_EQ(account.host, "");
}

// Without a user name the client library would log in as the operating
// system's user; every way of getting there is refused.
TEST(ReadAccountTest, EmptyLoginIsRefused) {
  const std::string pass = SettingsRecord(2, "PASS", "tiger");
  Account account;
  for (const std::string& content : {pass, SettingsRecord(1, "LOGON", "scott") + pass,
                                     SettingsRecord(1, "LOGIN", "") + pass, std::string()}) {
    EXPECT_EQ(Read(content, account), kAccountNoUser) << content;
    EXPECT_EQ(account.login, "");
  }
  EXPECT_EQ(ReadAccount("/nonexistent/Veltrano.ini", account), kAccountNoUser);
  EXPECT_STREQ(kAccountNoUserText, "Kein Benutzername in der Einstellungsdatei");
}

}  // namespace
