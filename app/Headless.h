// Headless runs: the real set-up, moves, frames and tear-down with an in-memory window.
#pragma once

#include <functional>

#include "app/Options.h"
#include "app/modMain.h"

namespace brakkenfel {

/// Runs the contest without a window as `Chosen` asks (unpaced moves or paced seconds), writing
/// the trace, the snapshot, the captions and the end-of-run summary; returns the exit status.
/// `StopRequested` is polled for an outside request to end the run early.
int RunHeadless(const Options& Chosen, ContestHost Host, std::function<bool()> StopRequested);

}  // namespace brakkenfel
