// One complete transfer run: settings, connection, run guard, recovery of an
// interrupted run, selection, export of every pending booking, marking,
// purge, commit, and the protocol of it all.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "config/account.h"
#include "db/booking_statements.h"
#include "db/db_connection.h"
#include "export/booking_export.h"
#include "export/booking_record.h"
#include "export/transfer_file.h"
#include "log/protocol_log.h"
#include "run/command_line.h"
#include "run/run_guard.h"

// Exit statuses besides the commit's 1 (success) and 0 (commit failed).
constexpr int kExitUsage = 98;
constexpr int kExitSettingsMissing = 97;
constexpr int kExitTransferFile = 90;

// Everything a run owns. main creates one and hands it to RunTransfer.
struct RunState {
  CommandLine command_line;
  ProtocolLog protocol;
  FILE* out = stdout;       // the console
  std::string server_time;  // DD.MM.YYYY HH:MM:SS, empty when the query failed
  Account account;          // as read from the settings file
  DbConnection db;
  RunGuard guard;
  TransferFile transfer;  // BEWDATA.dat and the run record beside it
  MarkingForm marking_form;
  StatementHandle selection;
  BookingRecord record;
  ExportContext export_context;  // exported count, the booking to recognise the run by
  int status = 0;                // the most recent step's status
};

// Reads the account from the settings file and connects. Returns 0; 97 when
// the settings file cannot be read; otherwise the client library's error
// number. Reports both failures on the console and in the protocol.
int ReadSettingsAndConnect(RunState& state);

// Performs one run for the arguments after the program name and returns the
// exit status: 98 usage, 97 settings file missing, the connection's error
// status (see ConnectFailureExitStatus), 95 another run at work, 90 transfer
// file not creatable, not completely written or not to be put right after an
// interrupted run, 1 committed, 0 not committed (the lines are taken back).
int RunTransfer(RunState& state, const std::vector<std::string>& args);
