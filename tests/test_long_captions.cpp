// Long runs of the paced loop on a scripted clock: captions past nine hours, a day and the count's
// end, and a clock that leaps a day ahead without the loop trying to make up the lost ticks.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/modTicks.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::int64_t Frequency = 10'000'000;

/// RunContest on a MemoryForm and a FakeClock. `OnSecond` sees each caption with the count of
/// second ticks it belongs to and may change the run's state; the window closes after `Captions`.
class LongCaptionTest : public ::testing::Test, protected MemoryHost {
protected:
    /// Runs until `Captions` captions were shown and returns them.
    std::vector<std::string> Run(std::size_t Captions, const std::function<void(std::int32_t Second)>& OnSecond) {
        std::vector<std::string> Shown;
        Form->OnCaption = [&](const std::string& Caption) {
            Shown.push_back(Caption);
            OnSecond(TickCount(TickSecond));
            if (Shown.size() == Captions) Form->RequestClose();
        };
        RunContest(Host);
        return Shown;
    }
};

TEST_F(LongCaptionTest, TimePieceOfRunsPastNineHoursADayAndTheCountsEnd) {
    // A long run's second count, put in place a few ticks before each mark; the loop counts on from it.
    const std::map<std::int32_t, std::int32_t> LeapAt = {
        {3, 32'765}, {32'769, 86'397}, {86'401, std::numeric_limits<std::int32_t>::max() - 2}};
    const std::vector<std::string> Captions = Run(14, [&LeapAt](std::int32_t Second) {
        const auto Leap = LeapAt.find(Second);
        if (Leap != LeapAt.end()) TickChannels[TickSecond].Count = Leap->second;
    });
    // The rates are the scheduler's (an occasional 91st move shows where whole-millisecond sleeps
    // meet the grid); what matters here is the time piece after the last bar.
    std::vector<std::string> TimePieces;
    for (const std::string& Caption : Captions) TimePieces.push_back(Caption.substr(Caption.rfind(" | ") + 3));
    const std::vector<std::string> Expected = {
        "0:01", "0:02", "0:03",
        "6:06",   // 32,766 s: 9 h 6 min 6 s
        "6:07",   // 32,767 s, the largest 16-bit count
        "6:08",   // 32,768 s
        "6:09",
        "59:58",  // 86,398 s
        "59:59",
        "0:00",   // 86,400 s: a whole day; hours are not shown
        "0:01",   // 86,401 s
        "14:06",  // 2^31 - 2 s, about 68 years: 3 h 14 min 6 s into its day
        "14:07",  // 2^31 - 1 s
        "45:52",  // the count wraps to -2^31, which runs back from the end of a day
    };
    EXPECT_EQ(TimePieces, Expected);
}

TEST_F(LongCaptionTest, AClockThatLeapsADayAheadCostsOneTickPerChannelNotADaysBacklog) {
    std::int64_t Moves = 0;
    Host.AfterMove = [&Moves] { ++Moves; };
    const std::vector<std::string> Captions = Run(6, [&](std::int32_t Second) {
        if (Second == 3) Clock.Advance(86'400 * Frequency);  // a suspended machine waking up, say
    });
    // The leap makes every channel a day late: each ticks once at once and restarts its grid from
    // there, so the second after the leap shows one frame and one move and the next is whole again.
    const std::vector<std::string> Expected = {
        "FPS:  1 | MPS:  1 | 0:01",  "FPS:  30 | MPS:  90 | 0:02", "FPS:  30 | MPS:  90 | 0:03",
        "FPS:  1 | MPS:  1 | 0:04",  "FPS:  30 | MPS:  90 | 0:05", "FPS:  30 | MPS:  90 | 0:06",
    };
    EXPECT_EQ(Captions, Expected);
    // Nothing ran a day's 7.8 million moves behind the captions' backs.
    EXPECT_EQ(Moves, 1 + 90 + 90 + 1 + 90 + 90);
}

}  // namespace
}  // namespace brakkenfel
