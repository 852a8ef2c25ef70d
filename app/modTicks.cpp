// The tick scheduler: picks the earliest due channel, sleeps until it is due, keeps it on its grid.
#include "app/modTicks.h"

#include <cmath>
#include <string>

#include "platform/Errors.h"
#include "platform/Rounding.h"

namespace brakkenfel {

std::array<TickChannel, 3> TickChannels{};
double MsPerCount = 0.0;

namespace {

Clock* TheClock = nullptr;

}  // namespace

void StartTicks(Clock& TickClock) {
    const std::int64_t frequency = TickClock.Frequency();
    if (frequency <= 0) {
        throw RuntimeError(ErrInvalidProcedure, "the high-resolution counter reports a frequency of " +
                                                    std::to_string(frequency) + " counts per second");
    }
    TheClock = &TickClock;
    const auto f = static_cast<double>(frequency);
    MsPerCount = 1000.0 / f;
    TickChannels[TickMove].Interval = RoundChecked<std::int64_t>(f / 90.0);
    TickChannels[TickFrame].Interval = RoundChecked<std::int64_t>(f / 30.0);
    TickChannels[TickSecond].Interval = frequency;
}

std::int32_t NextTick() {
    std::int32_t channel = 0;
    for (std::int32_t i = 1; i < static_cast<std::int32_t>(TickChannels.size()); ++i) {
        if (TickChannels[i].NextDue < TickChannels[channel].NextDue) channel = i;
    }
    TickChannel& chosen = TickChannels[channel];
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
            ScheduleNext(channel, 0);
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

void ResetTicks() {
    TickChannels = {};
    MsPerCount = 0.0;
    TheClock = nullptr;
}

}  // namespace brakkenfel
