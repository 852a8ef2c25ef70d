// The tick scheduler: three fixed-rate channels (moves, frames, seconds) on the injected clock.
#pragma once

#include <array>
#include <cstdint>

#include "platform/Clock.h"

namespace brakkenfel {

/// Channel index of the 90-a-second move.
inline constexpr std::int32_t TickMove = 0;
/// Channel index of the 30-a-second frame.
inline constexpr std::int32_t TickFrame = 1;
/// Channel index of the once-a-second update.
inline constexpr std::int32_t TickSecond = 2;

/// One channel: its tick count, next due time and period, in counter counts.
struct TickChannel {
    std::int32_t Count = 0;     ///< ticks handed out since load or the last reset; wraps
    std::int64_t NextDue = 0;   ///< counter value at which it is next due; 0: never run
    std::int64_t Interval = 0;  ///< the period in counts
};

/// The three channels, indexed by TickMove, TickFrame, TickSecond; index order is priority order.
extern std::array<TickChannel, 3> TickChannels;
/// Milliseconds one counter count lasts (1000 / frequency).
extern double MsPerCount;

/// Reads the clock's frequency and sets the intervals; fails with an error if it is 0 or negative.
void StartTicks(Clock& TickClock);
/// Hands out one tick: picks the earliest due channel, sleeps until it is due, returns its index.
std::int32_t NextTick();
/// Sets the channel's next due time from a fresh reading, one interval on, less `Lateness` counts.
void ScheduleNext(std::int32_t Channel, std::int64_t Lateness);
/// The channel's tick count.
std::int32_t TickCount(std::int32_t Channel);
/// Sets the channel's tick count to 0.
void ResetTickCount(std::int32_t Channel);
/// Puts every channel back to its state at program load and forgets the clock.
void ResetTicks();

}  // namespace brakkenfel
