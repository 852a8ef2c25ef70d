// Xlib's fatal I/O error handler, replaced so that a lost X server ends the program cleanly.
#include "backends/sdl/SdlX11.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
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

void SetX11Text(SDL_Window* window, const char* name, const std::string& text) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return;
    Display* display = info.info.x11.display;
    const Atom property = XInternAtom(display, name, False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    // Sent with the window's next flush, as its drawing is: no round trip per frame.
    XChangeProperty(display, info.info.x11.window, property, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

}  // namespace brakkenfel
