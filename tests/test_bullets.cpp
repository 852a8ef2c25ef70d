// The bullet pool: spawning, the flight step, edges, trimming and plotting (the hash pins the angle tables).
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "display/BackBuffer.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::int16_t True = -1;

/// A bullet in flight at (x, y) with the given speeds.
Bullet Flying(float x, float y, float speedX = 0.0f, float speedY = 0.0f) { return {x, y, speedX, speedY, True}; }

/// Rounds a double result to float: for sums and quotients of floats this equals the strict
/// 32-bit operation, computed without the code's own float arithmetic.
float F(double exact) { return static_cast<float>(exact); }

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
        BackWidth = SavedWidth;
        BackHeight = SavedHeight;
    }

private:
    std::int32_t SavedWidth = BackWidth;
    std::int32_t SavedHeight = BackHeight;
};

// The tables were once computed at start-up with the C library's sin and cos; the values carried
// since must be those, bit for bit, or every recorded match and snapshot would change.
TEST_F(BulletTest, CarriedAngleTablesAreWhatTheCLibraryComputed) {
    std::size_t Checked = 0;
    for (float Step = 0.0f; Step <= 255.0f; Step += 1.0f) {
        const double Theta = static_cast<double>(Step) * static_cast<double>(FullTurn) / 256.0;
        const auto Index = static_cast<std::size_t>(Step);
        const auto Sine = static_cast<float>(std::sin(Theta));
        const auto Cosine = static_cast<float>(std::cos(Theta));
        EXPECT_EQ(BitCast<std::uint32_t>(SinTable[Index]), BitCast<std::uint32_t>(Sine))
            << "sine of step " << Index << " should be " << std::hexfloat << Sine;
        EXPECT_EQ(BitCast<std::uint32_t>(CosTable[Index]), BitCast<std::uint32_t>(Cosine))
            << "cosine of step " << Index << " should be " << std::hexfloat << Cosine;
        ++Checked;
    }
    EXPECT_EQ(Checked, 256u);
}

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

const float BelowBottom = 285.0f - Gravity;  // plus one move's gravity lands on 285 exactly

TEST_F(BulletTest, RemovedOnlyPastLeftRightAndBottom) {
    ASSERT_EQ(F(double{BelowBottom} + double{Gravity}), 285.0f);  // the bottom rows rely on it
    struct Case { const char* Name; float X, Y, SpeedX, SpeedY; bool StaysActive; };
    for (const Case& c : {Case{"x exactly 0 stays", 0.0f, 100.0f, 0.0f, 0.0f, true},
                          Case{"x just below 0 leaves", 0.0f, 100.0f, -1e-6f, 0.0f, false},
                          Case{"left through speed leaves", 1.0f, 100.0f, -2.0f, 0.0f, false},
                          Case{"x exactly the width leaves", 373.0f, 100.0f, 0.0f, 0.0f, false},
                          Case{"x just below the width stays", std::nextafter(373.0f, 0.0f), 100.0f, 0.0f, 0.0f, true},
                          Case{"right through speed leaves", 372.0f, 100.0f, 2.0f, 0.0f, false},
                          Case{"y exactly the height leaves", 10.0f, BelowBottom, 0.0f, 0.0f, false},
                          Case{"y just below the height stays", 10.0f, std::nextafter(BelowBottom, 0.0f), 0.0f, 0.0f, true},
                          Case{"above the field stays", 10.0f, -500.0f, 0.0f, -3.0f, true}}) {
        // A second bullet in the middle keeps slot 0 in the pool, so a removed bullet can be inspected.
        Bullets = {Flying(c.X, c.Y, c.SpeedX, c.SpeedY), Flying(186.0f, 142.0f)};
        MoveBullets();
        ASSERT_EQ(Bullets.size(), 2u) << c.Name;
        EXPECT_EQ(Bullets[0].Active, c.StaysActive ? True : 0) << c.Name;
        EXPECT_EQ(CountBullets(), c.StaysActive ? 2 : 1) << c.Name;
        // No bouncing: the horizontal speed keeps its sign whatever edge was crossed.
        EXPECT_EQ(std::signbit(Bullets[0].SpeedX), std::signbit(c.SpeedX)) << c.Name;
    }
}

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
    MoveBullets();  // an empty pool stays empty
    EXPECT_EQ(CountBullets(), 0);
    AddBullet(20.0f, 30.0f, 0, 2.0f);
    ASSERT_EQ(Bullets.size(), 1u);
    EXPECT_EQ(Bullets[0].X, 20.0f);
}

