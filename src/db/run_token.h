// The run's token: a random text the run writes into KVSYSTEM.KVS321BEW_LAUF
// in its own transaction, right before COMMIT. When the connection is lost
// during COMMIT, the token tells whether that commit went through, and not
// another run's that marked the same bookings (another host, another node).
#pragma once

#include <string>

#include "db/db_connection.h"

// A new token: 128 random bits as 32 upper-case hex digits.
std::string NewRunToken();

// Writes token in the run's transaction and deletes the tokens of runs older
// than three months. written tells whether the token is in. Returns 0, or
// the status of the first statement that failed: 1146 where the table is
// missing, 1142 where the account may not write it (the run then goes on
// without a token), or one that cost the transaction (SQL_TransactionIntact).
int SQL_WriteRunToken(DbConnection& db, const std::string& token, bool& written);

// Whether the transaction that wrote token committed, asked in a transaction
// of this connection's own: committed becomes 1 when the token is there; 0
// when it is not, and then that transaction never commits any more, since the
// question writes the same token itself (and deletes it again) and commits
// first: a cluster refuses the later of two commits that wrote the same row,
// a single server makes the later one wait for the earlier. Returns 0, or the
// status of the statement that failed (the answer is then unknown).
int SQL_RunTokenCommitted(DbConnection& db, const std::string& token, int& committed);
