// A scripted clock for tests: time moves only when the test or a sleep moves it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Clock.h"

namespace brakkenfel {

/// A clock whose counter advances only by Advance(), by each reading's step, or by Sleep().
class FakeClock final : public Clock {
public:
    /// A clock of `frequency` counts per second, starting at `start` counts.
    explicit FakeClock(std::int64_t frequency, std::int64_t start = 1'000'000)
        : CountsPerSecond(frequency), Reading(start) {}

    std::int64_t Frequency() override { return CountsPerSecond; }
    std::int64_t Counter() override {
        const std::int64_t value = Reading;
        Reading += ReadStep;
        return value;
    }
    void Sleep(std::int32_t milliseconds) override {
        Sleeps.push_back(milliseconds);
        Reading += (static_cast<std::int64_t>(milliseconds) * CountsPerSecond) / 1000 + SleepOverrun;
    }

    /// Moves the counter forward by `counts`.
    void Advance(std::int64_t counts) { Reading += counts; }
    /// The value the next Counter() reading will return.
    std::int64_t Now() const { return Reading; }

    /// Every sleep asked for, in milliseconds, in order.
    std::vector<std::int32_t> Sleeps;
    /// Counts added to every sleep beyond what was asked (a sleep that overruns).
    std::int64_t SleepOverrun = 0;
    /// Counts the counter moves on after each reading (0: reading takes no time).
    std::int64_t ReadStep = 0;

private:
    std::int64_t CountsPerSecond;
    std::int64_t Reading;
};

}  // namespace brakkenfel
