// The clock seam: the high-resolution counter and the millisecond sleep, injected into the scheduler.
#pragma once

#include <cstdint>

namespace brakkenfel {

/// A monotonic counter with a fixed frequency and a way to sleep; the scheduler's only source of time.
class Clock {
public:
    virtual ~Clock() = default;
    /// Counts per second of Counter(); 0 means the counter is missing.
    virtual std::int64_t Frequency() = 0;
    /// The counter's current value.
    virtual std::int64_t Counter() = 0;
    /// Blocks the calling thread for about `milliseconds` whole milliseconds.
    virtual void Sleep(std::int32_t milliseconds) = 0;
};

}  // namespace brakkenfel
