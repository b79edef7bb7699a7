// The fiscal events by hand, each ending the program with its status:
//   quorvanti --app-dir DIR --cancel KEY --reason "TEXT"     cancellation of an authorised NFC-e
//   quorvanti --app-dir DIR --void FROM TO --reason "TEXT"   voiding of a range of numbers
//   quorvanti --app-dir DIR --gaps                           numbers neither used nor voided
// The settings, database and certificate are read as start-up reads them; nothing of the queue is
// touched. The outcome goes to standard output (success) or standard error, and to LOG_NFCE.txt.
#pragma once

#include <ostream>

#include "context/app_context.h"
#include "startup/command_line.h"

namespace quorvanti::startup {

// Runs the command of `line` (cancelKey, voidFrom/voidTo or gaps set); answers the exit status.
int runFiscalCommand(context::AppContext& ctx, const CommandLine& line, std::ostream& out, std::ostream& errors);

}  // namespace quorvanti::startup
