// Tests of the bullet pool: angle tables, spawning, the flight step, edges, trimming and plotting.
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bullets/modBulletAndGravity.h"
#include "bullets/modFloatingPointError.h"
#include "display/BackBuffer.h"
#include "platform/Errors.h"

namespace brakkenfel {
namespace {

constexpr std::int16_t True = -1;

/// A bullet in flight at (x, y) with the given speeds.
Bullet Flying(float x, float y, float speedX = 0.0f, float speedY = 0.0f) { return {x, y, speedX, speedY, True}; }

/// Rounds a double result to float: for sums and quotients of floats this equals the strict
/// 32-bit operation, computed without the code's own float arithmetic.
float F(double exact) { return static_cast<float>(exact); }

/// The float's bit pattern, so a comparison cannot hide a last-bit difference.
std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value); }

/// The number of the RuntimeError `call` raises, or 0 when it raises none.
template <class Call>
std::int32_t ErrorOf(Call call) {
    try {
        call();
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

class BulletTest : public ::testing::Test {
protected:
    void SetUp() override {
        EraseBullets();
        BuildTrigTables();
        BackWidth = 373;
        BackHeight = 285;
    }
    void TearDown() override {
        EraseBullets();
        BackWidth = savedWidth_;
        BackHeight = savedHeight_;
    }

private:
    std::int32_t savedWidth_ = BackWidth;
    std::int32_t savedHeight_ = BackHeight;
};

struct TableCase {
    const std::array<float, 256>* Table;
    int Angle;
    double Expected;
    double Tolerance;  ///< 0: the entry must be exactly Expected
};

class TrigTableEntries : public BulletTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(TrigTableEntries, HoldTheSineAndCosineOfTheFloatTurn) {
    const TableCase c = GetParam();
    const float entry = (*c.Table)[static_cast<std::size_t>(c.Angle)];
    if (c.Tolerance == 0.0)
        EXPECT_EQ(entry, static_cast<float>(c.Expected));
    else
        EXPECT_NEAR(entry, c.Expected, c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Bullets, TrigTableEntries,
    ::testing::Values(TableCase{&SinTable, 64, 1.0, 0}, TableCase{&CosTable, 0, 1.0, 0},
                      TableCase{&CosTable, 128, -1.0, 0}, TableCase{&SinTable, 192, -1.0, 0},
                      TableCase{&SinTable, 0, 0.0, 0},
                      // The float turn is a little over 2 pi: a quarter turn's cosine is not 0.
                      TableCase{&CosTable, 64, -4.371139e-8, 1e-14},
                      TableCase{&SinTable, 128, -8.742278e-8, 1e-14},
                      TableCase{&SinTable, 32, 0.70710677, 1e-7},
                      // The last step is written too: the counter stops after 255, not before.
                      TableCase{&SinTable, 255, -0.024541054, 1e-9}, TableCase{&CosTable, 255, 0.9996988, 1e-7}));

struct SpawnCase {
    std::uint8_t Angle;
    double SpeedX, SpeedY;
};

class SpawnAngles : public BulletTest, public ::testing::WithParamInterface<SpawnCase> {};

TEST_P(SpawnAngles, VelocityFollowsTheTables) {
    AddBullet(50.0f, 60.0f, GetParam().Angle, 2.0f);
    ASSERT_EQ(Bullets.size(), 1u);
    const Bullet& b = Bullets[0];
    EXPECT_EQ(b.X, 50.0f);
    EXPECT_EQ(b.Y, 60.0f);
    EXPECT_EQ(b.Active, True);
    EXPECT_NEAR(b.SpeedX, GetParam().SpeedX, 1e-13);
    EXPECT_NEAR(b.SpeedY, GetParam().SpeedY, 1e-13);
}

INSTANTIATE_TEST_SUITE_P(Bullets, SpawnAngles,
                         ::testing::Values(SpawnCase{0, 0.0, 2.0}, SpawnCase{64, 2.0, -8.742278e-8},
                                           SpawnCase{128, -1.7484555e-7, -2.0}, SpawnCase{192, -2.0, 2.6226834e-7}));

TEST_F(BulletTest, SpawnTakesTheLowestFreeSlotOrAppendsOne) {
    for (int i = 0; i < 5; ++i) AddBullet(10.0f * i, 1.0f, 0, 1.0f);
    EXPECT_EQ(Bullets.size(), 5u);
    AddBullet(99.0f, 1.0f, 0, 1.0f);
    EXPECT_EQ(Bullets.size(), 6u);
    EXPECT_EQ(Bullets[5].X, 99.0f);
    Bullets[3].Active = 0;
    Bullets[1].Active = 0;
    AddBullet(7.0f, 1.0f, 0, 1.0f);
    EXPECT_EQ(Bullets.size(), 6u);
    EXPECT_EQ(Bullets[1].X, 7.0f);
    EXPECT_EQ(Bullets[1].Active, True);
    EXPECT_EQ(Bullets[3].Active, 0);
    EXPECT_EQ(CountBullets(), 5);
}

TEST_F(BulletTest, FullPoolRefusesAnotherBulletAndKeepsItsContents) {
    Bullets.assign(MaxBullets, Flying(1.0f, 2.0f, 3.0f, 4.0f));
    EXPECT_EQ(ErrorOf([] { AddBullet(5.0f, 5.0f, 0, 2.0f); }), ErrOverflow);
    ASSERT_EQ(Bullets.size(), std::size_t{MaxBullets});
    for (const Bullet& b : Bullets)
        ASSERT_TRUE(b.X == 1.0f && b.Y == 2.0f && b.SpeedX == 3.0f && b.SpeedY == 4.0f && b.Active == True);
    EXPECT_EQ(CountBullets(), 32767);
    Bullets[32766].Active = 0;  // one landing frees room for one shot
    AddBullet(5.0f, 5.0f, 0, 2.0f);
    EXPECT_EQ(Bullets[32766].X, 5.0f);
}

TEST_F(BulletTest, OneMoveAppliesDragThenGravityInFloatSteps) {
    Bullets = {Flying(100.0f, 100.0f, 2.0f, 0.0f)};
    MoveBullets();
    ASSERT_EQ(Bullets.size(), 1u);
    const Bullet& b = Bullets[0];
    const float speedX = F(2.0 / double{DragDivisor});
    const float speedY = F(double{F(0.0 / double{DragDivisor})} + double{Gravity});
    EXPECT_EQ(Bits(b.SpeedX), Bits(speedX));
    EXPECT_EQ(Bits(b.SpeedY), Bits(speedY));
    EXPECT_EQ(Bits(b.X), Bits(F(100.0 + double{speedX})));
    EXPECT_EQ(Bits(b.Y), Bits(F(100.0 + double{speedY})));
    EXPECT_NEAR(b.SpeedX, 1.994018, 5e-7);
    EXPECT_NEAR(b.SpeedY, 0.00981, 1e-9);
    EXPECT_NEAR(b.X, 101.994019, 5e-6);
    EXPECT_NEAR(b.Y, 100.009811, 5e-6);
}

// A long flight drifts away from a double-precision or differently ordered computation, so this
// pins every stored step to its 32-bit rounding.
TEST_F(BulletTest, LongFlightRoundsEveryStepToFloat) {
    BackWidth = BackHeight = 1 << 20;
    AddBullet(1.0f, 1.0f, 40, 2.0f);
    float x = Bullets[0].X, y = Bullets[0].Y, sx = Bullets[0].SpeedX, sy = Bullets[0].SpeedY;
    for (int move = 0; move < 2000; ++move) {
        sx = F(double{sx} / double{DragDivisor});
        sy = F(double{F(double{sy} / double{DragDivisor})} + double{Gravity});
        x = F(double{x} + double{sx});
        y = F(double{y} + double{sy});
        MoveBullets();
        ASSERT_EQ(Bits(Bullets[0].X), Bits(x)) << move;
        ASSERT_EQ(Bits(Bullets[0].Y), Bits(y)) << move;
        ASSERT_EQ(Bits(Bullets[0].SpeedY), Bits(sy)) << move;
    }
}

const float BelowBottom = 285.0f - Gravity;  // plus one move's gravity lands on 285 exactly

struct EdgeCase {
    const char* Name;
    float X, Y, SpeedX, SpeedY;
    bool StaysActive;
};

class EdgeRules : public BulletTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeRules, RemoveOnlyPastLeftRightAndBottom) {
    const EdgeCase c = GetParam();
    ASSERT_EQ(F(double{BelowBottom} + double{Gravity}), 285.0f);  // the bottom rows rely on it
    // A second bullet in the middle keeps slot 0 in the pool, so a removed bullet can be inspected.
    Bullets = {Flying(c.X, c.Y, c.SpeedX, c.SpeedY), Flying(186.0f, 142.0f)};
    MoveBullets();
    ASSERT_EQ(Bullets.size(), 2u);
    EXPECT_EQ(Bullets[0].Active, c.StaysActive ? True : 0);
    EXPECT_EQ(CountBullets(), c.StaysActive ? 2 : 1);
    // No bouncing: the horizontal speed keeps its sign whatever edge was crossed.
    EXPECT_EQ(std::signbit(Bullets[0].SpeedX), std::signbit(c.SpeedX));
}

INSTANTIATE_TEST_SUITE_P(
    Bullets, EdgeRules,
    ::testing::Values(EdgeCase{"XExactlyZeroStays", 0.0f, 100.0f, 0.0f, 0.0f, true},
                      EdgeCase{"XJustBelowZeroLeaves", 0.0f, 100.0f, -1e-6f, 0.0f, false},
                      EdgeCase{"LeftThroughSpeedLeaves", 1.0f, 100.0f, -2.0f, 0.0f, false},
                      EdgeCase{"XExactlyWidthLeaves", 373.0f, 100.0f, 0.0f, 0.0f, false},
                      EdgeCase{"XJustBelowWidthStays", std::nextafter(373.0f, 0.0f), 100.0f, 0.0f, 0.0f, true},
                      EdgeCase{"RightThroughSpeedLeaves", 372.0f, 100.0f, 2.0f, 0.0f, false},
                      EdgeCase{"YExactlyHeightLeaves", 10.0f, BelowBottom, 0.0f, 0.0f, false},
                      EdgeCase{"YJustBelowHeightStays", 10.0f, std::nextafter(BelowBottom, 0.0f), 0.0f, 0.0f, true},
                      EdgeCase{"AboveTheFieldStays", 10.0f, -500.0f, 0.0f, -3.0f, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BulletTest, TrimCutsTheTailAndKeepsInnerFreeSlots) {
    Bullets.assign(10, Bullet{});
    Bullets[0] = Flying(100.0f, 100.0f);
    Bullets[5] = Flying(200.0f, 100.0f);
    Bullets[9] = Flying(500.0f, 100.0f);  // leaves through the right edge on this move
    MoveBullets();
    ASSERT_EQ(Bullets.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(Bullets[i].Active, (i == 0 || i == 5) ? True : 0) << i;
    EXPECT_EQ(CountBullets(), 2);
}

TEST_F(BulletTest, LastBulletLeavingReleasesThePoolAndTheNextShotStartsAtZero) {
    AddBullet(10.0f, 10.0f, 0, 2.0f);
    AddBullet(372.5f, 10.0f, 64, 2.0f);
    Bullets[0].Active = 0;
    MoveBullets();
    EXPECT_TRUE(Bullets.empty());
    EXPECT_EQ(Bullets.capacity(), 0u);
    EXPECT_EQ(CountBullets(), 0);
    AddBullet(20.0f, 30.0f, 0, 2.0f);
    ASSERT_EQ(Bullets.size(), 1u);
    EXPECT_EQ(Bullets[0].X, 20.0f);
}

TEST_F(BulletTest, EmptyPoolDoesNothing) {
    MoveBullets();
    EXPECT_TRUE(Bullets.empty());
    EXPECT_EQ(CountBullets(), 0);
    DCHandle dc = CreateCompatibleDC(nullptr);
    SelectObject(dc.get(), CreateCompatibleBitmap(dc.get(), 4, 4));
    DrawBullets(dc.get());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dc->Target().Pixel(i % 4, i / 4), 0u);
}

struct DrawCase {
    float X, Y;
    int PixelX, PixelY;  ///< -1: nothing is drawn
};

class DrawRounding : public BulletTest, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(DrawRounding, PlotsOneWhitePixelRoundedHalfToEven) {
    const DrawCase c = GetParam();
    DCHandle dc = CreateCompatibleDC(nullptr);
    SelectObject(dc.get(), CreateCompatibleBitmap(dc.get(), BackWidth, BackHeight));
    Bullets = {Flying(c.X, c.Y), Bullet{30.0f, 30.0f, 0.0f, 0.0f, 0}};  // a free slot is never drawn
    DrawBullets(dc.get());
    int lit = 0;
    for (int y = 0; y < BackHeight; ++y)
        for (int x = 0; x < BackWidth; ++x)
            if (dc->Target().Pixel(x, y) != 0u) {
                ++lit;
                EXPECT_EQ(dc->Target().Pixel(x, y), 0xFFFFFFu);
                EXPECT_EQ(x, c.PixelX);
                EXPECT_EQ(y, c.PixelY);
            }
    EXPECT_EQ(lit, c.PixelX < 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Bullets, DrawRounding,
                         ::testing::Values(DrawCase{10.5f, 20.5f, 10, 20}, DrawCase{11.5f, 21.5f, 12, 22},
                                           DrawCase{10.49f, 20.51f, 10, 21}, DrawCase{0.0f, 0.0f, 0, 0},
                                           DrawCase{5.0f, -0.3f, -1, -1}, DrawCase{372.6f, 100.0f, -1, -1},
                                           DrawCase{100.0f, 284.5f, 100, 284}, DrawCase{100.0f, 284.7f, -1, -1}));

TEST_F(BulletTest, DrawingAPositionBeyond32BitsOverflows) {
    Bullets = {Flying(3e9f, 1.0f)};
    EXPECT_EQ(ErrorOf([] { DrawBullets(CreateCompatibleDC(nullptr).get()); }), ErrOverflow);
}

TEST(FloatingPointGuard, StaysOutOfTheWayWhileTheAbsorbingItWouldDoClearsFlags) {
    EXPECT_FALSE(FloatingPointGuardEnabled());
    std::feraiseexcept(FE_DIVBYZERO);
    FloatingPointGuard();
    EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
    AbsorbFloatingPointFault();
    EXPECT_FALSE(std::fetestexcept(FE_ALL_EXCEPT));
}

}  // namespace
}  // namespace brakkenfel
