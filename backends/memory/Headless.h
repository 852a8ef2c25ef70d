// Headless runs: the real set-up, moves, frames and tear-down on an in-memory window.
#pragma once

#include "app/Options.h"
#include "app/modMain.h"

namespace brakkenfel {

/// Runs the contest without a window as `Chosen` asks (unpaced moves or paced seconds), writing
/// the trace, the snapshot, the captions and the end-of-run summary; returns the exit status.
/// A stop signal ends it in order: 128 + the signal's number when it cut a --moves or --seconds
/// run short, 0 when it ended an open-ended run, 141 whenever the trace's reader went away.
int RunHeadless(const Options& Chosen, ContestHost Host);

}  // namespace brakkenfel
