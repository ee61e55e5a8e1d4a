// What became of the markings of a batch: one entry per marking that ran, in
// order. The database layer fills it (SQL_MarkBatch), the export reads it.
#pragma once

#include <string>
#include <vector>

struct BatchMarks {
  std::vector<int> statuses;             // 0, or the error number the marking failed with
  std::vector<unsigned long long> rows;  // rows each marking changed
  // The last status lost the run's transaction (the connection is gone, or the
  // server rolled the transaction back); no marking after it ran.
  bool transaction_lost = false;
  std::string lost_error;  // the client library's text for that status
};
