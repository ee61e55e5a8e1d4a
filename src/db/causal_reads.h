// A run's connection to a node of a Galera cluster: every node applies the
// others' commits a moment later, so a run reads causally (it sees every
// commit the cluster made before its read), and asks about a commit only on a
// node that is part of the cluster's primary component. On a single server
// both are nothing.
#pragma once

#include "db/db_connection.h"

// Turns causal reads on for the session when the server is a cluster node
// (@@wsrep_on = 1): every SELECT then first waits until this node has applied
// all that the cluster committed before it. Returns 0 on a single server
// (also one without the variable), 1 when set, or the failed statement's status.
int SQL_UseCausalReads(DbConnection& db);

// Waits up to seconds until the node takes queries on tables (wsrep_ready),
// which a node that lost the primary component refuses until it is part of
// one again. Returns 0 when it does (or the server is no cluster node), -1
// after seconds or when the connection fails.
int SQL_WaitForReadyNode(DbConnection& db, int seconds);
