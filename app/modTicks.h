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
    bool Paused = false;        ///< handed out only for steps granted by StepChannel
    std::int32_t Steps = 0;     ///< ticks a paused channel may still hand out
};

/// The move rate's limits and default, as powers of two of 90 moves a second.
inline constexpr std::int32_t SlowestMoveShift = -3;
/// Fastest: 90 x 32 moves a second.
inline constexpr std::int32_t FastestMoveShift = 5;

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
/// Sets the move channel to 90 x 2^`Shift` moves a second (clamped to the limits); the interval is
/// frequency / (90 x 2^Shift) counts, rounded as at start. Returns the shift in force.
std::int32_t SetMoveRate(std::int32_t Shift);
/// Stops (`Paused`) or resumes handing out the channel's ticks; a resumed channel starts afresh from now.
void PauseChannel(std::int32_t Channel, bool Paused);
/// Lets a paused channel hand out one more tick, at once.
void StepChannel(std::int32_t Channel);
/// Puts every channel back to its state at program load and forgets the clock.
void ResetTicks();

}  // namespace brakkenfel
