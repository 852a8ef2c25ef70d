// Stop signals: SIGINT, SIGTERM and SIGHUP become a flag that the loop and every wait look at.
#pragma once

namespace brakkenfel {

/// Makes SIGINT, SIGTERM and SIGHUP set the stop flag instead of ending the process (SIGINT and
/// SIGHUP stay ignored when the process started with them ignored, as under nohup), and makes a
/// write to a closed pipe fail with EPIPE instead of killing the process. Handlers do not restart
/// interrupted calls, so a blocked write or open returns EINTR when a stop signal arrives.
void InstallStopSignals();
/// True when a stop signal has arrived and not yet been taken.
bool StopSignalPending();
/// Takes a pending stop signal: true once per arrival.
bool TakeStopSignal();
/// The first stop signal that arrived (or was requested) in this run; 0 when none has.
int StopSignalNumber();
/// Stops the run as if `Signal` had arrived: a closed trace pipe stops it as SIGPIPE would.
void RequestStop(int Signal);

}  // namespace brakkenfel
