// SDL's performance counter behind the clock seam.
#include "backends/sdl/SdlClock.h"

#include <SDL.h>

namespace brakkenfel {

std::int64_t SdlClock::Frequency() { return static_cast<std::int64_t>(SDL_GetPerformanceFrequency()); }

std::int64_t SdlClock::Counter() { return static_cast<std::int64_t>(SDL_GetPerformanceCounter()); }

void SdlClock::Sleep(std::int32_t milliseconds) {
    if (milliseconds > 0) SDL_Delay(static_cast<Uint32>(milliseconds));
}

}  // namespace brakkenfel
