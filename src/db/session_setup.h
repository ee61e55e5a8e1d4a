// The session the run's statements are written for, set up right after
// connecting: no sql_mode that changes how they compare, and the character
// set latin1 (Windows-1252) on every side of the connection.
#pragma once

#include "db/db_connection.h"

// SQL_SetUpSession's status for a connection that is not latin1 after all:
// the client library's number for a character set it cannot use.
constexpr int kSessionNotLatin1 = 2019;

// Sets the session's sql_mode to none at all: STRICT_TRANS_TABLES,
// STRICT_ALL_TABLES and TRADITIONAL turn a text that is no date into a failed
// marking, EMPTY_STRING_IS_NULL compares an empty key as NULL,
// PAD_CHAR_TO_FULL_LENGTH selects CHAR keys with their padding. Then asks
// for latin1 with mysql_set_character_set and checks it with
// SQL_CheckSessionLatin1. Returns 0, the status of a step that failed, or
// kSessionNotLatin1.
int SQL_SetUpSession(DbConnection& db);

// Reads character_set_client, _connection and _results. Returns 0 when all
// three are latin1; kSessionNotLatin1 otherwise, with db.last_error naming
// all three; or the query's status.
int SQL_CheckSessionLatin1(DbConnection& db);
