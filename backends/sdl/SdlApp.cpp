// SDL start-up and shutdown, the end on a lost display, and the fatal-error report.
#include "backends/sdl/SdlApp.h"

#include <SDL.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include "backends/sdl/SdlReport.h"
#include "backends/sdl/SdlX11.h"

namespace brakkenfel {

namespace {

bool videoOpen = false;
std::function<void()> displayLost;

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// SDL drivers that run without showing anything; a window there would be invisible.
bool IsHeadlessDriver(const char* name) {
    return name != nullptr &&
           (std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0 ||
            std::strcmp(name, "evdev") == 0);
}

}  // namespace

bool OpenVideo(std::string& why) {
    // Our own handlers turn signals into an unload; SDL's would turn them into SDL_QUIT behind our back.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    const bool driverNamed = asked != nullptr && asked[0] != '\0';
    if (driverNamed && IsHeadlessDriver(asked)) {
        why = std::string("no display: SDL_VIDEODRIVER names the '") + asked + "' driver, which shows nothing";
        return false;
    }
    // A named driver (kmsdrm on a console, say) may work without these; otherwise they are the display.
    if (!driverNamed && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
        why = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return false;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        why = "no display: " + SdlFailureReason();
        return false;
    }
    const char* chosen = SDL_GetCurrentVideoDriver();
    if (chosen == nullptr || IsHeadlessDriver(chosen)) {
        why = std::string("no display: SDL fell back to the '") + (chosen ? chosen : "unknown") +
              "' video driver, which shows nothing";
        SDL_Quit();
        return false;
    }
    if (std::strcmp(chosen, "x11") == 0) {
        // Frames are drawn by the CPU; handing the window surface to the X server as it is spares a
        // GL context (and, without a GPU, a software rasteriser's threads) that would only copy it
        // again. Only x11 has such a framebuffer of its own: elsewhere (Wayland) the hint would
        // leave none at all. SDL reads it when the first window surface is made, so here is in time.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        CatchLostX11Display();
    }
    videoOpen = true;
    return true;
}

void CloseVideo() {
    videoOpen = false;
    SDL_Quit();
}

bool VideoOpen() { return videoOpen; }

std::string SdlFailureReason() {
    const char* reason = SDL_GetError();
    if (reason != nullptr && reason[0] != '\0') return reason;
    const char* driver = SDL_GetCurrentVideoDriver();
    return std::string("SDL gave no reason (video driver '") + (driver != nullptr ? driver : "none") + "')";
}

void SetDisplayLostHandler(std::function<void()> handler) { displayLost = std::move(handler); }

void EndOnLostDisplay(const char* name) {
    static bool ending = false;
    // Once only: should the handler itself lose the display again, the line and the exit still follow.
    if (!ending) {
        ending = true;
        if (displayLost) displayLost();
    }
    const std::string line = std::string("brakkenfel: lost the connection to display ") + name + "\n";
    // Straight to the descriptor: stderr's buffer may be in any state inside the display library.
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(1);
}

void ShowErrorReport(std::int32_t number, const std::string& text) {
    const std::string message = "Error " + std::to_string(number) + ": " + text;
    std::cerr << "brakkenfel: " << message << std::endl;
    if (!videoOpen) return;
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Brakkenfel", message.c_str(), nullptr) != 0) {
        // SDL's box needs what the display may lack (on X, the core fonts); ours needs only the
        // label's font, which the arena could not run without anyway.
        std::string why;
        if (!ShowReportWindow("Brakkenfel", message, why)) {
            std::cerr << "brakkenfel: the error could not be shown in a window either: " << why << std::endl;
        }
    }
    CloseVideo();
}

}  // namespace brakkenfel
