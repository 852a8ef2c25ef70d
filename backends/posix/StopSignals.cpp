// The stop-signal flag: set from the handler, read between passes of the loop and inside waits.
#include "platform/StopSignals.h"

#include <csignal>

namespace brakkenfel {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t firstSignal = 0;

extern "C" void OnStopSignal(int number) {
    // Only flags here: the loop and the waits turn them into an orderly stop.
    if (firstSignal == 0) firstSignal = number;
    stopSignal = 1;
}

// Present only so that SIGPIPE stops being fatal: the write that raised it sees EPIPE and the trace
// ends the run in order. A handler, unlike SIG_IGN, is reset by exec, so contestants get the default.
extern "C" void OnBrokenPipe(int) {}

void Install(int number, void (*handler)(int), bool keepIgnored) {
    struct sigaction action {};
    if (keepIgnored && sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) return;
    action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a stalled pipe or an open waiting for a reader must give
    // way to the stop. No SA_RESETHAND either: every wait ends on the first signal, so a second one
    // has nothing left to break, and killing the process then would cut short the contestants'
    // stop and the summary that are already under way (each with its own deadline).
    action.sa_flags = 0;
    sigaction(number, &action, nullptr);
}

}  // namespace

void InstallStopSignals() {
    Install(SIGINT, OnStopSignal, true);
    Install(SIGTERM, OnStopSignal, false);
    Install(SIGHUP, OnStopSignal, true);
    Install(SIGPIPE, OnBrokenPipe, false);
}

bool StopSignalPending() { return stopSignal != 0; }


bool TakeStopSignal() {
    if (stopSignal == 0) return false;
    stopSignal = 0;
    return true;
}

int StopSignalNumber() { return firstSignal; }

void RequestStop(int Signal) { OnStopSignal(Signal); }

}  // namespace brakkenfel
