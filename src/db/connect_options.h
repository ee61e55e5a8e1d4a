// How a connection is made beyond user, password, host and database: the TCP
// port, TLS, no automatic reconnect, and timeouts, so that a server that
// stops answering ends the caller's work instead of holding it for ever.
#pragma once

#include <mysql.h>

#include <string>

// Seconds to wait for the server to accept a connection and greet.
constexpr int kConnectTimeout = 20;

// Seconds a statement may take beyond the longest wait it may meet.
constexpr int kReadTimeoutMargin = 30;

// The longest read timeout set, whatever the server's lock waits.
constexpr int kMaxReadTimeout = 86400;

// The text that goes with error 2026 when TLS was asked for and the server
// offers none.
extern const char kNoTlsText[];  // "TLS verlangt, aber der Server bietet es nicht an"

struct DbConnectOptions {
  unsigned port = 0;        // the TCP port; 0: the client library's default
  bool tls = false;         // encrypted, or no connection (error 2026)
  bool tls_verify = false;  // and the server's certificate verified against tls_ca,
                            // its name against the host
  std::string tls_ca;       // the certificate authority's PEM file, for tls_verify
  // The longest the caller itself lets the server wait in one statement
  // (GET_LOCK with a timeout), in seconds.
  int longest_wait = 0;
};

// The read and write timeout for a server whose lock waits last up to
// lock_wait seconds: the longer of that and options.longest_wait, plus
// kReadTimeoutMargin, at most kMaxReadTimeout.
int ReadTimeoutFor(const DbConnectOptions& options, int lock_wait);

// Sets on mysql, before it connects: no automatic reconnect, the connect
// timeout, read and write timeouts of read_timeout seconds, and the TLS
// options.
void SetConnectOptions(MYSQL* mysql, const DbConnectOptions& options, int read_timeout);

// After connecting: true when options ask for TLS and the connection is not
// encrypted (the client library lets some servers without TLS through).
bool LacksTls(MYSQL* mysql, const DbConnectOptions& options);
