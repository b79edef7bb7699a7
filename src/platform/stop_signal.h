// SIGTERM and SIGINT (a service stop, Ctrl-C). The first asks the monitor to stop at its next safe point
// (after the current sale, or at a wait where the sale can be taken up again); a second one ends the
// process at once, as a stuck monitor must still be stoppable. Process-wide, as signals are.
#pragma once

namespace quorvanti::platform {

// Installs the handlers; called once at start.
void installStopSignals();
// True once a stop was asked for.
bool stopSignalled();

// The status a process ended by a second signal reports (128 + the signal, as shells do).
int immediateStopStatus(int signalNumber);

}  // namespace quorvanti::platform
