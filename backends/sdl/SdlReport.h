// The error report's own window, for displays where SDL's message box cannot be shown.
#pragma once

#include <string>

namespace brakkenfel {

/// Shows `message` under `title` with an OK button, drawn with the label's font, and waits until
/// Enter, Escape, the button or the close box closes it, a stop signal arrives or SDL quits.
/// False, with the reason in `why`, when it could not be shown.
bool ShowReportWindow(const std::string& title, const std::string& message, std::string& why);

}  // namespace brakkenfel
