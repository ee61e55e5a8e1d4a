// Markings sent in batches: several statements per round trip to the server,
// each statement's own status read back in order.
#pragma once

#include <string>
#include <vector>

#include "db/db_connection.h"
#include "export/batch_marks.h"

// Runs statements in their order, as many per round trip as fit a text of
// about 256 KiB. A statement that fails alone (its transaction intact) is
// followed by the rest; a failure that loses the transaction ends the batch.
// Every statement that ran gets its status in marks, the others none.
void SQL_MarkBatch(DbConnection& db, const std::vector<std::string>& statements, BatchMarks& marks);

// Formats the own marking statement of the batch's booking number booking
// into statement (empty when it has none). The marking by keys asks only for
// the statements it sends, so that a batch its list marks costs no more.
using OwnStatementFn = void (*)(size_t booking, std::string& statement, void* context);

// Marks a batch of bookings as SQL_MarkBatch marks their statements, and with
// marks that are the same: the bookings with a key tuple (FormatKeyTuple; an
// empty one for the others) first by one statement with the list of their
// tuples, the others by their statements. That statement stands for each of
// its bookings only when it ran and found exactly as many rows as it lists
// bookings; each booking is then marked as having found one row. When it
// failed with the transaction intact, or found fewer rows (a booking's row
// not found) or more (rows that share one booking's keys, which could stand
// in for a row not found), the batch's statements run one booking at a time.
// When it lost the transaction, the first booking gets its status.
// Equal counts could still hide a booking not found behind another's extra
// row, but only when a fetched row lost its keys after the selection: a
// listed booking's keys are texts the connection carries as they are and
// calendar dates, so its own row always compares equal to its tuple.
void SQL_MarkBatchByKeys(DbConnection& db, const std::vector<const std::string*>& key_tuples,
                         OwnStatementFn own_statement, void* context, BatchMarks& marks);

// The same with every booking's statement given.
void SQL_MarkBatchByKeys(DbConnection& db, const std::vector<std::string>& statements,
                         const std::vector<std::string>& key_tuples, BatchMarks& marks);
