// Halvorn_MySQL: transfers the pending time-clock bookings into BEWDATA.dat.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/transfer_run.h"

int main(int argc, char** argv) {
  // A file size limit makes a write fail (and the run take its lines back)
  // instead of ending the process in the middle of a line.
  KeepRunningAtFileSizeLimit();
  RunState state;
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  return RunTransfer(state, args);
}
