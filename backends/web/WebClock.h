// The scheduler's clock in a web page: the page's time, and sleeps that hand control back to it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/Clock.h"

namespace brakkenfel {

/// A microsecond counter that the page sets from its own clock before each slice of the loop. A
/// page cannot block, so a sleep moves the counter on by itself and marks the slice as done: the
/// page calls again once its clock has caught up, and the scheduler finds its tick due.
class WebClock final : public Clock {
public:
    static constexpr std::int64_t CountsPerSecond = 1'000'000;

    std::int64_t Frequency() override { return CountsPerSecond; }
    std::int64_t Counter() override { return std::max(PageNow, SleptUntil); }
    void Sleep(std::int32_t Milliseconds) override {
        SleptUntil = Counter() + static_cast<std::int64_t>(Milliseconds) * (CountsPerSecond / 1000);
        Slept = true;
    }

    /// Sets the page's time at the start of a slice; the slice has not slept yet.
    void SetPageNow(std::int64_t Microseconds) {
        PageNow = Microseconds;
        Slept = false;
    }
    /// True once the scheduler asked to sleep in this slice.
    bool SleptInSlice() const { return Slept; }
    /// Microseconds from the page's time to the end of the last sleep (0 when it is over).
    std::int64_t WaitLeft() const { return std::max<std::int64_t>(0, SleptUntil - PageNow); }

private:
    std::int64_t PageNow = 0;
    std::int64_t SleptUntil = 0;
    bool Slept = false;
};

}  // namespace brakkenfel
