// The tick scheduler on a scripted clock: channel choice, sleeps, lateness and long-run rates.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::int64_t TenMHz = 10'000'000;

class TicksTest : public ::testing::Test {
protected:
    void TearDown() override { ResetTicks(); }
};

TEST_F(TicksTest, IntervalsRoundToNearestCountAndStartLeavesCountsAndDueTimes) {
    TickChannels[TickFrame].Count = 7;
    struct Case { std::int64_t frequency, move, frame; };
    for (const Case c : {Case{3'579'545, 39'773, 119'318}, Case{TenMHz, 111'111, 333'333}, Case{1'000, 11, 33}}) {
        FakeClock clock(c.frequency);
        StartTicks(clock);
        EXPECT_EQ(TickChannels[TickMove].Interval, c.move) << c.frequency;
        EXPECT_EQ(TickChannels[TickFrame].Interval, c.frame) << c.frequency;
        EXPECT_EQ(TickChannels[TickSecond].Interval, c.frequency);
        EXPECT_DOUBLE_EQ(MsPerCount, 1000.0 / static_cast<double>(c.frequency));
    }
    EXPECT_EQ(TickCount(TickFrame), 7);
    EXPECT_EQ(TickChannels[TickFrame].NextDue, 0);
}

TEST_F(TicksTest, ZeroFrequencyFailsWithoutDividing) {
    FakeClock clock(0);
    std::string text;
    EXPECT_EQ(ErrorOf([&] { StartTicks(clock); }, &text), ErrInvalidProcedure);
    EXPECT_NE(text.find("frequency of 0"), std::string::npos) << text;
    EXPECT_EQ(TickChannels[TickMove].Interval, 0);
}

// Equal due times go to the lower index: at start all three are due at once.
TEST_F(TicksTest, FirstThreeTicksAreMoveFrameSecondWithoutSleepingAndTiesGoToTheLowerIndex) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
    const std::int64_t start = clock.Now();
    for (std::int32_t channel : {TickMove, TickFrame, TickSecond}) EXPECT_EQ(NextTick(), channel);
    EXPECT_TRUE(clock.Sleeps.empty());
    for (std::int32_t channel : {TickMove, TickFrame, TickSecond}) {
        EXPECT_EQ(TickCount(channel), 1);
        EXPECT_EQ(TickChannels[channel].NextDue, start + TickChannels[channel].Interval);
    }
    for (auto& channel : TickChannels) channel.NextDue = clock.Now() - 10;
    TickChannels[TickMove].NextDue = clock.Now() + 5'000'000;  // far ahead
    EXPECT_EQ(NextTick(), TickFrame);
    EXPECT_EQ(NextTick(), TickSecond);
}

TEST_F(TicksTest, CountRisesBeforeTheSleep) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
    struct Probe final : Clock {
        FakeClock& inner;
        std::int32_t countDuringSleep = -1;
        explicit Probe(FakeClock& c) : inner(c) {}
        std::int64_t Frequency() override { return inner.Frequency(); }
        std::int64_t Counter() override { return inner.Counter(); }
        void Sleep(std::int32_t ms) override {
            countDuringSleep = TickCount(TickMove);
            inner.Sleep(ms);
        }
    } probe(clock);
    StartTicks(probe);
    for (auto& channel : TickChannels) channel.NextDue = clock.Now() + 50'000;  // 5 ms ahead
    ResetTickCount(TickMove);
    EXPECT_EQ(NextTick(), TickMove);
    EXPECT_EQ(probe.countDuringSleep, 1);
}

