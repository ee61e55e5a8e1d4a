// The connection's port, TLS and timeouts on the MySQL C API: MariaDB
// Connector/C, or MySQL's own client library.
#include "db/connect_options.h"

#include <algorithm>

const char kNoTlsText[] = "TLS verlangt, aber der Server bietet es nicht an";

namespace {

#ifdef LIBMARIADB
using OptionFlag = my_bool;
#else
using OptionFlag = bool;  // MySQL's client library has no my_bool since 8.0
#endif

}  // namespace

int ReadTimeoutFor(const DbConnectOptions& options, int lock_wait) {
  const long long wait = std::max(options.longest_wait, std::max(lock_wait, 0));
  return static_cast<int>(std::min<long long>(wait + kReadTimeoutMargin, kMaxReadTimeout));
}

void SetConnectOptions(MYSQL* mysql, const DbConnectOptions& options, int read_timeout) {
  // A reconnect after a lost connection would run the rest of the run in
  // autocommit mode, outside its transaction.
  const OptionFlag reconnect = 0;
  mysql_options(mysql, MYSQL_OPT_RECONNECT, &reconnect);
  const unsigned connect_timeout = kConnectTimeout;
  const unsigned timeout = static_cast<unsigned>(read_timeout);
  mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
  mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &timeout);
  mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
  if (!options.tls) return;
#ifdef LIBMARIADB
  const OptionFlag on = 1;
  mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &on);
  if (options.tls_verify) {
    mysql_options(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    mysql_options(mysql, MYSQL_OPT_SSL_CA, options.tls_ca.c_str());
  }
#else
  const unsigned mode = options.tls_verify ? SSL_MODE_VERIFY_IDENTITY : SSL_MODE_REQUIRED;
  mysql_options(mysql, MYSQL_OPT_SSL_MODE, &mode);
  if (options.tls_verify) mysql_options(mysql, MYSQL_OPT_SSL_CA, options.tls_ca.c_str());
#endif
}

bool LacksTls(MYSQL* mysql, const DbConnectOptions& options) {
  return options.tls && mysql_get_ssl_cipher(mysql) == nullptr;
}