TEST_F(BulletTest, DrawingPlotsOneWhitePixelRoundedHalfToEven) {
    struct Case { float X, Y; int PixelX, PixelY; };  // -1: nothing is drawn
    for (const Case& c : {Case{10.5f, 20.5f, 10, 20}, Case{11.5f, 21.5f, 12, 22}, Case{10.49f, 20.51f, 10, 21},
                          Case{0.0f, 0.0f, 0, 0}, Case{5.0f, -0.3f, -1, -1}, Case{372.6f, 100.0f, -1, -1},
                          Case{100.0f, 284.5f, 100, 284}, Case{100.0f, 284.7f, -1, -1}}) {
        DCHandle dc = CreateCompatibleDC(nullptr);
        SelectObject(dc.get(), CreateCompatibleBitmap(dc.get(), BackWidth, BackHeight));
        Bullets = {Flying(c.X, c.Y), Bullet{30.0f, 30.0f, 0.0f, 0.0f, 0}};  // a free slot is never drawn
        DrawBullets(dc.get());
        std::vector<std::array<std::uint32_t, 3>> lit;  // x, y, colour
        for (int y = 0; y < BackHeight; ++y)
            for (int x = 0; x < BackWidth; ++x)
                if (const std::uint32_t p = dc->Target().Pixel(x, y)) lit.push_back({std::uint32_t(x), std::uint32_t(y), p});
        const auto want = c.PixelX < 0 ? decltype(lit){}
                                       : decltype(lit){{std::uint32_t(c.PixelX), std::uint32_t(c.PixelY), 0xFFFFFFu}};
        EXPECT_EQ(lit, want) << c.X << ", " << c.Y;
    }
}

TEST_F(BulletTest, FlyBitForBitAsTheContestantDocsVectorsSay) {
    // The block after "<!-- example flight-vectors -->": angle, move, then x, y, vx, vy each as bits and decimal.
    std::ifstream Docs(std::string(BRAKKENFEL_SOURCE_DIR) + "/docs/contestants.md");
    std::string Line;
    while (std::getline(Docs, Line) && Line.find("<!-- example flight-vectors -->") == std::string::npos) {
    }
    std::getline(Docs, Line);  // the fence
    std::getline(Docs, Line);  // the column names
    int Rows = 0, Angle = -1, Move = 0;
    while (std::getline(Docs, Line) && Line.find("```") == std::string::npos) {
        std::istringstream Fields(Line);
        int NewAngle = 0, NewMove = 0;
        Fields >> NewAngle >> NewMove;
        if (NewMove == 0) {
            EraseBullets();
            AddBullet(20.0f, 20.0f, static_cast<std::uint8_t>(NewAngle), 2.0f);
        } else {
            ASSERT_EQ(std::tuple(NewAngle, NewMove), std::tuple(Angle, Move + 1)) << Line;
            MoveBullets();
        }
        Angle = NewAngle;
        Move = NewMove;
        const Bullet& Shot = Bullets.at(0);
        for (const float Value : {Shot.X, Shot.Y, Shot.SpeedX, Shot.SpeedY}) {
            std::string Bits, Decimal;
            Fields >> Bits >> Decimal;
            EXPECT_EQ(std::stoul(Bits, nullptr, 16), std::bit_cast<std::uint32_t>(Value)) << Line;
            EXPECT_EQ(std::stof(Decimal), Value) << Line;
        }
        ++Rows;
    }
    EXPECT_GE(Rows, 12);
}

}  // namespace
}  // namespace brakkenfel
