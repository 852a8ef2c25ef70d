// Stop signals: SIGINT and SIGTERM become a flag that the loop and every wait look at.
#pragma once

namespace brakkenfel {

/// Makes SIGINT and SIGTERM set the stop flag instead of ending the process; a second one kills.
void InstallStopSignals();
/// True when a stop signal has arrived and not yet been taken.
bool StopSignalPending();
/// Takes a pending stop signal: true once per arrival.
bool TakeStopSignal();
/// True once any stop signal has arrived, taken or not: the run was interrupted.
bool StopSignalArrived();

}  // namespace brakkenfel
