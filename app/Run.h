// How a run ends: the interruption notice, the exit status, and the run in a window with its outputs.
#pragma once

#include <cstdint>

#include "app/Options.h"
#include "app/modMain.h"

namespace brakkenfel {

/// Tells stderr that a stop signal cut the run short after `moves` moves, naming the signal.
void ReportInterruption(std::int64_t moves);

/// The exit status of a run that ended now: 128 + the stop signal's number when it cut the run
/// short (`interrupted`), 141 whenever the trace's reader went away, else 0.
int EndStatus(bool interrupted);

/// Runs `Body` on a set-up contest and tears it down however the body ends, so that no window or
/// picture outlives the run when an error is reported.
template <class Body>
void RunSetUp(const ContestHost& Host, Body body) {
    SetUpContest(Host);
    try {
        body();
    } catch (...) {
        TearDownContest();
        throw;
    }
    TearDownContest();
}

/// Runs the contest in the window `Host` creates until it is closed (or --moves moves have run), writing the trace and, at the
/// end, the last frame shown as the snapshot; returns the exit status (0, or 141 as above).
int RunWindowContest(const Options& Chosen, ContestHost Host);

}  // namespace brakkenfel
