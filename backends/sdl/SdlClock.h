// The real clock: SDL's high-resolution performance counter and its millisecond sleep.
#pragma once

#include "platform/Clock.h"

namespace brakkenfel {

/// The performance counter and SDL_Delay; needs no SDL subsystem to be initialised.
class SdlClock final : public Clock {
public:
    std::int64_t Frequency() override;
    std::int64_t Counter() override;
    void Sleep(std::int32_t milliseconds) override;
};

}  // namespace brakkenfel
