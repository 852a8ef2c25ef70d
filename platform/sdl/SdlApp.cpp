// SDL start-up and shutdown, and the fatal-error report.
#include "platform/sdl/SdlApp.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace brakkenfel {

namespace {

bool videoOpen = false;
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
    // Frames are drawn by the CPU; handing the window surface to the display as it is spares a GL
    // context (and, without a GPU, a software rasteriser's threads) that would only copy it again.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
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
        why = std::string("no display: ") + SDL_GetError();
        return false;
    }
    const char* chosen = SDL_GetCurrentVideoDriver();
    if (chosen == nullptr || IsHeadlessDriver(chosen)) {
        why = std::string("no display: SDL fell back to the '") + (chosen ? chosen : "unknown") +
              "' video driver, which shows nothing";
        SDL_Quit();
        return false;
    }
    videoOpen = true;
    return true;
}

void CloseVideo() {
    videoOpen = false;
    SDL_Quit();
}

bool VideoOpen() { return videoOpen; }

void ShowErrorReport(std::int32_t number, const std::string& text) {
    const std::string message = "Error " + std::to_string(number) + ": " + text;
    std::cerr << "brakkenfel: " << message << std::endl;
    if (videoOpen) {
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Brakkenfel", message.c_str(), nullptr);
    }
}

}  // namespace brakkenfel
