// Markings sent in batches: several statements per round trip to the server,
// each statement's own status read back in order.
#pragma once

#include <string>
#include <vector>

#include "db/db_connection.h"

// What became of a batch of markings, one entry per statement that ran.
struct MarkOutcome {
  std::vector<int> statuses;             // 0, or the error number it failed with
  std::vector<unsigned long long> rows;  // rows each statement changed
  // The last status ends the run: it lost the run's transaction (the
  // connection is gone, or the server rolled the transaction back), or the
  // server refuses every marking (SQL_ProbeMarking); nothing after it ran.
  bool transaction_lost = false;
  std::string lost_error;  // the client library's text for that status
};

// Runs statements in their order, as many per round trip as fit a text of
// about 256 KiB. A statement that fails alone (its transaction intact) is
// followed by the rest; a failure that loses the transaction ends the batch.
// Every statement that ran gets its status in outcome, the others none.
void SQL_MarkBatch(DbConnection& db, const std::vector<std::string>& statements,
                   MarkOutcome& outcome);
