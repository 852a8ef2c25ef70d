// The stop-signal flag: set from the handler, read between passes of the loop and inside waits.
#include "platform/StopSignals.h"

#include <csignal>

namespace brakkenfel {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t anyStopSignal = 0;

extern "C" void OnStopSignal(int) {
    // Only a flag here: the window turns it into an unload between two passes of the loop.
    stopSignal = 1;
    anyStopSignal = 1;
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // One-shot: if the loop is stuck and never unloads, a second signal ends the process the usual way.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalPending() { return stopSignal != 0; }

bool StopSignalArrived() { return anyStopSignal != 0; }

bool TakeStopSignal() {
    if (stopSignal == 0) return false;
    stopSignal = 0;
    return true;
}

}  // namespace brakkenfel
