// A run's protocol log and console as the end-to-end tests expect them: the
// texts the run hands to the protocol turned into the log's bytes (CR LF),
// and the server's time masked.
#pragma once

#include <string>
#include <vector>

// Stands in the expected texts for the server's time, DD.MM.YYYY HH:MM:SS.
extern const char kMaskedTime[];  // "<TIME>"

// text with the server's time after "Übergabe vom " and "Uebergabe am "
// replaced by kMaskedTime, once its form is checked.
std::string MaskServerTime(const std::string& text);

// The protocol log's bytes of these texts as WriteProtocol writes them: each
// line feed as CR LF, each text ended by CR LF.
std::string LogOf(const std::vector<std::string>& texts);

// The texts every run that gets past the connection writes, time masked.
extern const char kLogStarted[];     // "\n>>>>...>>>>Protokollierung gestartet:"
extern const char kLogServerTime[];  // "Übergabe vom <TIME>\n"
extern const char kLogEnded[];       // ">>>>...>>>>Programm beendet\n\n\n"
std::string LogCount(int count);     // "\nAnzahl übergebener Buchungen : <count>"

// The protocol of a run that commits: started, the server time, the booking
// lines, the count of them and the closing line.
std::string CommittedRunLog(const std::vector<std::string>& booking_lines);

// The console of a "/D" run that commits, time masked: started, the booking
// lines (each with its line end) and the count of them.
std::string CommittedRunConsole(const std::vector<std::string>& booking_lines);
extern const char kConsoleStarted[];  // "Uebergabe am <TIME> gestartet\n\n"
std::string ConsoleCount(int count);  // "\nAnzahl uebergebener Buchungen : <count>"
