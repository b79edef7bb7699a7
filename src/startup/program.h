// Wiring of the monitor: the services of this machine, the start-up, and the event loop that runs the
// poll until the program ends.
#pragma once

#include <string>
#include <vector>

#include "context/app_context.h"
#include "monitor/poll_cycle.h"

namespace quorvanti::startup {

// Runs start-up and then the event loop on `ctx` until the program ends; answers the exit status.
// ProgramExit and any run-time error nothing caught end here.
int runMonitor(context::AppContext& ctx, const monitor::EmissionRoutine& emiteNFCeVenda);

// The program: parses the command line, builds the services of this machine and runs the monitor.
int quorvantiMain(const std::vector<std::string>& args);

}  // namespace quorvanti::startup
