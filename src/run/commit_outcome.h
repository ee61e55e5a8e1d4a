// What became of a run's COMMIT that did not answer OK: refused by a server
// that is still there, it did not happen; lost with the connection, the
// database is asked, about this run's own commit and causally, on a node of
// the cluster's primary component.
#pragma once

#include "db/booking_statements.h"
#include "db/db_connection.h"
#include "export/run_record.h"

// True when the COMMIT just failed with a server error (a certification
// conflict 1213, 1180 or 1047 from a node that left the primary component,
// any other) on a connection that still answers: the server rolled the
// transaction back.
bool CommitRefusedByLiveServer(DbConnection& db);

// Whether the commit of the run that wrote record (phase committing) went
// through, asked over db: by its token where it wrote one, otherwise by
// whether its booking is still pending. Waits a bounded time for the node to
// be ready and reads causally. Returns 1 committed, 0 not, -1 when it cannot
// be told now.
// The booking's keys are compared as form reads them.
int RunCommitted(DbConnection& db, const MarkingForm& form, const RunRecord& record);
