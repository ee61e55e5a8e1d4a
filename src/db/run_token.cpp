// The run's token in KVSYSTEM.KVS321BEW_LAUF.
#include "db/run_token.h"

#include <random>

namespace {

constexpr int kDuplicateKey = 1062;
constexpr int kDeadlock = 1213;

// A question that loses against a commit certified at the same time asks again.
constexpr int kQuestionAttempts = 3;

constexpr char kTokenTable[] = "KVSYSTEM.KVS321BEW_LAUF";

int Run(DbConnection& db, const std::string& text) {
  StatementHandle statement;
  statement.text = text;
  return SQL_Execute(db, statement);
}

// The token as a literal; a token is hex digits, nothing to escape.
std::string Literal(const std::string& token) { return "'" + token + "'"; }

int InsertToken(DbConnection& db, const std::string& token) {
  return Run(db, std::string("INSERT INTO ") + kTokenTable + " (LaufID, LaufDat) VALUES (" +
                     Literal(token) + ", sysdate())");
}

}  // namespace

std::string NewRunToken() {
  static const char kHex[] = "0123456789ABCDEF";
  std::random_device random;
  std::string token;
  for (int word = 0; word < 4; ++word) {
    const unsigned long bits = random();
    for (int shift = 28; shift >= 0; shift -= 4) token += kHex[(bits >> shift) & 15];
  }
  return token;
}

int SQL_WriteRunToken(DbConnection& db, const std::string& token, bool& written) {
  written = false;
  const int status = InsertToken(db, token);
  if (status != 0) return status;
  written = true;
  return Run(db, std::string("DELETE FROM ") + kTokenTable +
                     " WHERE LaufDat < date_add(now(), interval -3 month)");
}

int SQL_RunTokenCommitted(DbConnection& db, const std::string& token, int& committed) {
  int status = 0;
  for (int attempt = 0; attempt < kQuestionAttempts; ++attempt) {
    // A transaction of its own, so that the lookup reads what is committed now.
    status = Run(db, "ROLLBACK");
    std::string count;
    if (status == 0) {
      status = SQL_QueryValue(
          db,
          std::string("SELECT COUNT(*) FROM ") + kTokenTable + " WHERE LaufID = " + Literal(token),
          count);
    }
    if (status != 0) return status;
    if (count != "0") {
      committed = 1;
      Run(db, "ROLLBACK");
      return 0;
    }
    // Not there: write it first, so that the other transaction can never
    // commit; the row goes again in the same transaction.
    status = InsertToken(db, token);
    if (status == kDuplicateKey) {
      committed = 1;
      Run(db, "ROLLBACK");
      return 0;
    }
    if (status == 0) {
      status =
          Run(db, std::string("DELETE FROM ") + kTokenTable + " WHERE LaufID = " + Literal(token));
    }
    if (status == 0) status = Run(db, "COMMIT");
    if (status == 0) {
      committed = 0;
      return 0;
    }
    Run(db, "ROLLBACK");
    if (status != kDeadlock) return status;
  }
  return status;
}