// A move falls due at D while the clock reads D + offset (negative: early), moving on `readStep` counts
// with each reading. An early tick sleeps the wait rounded to whole milliseconds, halves to even, and up
// to half a millisecond early runs at once; a late one keeps its grid unless a whole interval behind.
TEST_F(TicksTest, SleepsAndNextDueTimesFollowHowEarlyOrLateATickIs) {
    struct Case { std::int64_t offset, readStep; std::vector<std::int32_t> sleeps; std::int64_t nextDue; };
    for (const Case& c : std::vector<Case>{
             {0, 0, {}, 111'111}, {-5'000, 0, {}, 106'111}, {-5'001, 0, {1}, 111'111}, {-15'000, 0, {2}, 111'111},
             {-25'000, 0, {2}, 111'111}, {-35'000, 0, {4}, 111'111}, {-111'111, 0, {11}, 111'111},
             // The second reading, a little after the first, is the present a restart counts from.
             {1, 3, {}, 111'114}, {111'110, 3, {}, 111'114}, {111'111, 3, {}, 222'225}, {5'000'000, 3, {}, 5'111'114}}) {
        ResetTicks();
        FakeClock clock(TenMHz);
        StartTicks(clock);
        const std::int64_t due = clock.Now() - c.offset;
        for (auto& channel : TickChannels) channel.NextDue = due + 10'000'000;
        TickChannels[TickMove].NextDue = due;
        clock.ReadStep = c.readStep;
        EXPECT_EQ(NextTick(), TickMove);
        EXPECT_EQ(clock.Sleeps, c.sleeps) << "offset " << c.offset;
        EXPECT_EQ(TickChannels[TickMove].NextDue - due, c.nextDue) << "offset " << c.offset;
    }
}

// Runs the scheduler for `seconds` of fake time; returns each second tick's (frames, moves).
// The moves run at 90 x 2^`shift` a second.
std::vector<std::array<std::int32_t, 2>> RunPaced(FakeClock& clock, int seconds, std::int32_t shift = 0) {
    StartTicks(clock);
    SetMoveRate(shift);
    std::int64_t handed = 0;
    std::vector<std::array<std::int32_t, 2>> perSecond;
    // A pile-up is a channel handed out again and again with no sleep in between.
    std::array<std::int32_t, 3> burst{};
    std::array<std::int32_t, 3> longestBurst{};
    while (TickCount(TickSecond) <= seconds) {
        // A channel that never sleeps would hold fake time still for ever.
        if (++handed > 10'000 * (seconds + 1)) {
            ADD_FAILURE() << "the clock stood still";
            break;
        }
        const std::size_t sleepsBefore = clock.Sleeps.size();
        const std::int32_t channel = NextTick();
        const bool slept = clock.Sleeps.size() != sleepsBefore;
        for (std::int32_t other = 0; other < 3; ++other) {
            if (other != channel || slept) burst[other] = 0;
        }
        if (!slept) longestBurst[channel] = std::max(longestBurst[channel], ++burst[channel]);
        if (channel == TickSecond) {
            perSecond.push_back({TickCount(TickFrame), TickCount(TickMove)});
            ResetTickCount(TickFrame);
            ResetTickCount(TickMove);
        }
    }
    // At 90 x 32 a millisecond's sleep spans nearly three moves, which then run back to back.
    EXPECT_LE(longestBurst[TickMove], shift < FastestMoveShift ? 2 : 3) << "moves piled up";
    EXPECT_LE(longestBurst[TickFrame], 2) << "frames piled up";
    return perSecond;
}

TEST_F(TicksTest, SixtySecondsGiveThirtyFramesAndNinetyMovesEachSecond) {
    for (std::int64_t overrun : {std::int64_t{0}, std::int64_t{3 * TenMHz / 1000}}) {
        ResetTicks();
        FakeClock clock(TenMHz);
        clock.SleepOverrun = overrun;
        const auto perSecond = RunPaced(clock, 60);
        ASSERT_EQ(perSecond.size(), 61u);
        EXPECT_EQ(perSecond[0], (std::array<std::int32_t, 2>{1, 1}));
        for (std::size_t s = 1; s < perSecond.size(); ++s) {
            EXPECT_NEAR(perSecond[s][0], 30, 1) << "second " << s << ", overrun " << overrun;
            EXPECT_NEAR(perSecond[s][1], 90, 1) << "second " << s << ", overrun " << overrun;
        }
    }
}

// Every rate from 90/8 to 90 x 32 keeps its pace over time, limits clamp, and frames stay at 30.
TEST_F(TicksTest, MoveRatesFromAnEighthToThirtyTwoTimesNinetyKeepTheirPace) {
    struct Case { std::int32_t asked, shift; };
    for (const Case c : {Case{-9, -3}, Case{-1, -1}, Case{2, 2}, Case{3, 3}, Case{4, 4}, Case{5, 5}, Case{40, 5}}) {
        ResetTicks();
        FakeClock clock(TenMHz);
        clock.SleepOverrun = TenMHz / 10'000;  // sleeps run 0.1 ms long, as real ones do
        StartTicks(clock);
        EXPECT_EQ(SetMoveRate(c.asked), c.shift);
        const auto perSecond = RunPaced(clock, 5, c.shift);
        for (std::size_t s = 2; s < perSecond.size(); ++s) {
            EXPECT_NEAR(perSecond[s][0], 30, 1) << "second " << s << ", shift " << c.shift;
            EXPECT_NEAR(perSecond[s][1], std::ldexp(90.0, c.shift), 2) << "second " << s << ", shift " << c.shift;
        }
    }
    // Halves to even, as at start: 1125 / 90 is 12.5.
    FakeClock odd(1'125);
    StartTicks(odd);
    EXPECT_EQ(TickChannels[TickMove].Interval, 12);
    SetMoveRate(-1);
    EXPECT_EQ(TickChannels[TickMove].Interval, 25);
}

// While paused the move channel hands out only the steps granted, each at once; resumed, it runs on.
TEST_F(TicksTest, APausedMoveChannelHandsOutOnlyItsSteps) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
    PauseChannel(TickMove, true);
    std::array<std::int32_t, 3> handed{};
    for (int i = 0; i < 40; ++i) ++handed[NextTick()];
    EXPECT_EQ(handed[TickMove], 0);
    EXPECT_GT(handed[TickFrame], 30);
    StepChannel(TickMove);
    StepChannel(TickMove);
    EXPECT_EQ(NextTick(), TickMove);
    EXPECT_EQ(NextTick(), TickMove);
    for (int i = 0; i < 10; ++i) EXPECT_NE(NextTick(), TickMove);
    PauseChannel(TickMove, false);
    EXPECT_EQ(NextTick(), TickMove);
    StepChannel(TickMove);  // running: a step grants nothing more
    EXPECT_EQ(TickChannels[TickMove].Steps, 0);
}

}  // namespace
}  // namespace brakkenfel
