// Process-wide SDL set-up: opening the display and the error report.
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

}  // namespace brakkenfel
