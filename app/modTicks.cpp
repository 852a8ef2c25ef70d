// The tick scheduler: picks the earliest due channel, sleeps until it is due, keeps it on its grid.
#include "app/modTicks.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/Errors.h"
#include "platform/Rounding.h"

namespace brakkenfel {

std::array<TickChannel, 3> TickChannels{};
double MsPerCount = 0.0;

namespace {

Clock* TheClock = nullptr;
std::int64_t Frequency = 0;

std::int64_t MoveInterval(std::int32_t Shift) {
    // Scaling by a power of two is exact, so 90 a second keeps the interval it always had.
    return RoundChecked<std::int64_t>(std::ldexp(static_cast<double>(Frequency) / 90.0, -Shift));
}

bool Eligible(const TickChannel& Channel) { return !Channel.Paused || Channel.Steps > 0; }

}  // namespace

void StartTicks(Clock& TickClock) {
    const std::int64_t frequency = TickClock.Frequency();
    if (frequency <= 0) {
        throw RuntimeError(ErrInvalidProcedure, "the high-resolution counter reports a frequency of " +
                                                    std::to_string(frequency) + " counts per second");
    }
    TheClock = &TickClock;
    Frequency = frequency;
    const auto f = static_cast<double>(frequency);
    MsPerCount = 1000.0 / f;
    TickChannels[TickMove].Interval = MoveInterval(0);
    TickChannels[TickFrame].Interval = RoundChecked<std::int64_t>(f / 30.0);
    TickChannels[TickSecond].Interval = frequency;
}

std::int32_t NextTick() {
    // Only the move channel is ever paused, so some channel is always eligible.
    std::int32_t channel = Eligible(TickChannels[0]) ? 0 : 1;
    for (std::int32_t i = channel + 1; i < static_cast<std::int32_t>(TickChannels.size()); ++i) {
        if (Eligible(TickChannels[i]) && TickChannels[i].NextDue < TickChannels[channel].NextDue) channel = i;
    }
    TickChannel& chosen = TickChannels[channel];
    if (chosen.Paused) --chosen.Steps;
    // Counted before any waiting, so a reading right after a reset sees the tick being handed out.
    chosen.Count = static_cast<std::int32_t>(static_cast<std::uint32_t>(chosen.Count) + 1u);

    const std::int64_t now = TheClock->Counter();
    if (chosen.NextDue == 0) chosen.NextDue = now;
    const std::int64_t wait = chosen.NextDue - now;

    if (wait < 0) {
        const std::int64_t late = -wait;
        // Late by less than a period: stay on the grid and catch up without sleeping.
        // Late by a whole period or more: drop the backlog and restart the grid from now.
        ScheduleNext(channel, late < chosen.Interval ? late : 0);
    } else {
        const auto ms = RoundChecked<std::int32_t>(static_cast<double>(wait) * MsPerCount);
        if (ms > 0) {
            const std::int64_t due = chosen.NextDue;
            TheClock->Sleep(ms);
            // An early or overrunning sleep is carried into the next due time.
            ScheduleNext(channel, TheClock->Counter() - due);
        } else {
            // Up to half a millisecond early runs at once, the next due time counted from now. An
            // interval shorter than that (the fastest move rates) would then never sleep: such a
            // channel stays on its grid instead.
            ScheduleNext(channel, static_cast<double>(chosen.Interval) * MsPerCount < 2.0 ? -wait : 0);
        }
    }
    return channel;
}

void ScheduleNext(std::int32_t Channel, std::int64_t Lateness) {
    TickChannel& channel = TickChannels[Channel];
    channel.NextDue = TheClock->Counter() + channel.Interval - Lateness;
}

std::int32_t TickCount(std::int32_t Channel) { return TickChannels[Channel].Count; }

void ResetTickCount(std::int32_t Channel) { TickChannels[Channel].Count = 0; }

std::int32_t SetMoveRate(std::int32_t Shift) {
    Shift = std::clamp(Shift, SlowestMoveShift, FastestMoveShift);
    TickChannels[TickMove].Interval = MoveInterval(Shift);
    return Shift;
}

void PauseChannel(std::int32_t Channel, bool Paused) {
    TickChannel& channel = TickChannels[Channel];
    if (channel.Paused == Paused) return;
    channel.Paused = Paused;
    channel.Steps = 0;
    // Due at once: the time spent paused is no backlog to catch up.
    channel.NextDue = 0;
}

void StepChannel(std::int32_t Channel) {
    TickChannel& channel = TickChannels[Channel];
    if (!channel.Paused) return;
    ++channel.Steps;
    channel.NextDue = 0;
}

void ResetTicks() {
    TickChannels = {};
    MsPerCount = 0.0;
    TheClock = nullptr;
    Frequency = 0;
}

}  // namespace brakkenfel
