#include "platform/stop_signal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace quorvanti::platform {

namespace {

std::atomic<int> signalsReceived{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free counter");

extern "C" void onStopSignal(int signalNumber) {
    if (signalsReceived.fetch_add(1) >= 1) _exit(immediateStopStatus(signalNumber));
}

}  // namespace

int immediateStopStatus(int signalNumber) { return 128 + signalNumber; }

void installStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: the monitor looks at the request at its own safe points.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool stopSignalled() { return signalsReceived.load() > 0; }

}  // namespace quorvanti::platform
