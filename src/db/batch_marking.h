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
