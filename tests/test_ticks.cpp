// The tick scheduler on a scripted clock: channel choice, sleeps, lateness and long-run rates.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "app/modTicks.h"
#include "platform/Errors.h"
#include "platform/FakeClock.h"

namespace brakkenfel {
namespace {

constexpr std::int64_t TenMHz = 10'000'000;

class TicksTest : public ::testing::Test {
protected:
    void TearDown() override { ResetTicks(); }
};

TEST_F(TicksTest, IntervalsRoundToNearestCount) {
    struct Case { std::int64_t frequency, move, frame; };
    for (const Case c : {Case{3'579'545, 39'773, 119'318}, Case{TenMHz, 111'111, 333'333}, Case{1'000, 11, 33}}) {
        FakeClock clock(c.frequency);
        StartTicks(clock);
        EXPECT_EQ(TickChannels[TickMove].Interval, c.move) << c.frequency;
        EXPECT_EQ(TickChannels[TickFrame].Interval, c.frame) << c.frequency;
        EXPECT_EQ(TickChannels[TickSecond].Interval, c.frequency);
        EXPECT_DOUBLE_EQ(MsPerCount, 1000.0 / static_cast<double>(c.frequency));
    }
}

TEST_F(TicksTest, StartLeavesCountsAndDueTimes) {
    TickChannels[TickFrame].Count = 7;
    FakeClock clock(TenMHz);
    StartTicks(clock);
    EXPECT_EQ(TickCount(TickFrame), 7);
    EXPECT_EQ(TickChannels[TickFrame].NextDue, 0);
}

TEST_F(TicksTest, ZeroFrequencyFailsWithoutDividing) {
    FakeClock clock(0);
    try {
        StartTicks(clock);
        FAIL() << "StartTicks accepted a frequency of 0";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ErrInvalidProcedure);
        EXPECT_NE(std::string(error.what()).find("frequency of 0"), std::string::npos) << error.what();
    }
    EXPECT_EQ(TickChannels[TickMove].Interval, 0);
}

TEST_F(TicksTest, FirstThreeTicksAreMoveFrameSecondWithoutSleeping) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
    const std::int64_t start = clock.Now();
    EXPECT_EQ(NextTick(), TickMove);
    EXPECT_EQ(NextTick(), TickFrame);
    EXPECT_EQ(NextTick(), TickSecond);
    EXPECT_TRUE(clock.Sleeps.empty());
    for (std::int32_t channel : {TickMove, TickFrame, TickSecond}) {
        EXPECT_EQ(TickCount(channel), 1);
        EXPECT_EQ(TickChannels[channel].NextDue, start + TickChannels[channel].Interval);
    }
}

TEST_F(TicksTest, EqualDueTimesGoToTheLowerIndex) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
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

// Lateness: under one interval keeps the grid, a whole interval or more restarts from now.
TEST_F(TicksTest, LateChannelKeepsGridUnlessAWholeIntervalBehind) {
    struct Case { std::int64_t late; bool keepsGrid; };
    for (const Case c : {Case{1, true}, Case{111'110, true}, Case{111'111, false}, Case{5'000'000, false}}) {
        ResetTicks();
        FakeClock clock(TenMHz);
        StartTicks(clock);
        const std::int64_t due = clock.Now();
        for (auto& channel : TickChannels) channel.NextDue = due + 10'000'000;
        TickChannels[TickMove].NextDue = due;
        clock.Advance(c.late);
        clock.ReadStep = 3;  // the second reading comes a little later than the first
        EXPECT_EQ(NextTick(), TickMove);
        const std::int64_t readAt = due + c.late;  // the first reading, which gives the lateness
        const std::int64_t expected = c.keepsGrid ? due + 111'111 + 3 : readAt + 3 + 111'111;
        EXPECT_EQ(TickChannels[TickMove].NextDue, expected) << "late by " << c.late;
        EXPECT_TRUE(clock.Sleeps.empty());
    }
}

// Waits round to whole milliseconds, halves to even; up to half a millisecond runs at once.
TEST_F(TicksTest, WaitsSleepRoundedMilliseconds) {
    struct Case { std::int64_t wait; std::vector<std::int32_t> sleeps; };
    for (const Case& c : {Case{0, {}}, Case{5'000, {}}, Case{5'001, {1}}, Case{15'000, {2}},
                          Case{25'000, {2}}, Case{35'000, {4}}, Case{111'111, {11}}}) {
        ResetTicks();
        FakeClock clock(TenMHz);
        StartTicks(clock);
        for (auto& channel : TickChannels) channel.NextDue = clock.Now() + 10'000'000;
        const std::int64_t due = clock.Now() + c.wait;
        TickChannels[TickMove].NextDue = due;
        EXPECT_EQ(NextTick(), TickMove);
        EXPECT_EQ(clock.Sleeps, c.sleeps) << "wait " << c.wait;
        if (c.sleeps.empty()) {
            // Rescheduled from the present, as with no lateness.
            EXPECT_EQ(TickChannels[TickMove].NextDue, due - c.wait + 111'111);
        } else {
            // The sleep's end, measured against the old due time, moves the grid.
            const std::int64_t slept = c.sleeps[0] * (TenMHz / 1000);
            const std::int64_t wokeAt = due - c.wait + slept;
            EXPECT_EQ(TickChannels[TickMove].NextDue, wokeAt + 111'111 - (wokeAt - due));
        }
    }
}

// Runs the scheduler for `seconds` of fake time; returns each second tick's (frames, moves).
std::vector<std::array<std::int32_t, 2>> RunPaced(FakeClock& clock, int seconds) {
    StartTicks(clock);
    std::vector<std::array<std::int32_t, 2>> perSecond;
    // A pile-up is a channel handed out again and again with no sleep in between.
    std::array<std::int32_t, 3> burst{};
    std::array<std::int32_t, 3> longestBurst{};
    while (TickCount(TickSecond) <= seconds) {
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
    EXPECT_LE(longestBurst[TickMove], 2) << "moves piled up";
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

TEST_F(TicksTest, CountWrapsInsteadOfOverflowing) {
    FakeClock clock(TenMHz);
    StartTicks(clock);
    TickChannels[TickMove].Count = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(NextTick(), TickMove);
    EXPECT_EQ(TickCount(TickMove), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace brakkenfel
