// Xlib's fatal I/O error handler, replaced so that a lost X server ends the program cleanly.
#include "backends/sdl/SdlX11.h"

#include <X11/Xlib.h>

#include "backends/sdl/SdlApp.h"

namespace brakkenfel {

namespace {

// Xlib calls exit() if this returns, so it never does.
int OnX11ConnectionLost(Display* display) {
    const char* name = display != nullptr ? DisplayString(display) : nullptr;
    EndOnLostDisplay(name != nullptr && name[0] != '\0' ? name : "(unknown)");
}

}  // namespace

void CatchLostX11Display() {
    // Process-wide, and the same libX11 SDL loads at run time, so it covers SDL's connection.
    XSetIOErrorHandler(OnX11ConnectionLost);
}

}  // namespace brakkenfel
