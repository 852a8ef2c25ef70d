// Process-wide SDL set-up: opening the display, noticing its loss, and the error report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brakkenfel {

/// Starts SDL's video on a real display; false, with the reason in `why`, when there is none.
bool OpenVideo(std::string& why);
/// Shuts SDL down again; harmless when OpenVideo failed or never ran.
void CloseVideo();
/// True between a successful OpenVideo and CloseVideo.
bool VideoOpen();

/// SDL_GetError's text, or, where SDL failed without one, which video driver failed silently.
std::string SdlFailureReason();

/// What must still happen when the display goes away (stop contestants, flush outputs). It runs
/// once, inside the display library, just before the program ends with status 1: it must not
/// touch the display, and should finish within a second.
void SetDisplayLostHandler(std::function<void()> handler);

/// Ends the program at once after losing the display named `name`: runs the handler set above,
/// says so on stderr and exits with status 1, running no static destructor (they could call into
/// the dead connection).
[[noreturn]] void EndOnLostDisplay(const char* name);

/// Reports an error that ends the program: always on stderr, and, when a display is open, in a
/// message box (or, where SDL cannot show one, a small window of our own) until the person closes
/// it or a stop signal arrives. The display is closed afterwards.
void ShowErrorReport(std::int32_t number, const std::string& text);

}  // namespace brakkenfel
