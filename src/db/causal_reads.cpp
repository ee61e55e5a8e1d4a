// Causal reads and a ready node on a Galera cluster.
#include "db/causal_reads.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

// Unknown system variable: a server built without Galera's variables.
constexpr int kUnknownVariable = 1193;

// The wsrep_sync_wait bits of a run: its reads (SELECT) wait. Its markings
// and the token's insert need not: the cluster's certification refuses the
// COMMIT of a transaction that changed a row another node changed meanwhile.
constexpr char kSyncWait[] = "SET SESSION wsrep_sync_wait = 1";

constexpr auto kReadyInterval = std::chrono::milliseconds(200);

// 1 for a cluster node, 0 for a single server, or the query's failed status.
int IsClusterNode(DbConnection& db) {
  std::string on;
  const int status = SQL_QueryValue(db, "SELECT @@wsrep_on", on);
  if (status == kUnknownVariable) return 0;
  if (status != 0) return status;
  return on == "1" ? 1 : 0;
}

// True when the node's status wsrep_ready is ON. SHOW, unlike SELECT, waits
// for nothing under causal reads, and a node outside the primary component
// answers it too.
bool NodeIsReady(DbConnection& db) {
  StatementHandle show;
  show.text = "SHOW STATUS LIKE 'wsrep_ready'";
  MYSQL_ROW row = nullptr;
  const bool ready = SQL_Execute(db, show) == 0 && SQL_Fetch(db, show, row) == 0 &&
                     mysql_num_fields(show.result) == 2 && row[1] != nullptr &&
                     std::string(row[1]) == "ON";
  SQL_FreeResult(show);
  return ready;
}

}  // namespace

int SQL_UseCausalReads(DbConnection& db) {
  const int node = IsClusterNode(db);
  if (node != 1) return node;
  StatementHandle sync_wait;
  sync_wait.text = kSyncWait;
  const int status = SQL_Execute(db, sync_wait);
  return status == 0 ? 1 : status;
}

int SQL_WaitForReadyNode(DbConnection& db, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const int node = IsClusterNode(db);
    if (node == 0) return 0;
    if (node == 1 && NodeIsReady(db)) return 0;
    if (db.mysql == nullptr || mysql_ping(db.mysql) != 0 ||
        std::chrono::steady_clock::now() > end) {
      return -1;
    }
    std::this_thread::sleep_for(kReadyInterval);
  }
}
