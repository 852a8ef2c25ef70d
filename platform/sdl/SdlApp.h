// Process-wide SDL set-up: opening the display, the error report, and stop signals.
#pragma once

#include <cstdint>
#include <string>

namespace brakkenfel {

/// Starts SDL's video on a real display; false, with the reason in `why`, when there is none.
bool OpenVideo(std::string& why);
/// Shuts SDL down again; harmless when OpenVideo failed or never ran.
void CloseVideo();
/// True between a successful OpenVideo and CloseVideo.
bool VideoOpen();

/// Reports an error that ends the program: always on stderr, and in a message box when a display is open.
void ShowErrorReport(std::int32_t number, const std::string& text);

/// Makes SIGINT and SIGTERM ask the window to unload, as its close button does; a second one kills.
void InstallStopSignals();
/// True when a stop signal has arrived and not yet been taken.
bool StopSignalPending();
/// Takes a pending stop signal: true once per arrival.
bool TakeStopSignal();

}  // namespace brakkenfel
