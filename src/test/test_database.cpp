// The test server's connection settings and the database fixture.
#include "test/test_database.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

std::string SchemaSql() {
  std::ifstream in(HALVORN_SOURCE_DIR "/sql/kvs321bew.sql");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string TestDbUser() { return Env("HALVORN_DB_USER"); }
std::string TestDbPassword() { return Env("HALVORN_DB_PASSWORD"); }

#ifdef _WIN32
std::string TestDbClientHost() { return "127.0.0.1"; }
std::string TestDbLocalhostConnection() { return "localhost via TCP/IP"; }
#else
std::string TestDbClientHost() { return "localhost"; }
std::string TestDbLocalhostConnection() { return "Localhost via UNIX socket"; }
#endif

unsigned TestDbPort() { return static_cast<unsigned>(std::atoi(Env("HALVORN_DB_PORT").c_str())); }

TlsTestServer TestTlsServer() {
  TlsTestServer server;
  server.socket = Env("HALVORN_TLS_DB_SOCKET");
  server.port = static_cast<unsigned>(std::atoi(Env("HALVORN_TLS_DB_PORT").c_str()));
  server.ca = Env("HALVORN_TLS_CA");
  server.other_ca = Env("HALVORN_TLS_OTHER_CA");
  EXPECT_TRUE(server.port != 0 && !server.ca.empty() && !server.other_ca.empty())
      << "HALVORN_TLS_DB_PORT, HALVORN_TLS_CA or HALVORN_TLS_OTHER_CA is not set: start the "
         "test servers with scripts/db_server.sh (scripts/test.sh does)";
  return server;
}

void PointClientAtTestServer() {
  SetEnv("MYSQL_UNIX_PORT", Env("HALVORN_DB_SOCKET"));
  SetEnv("MYSQL_TCP_PORT", Env("HALVORN_DB_PORT"));
}

void DatabaseTest::SetUp() {
#ifdef _WIN32
  // No unix socket on Windows: root over TCP on the loopback address.
  const std::string where = Env("HALVORN_DB_PORT");
  const char* const host = "127.0.0.1";
  const unsigned port = static_cast<unsigned>(std::atoi(where.c_str()));
  const char* const socket = nullptr;
  ASSERT_FALSE(where.empty()) << "HALVORN_DB_PORT is not set: start the test server "
                                 "with scripts/db_server.sh (scripts/test.sh does)";
#else
  const std::string where = Env("HALVORN_DB_SOCKET");
  const char* const host = "localhost";
  const unsigned port = 0;
  const char* const socket = where.c_str();
  ASSERT_FALSE(where.empty()) << "HALVORN_DB_SOCKET is not set: start the test server "
                                 "with scripts/db_server.sh (scripts/test.sh does)";
#endif
  PointClientAtTestServer();
  admin_ = mysql_init(nullptr);
  ASSERT_NE(admin_, nullptr);
  mysql_options(admin_, MYSQL_SET_CHARSET_NAME, "latin1");
  ASSERT_NE(
      mysql_real_connect(admin_, host, "root", "", nullptr, port, socket, CLIENT_MULTI_STATEMENTS),
      nullptr)
      << "cannot reach the test server at " << where << ": " << mysql_error(admin_);
  RecreateTable();
}

void DatabaseTest::RecreateTable() {
  Exec("DROP TABLE IF EXISTS KVSYSTEM.KVS321BEW");
  Exec(SchemaSql());
}

void DatabaseTest::TearDown() {
  if (admin_ != nullptr) mysql_close(admin_);
  admin_ = nullptr;
}

void DatabaseTest::Exec(const std::string& sql) {
  ASSERT_EQ(mysql_real_query(admin_, sql.data(), sql.size()), 0)
      << mysql_error(admin_) << "\nin: " << sql;
  // Drain every result of a multi-statement text.
  do {
    MYSQL_RES* result = mysql_store_result(admin_);
    if (result != nullptr) mysql_free_result(result);
    ASSERT_EQ(mysql_errno(admin_), 0u) << mysql_error(admin_) << "\nin: " << sql;
  } while (mysql_next_result(admin_) == 0);
  ASSERT_EQ(mysql_errno(admin_), 0u) << mysql_error(admin_) << "\nin: " << sql;
}

Rows DatabaseTest::Query(const std::string& sql) {
  Rows rows;
  if (mysql_real_query(admin_, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << mysql_error(admin_) << "\nin: " << sql;
    return rows;
  }
  MYSQL_RES* result = mysql_store_result(admin_);
  if (result == nullptr) return rows;
  const unsigned columns = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    std::vector<std::string> texts;
    unsigned long* lengths = mysql_fetch_lengths(result);
    for (unsigned i = 0; i < columns; ++i) {
      texts.push_back(row[i] ? std::string(row[i], lengths[i]) : "<NULL>");
    }
    rows.push_back(texts);
  }
  mysql_free_result(result);
  return rows;
}
