// The hit rule: a bullet's drawn pixel against the other gun's drawn square, one hit per bullet.
#include <gtest/gtest.h>

#include "contest/clsHuman.h"
#include "score/Scoreboard.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::int16_t Cannon = 0;
constexpr std::int16_t Helicopter = 1;

struct HitCase {
    const char* Name;
    float GunX, GunY;        // the Cannon's centre; the Helicopter stands at (40, 40)
    float X, Y;              // the bullet, fired by
    std::int16_t Owner;
    std::int64_t CannonHits, HelicopterHits;
};

class HitsTest : public ::testing::Test {
protected:
    void AddGuns(float GunX, float GunY) {
        ResetScore();
        auto Idle = std::make_shared<clsHuman>();
        ASSERT_EQ(Sprites->AddSprite("Cannon", GunX, GunY, 0, -1, Idle, "", 16, 16, 16, 89, 29), Cannon);
        ASSERT_EQ(Sprites->AddSprite("Helicopter", 40.0f, 40.0f, 0, -1, Idle, "", 16, 16, 16, 59, 14), Helicopter);
    }
    // A bullet standing still at (X, Y): scoring must not depend on its speed.
    static void Place(float X, float Y, std::int16_t Owner) { AddBullet(X, Y, 0, 0.0f, Owner); }

    FreshRegistry Registry;
};

class HitsTableTest : public HitsTest, public ::testing::WithParamInterface<HitCase> {};

TEST_P(HitsTableTest, ABulletScoresWhenItsDrawnPixelIsInTheOtherGunsDrawnSquare) {
    const HitCase& Case = GetParam();
    AddGuns(Case.GunX, Case.GunY);
    Place(Case.X, Case.Y, Case.Owner);
    ScoreHits();
    EXPECT_EQ(HitsOf(Cannon), Case.CannonHits);
    EXPECT_EQ(HitsOf(Helicopter), Case.HelicopterHits);
}

// The Cannon at (20, 20) is drawn over columns and rows 12 to 27 (at X 21: columns 13 to 28); the
// Helicopter over 32 to 47.
INSTANTIATE_TEST_SUITE_P(Table, HitsTableTest, ::testing::Values(
    HitCase{"FirstColumn", 20, 20, 12, 20, Helicopter, 0, 1},
    HitCase{"LastColumn", 20, 20, 27, 20, Helicopter, 0, 1},
    HitCase{"FirstRow", 20, 20, 20, 12, Helicopter, 0, 1},
    HitCase{"LastRow", 20, 20, 20, 27, Helicopter, 0, 1},
    HitCase{"OneLeft", 20, 20, 11, 20, Helicopter, 0, 0},
    HitCase{"OneRight", 20, 20, 28, 20, Helicopter, 0, 0},
    HitCase{"OneAbove", 20, 20, 20, 11, Helicopter, 0, 0},
    HitCase{"OneBelow", 20, 20, 20, 28, Helicopter, 0, 0},
    HitCase{"HalfRoundsUpInto", 20, 20, 11.5f, 20, Helicopter, 0, 1},
    HitCase{"HalfRoundsUpOutOf", 20, 20, 27.5f, 27.5f, Helicopter, 0, 0},
    HitCase{"HalfRoundsDownInto", 21, 20, 28.5f, 20, Helicopter, 0, 1},
    HitCase{"HalfRoundsDownOutOf", 21, 20, 12.5f, 20, Helicopter, 0, 0},
    HitCase{"JustUnderAHalfStaysOut", 20, 20, 11.499999f, 20, Helicopter, 0, 0},
    HitCase{"GunAtAHalfRoundsDown", 20.5f, 20, 28, 20, Helicopter, 0, 0},
    HitCase{"GunAtAHalfRoundsUp", 21.5f, 20, 29, 20, Helicopter, 0, 1},
    HitCase{"AboveTheFieldRoundingToRowZero", 20, 8, 20, -0.3f, Helicopter, 0, 0},
    HitCase{"TopRowOfTheField", 20, 8, 20, 0.3f, Helicopter, 0, 1},
    HitCase{"OwnGunsSquare", 20, 20, 20, 20, Cannon, 0, 0},
    HitCase{"TheOtherWay", 20, 20, 47, 32, Cannon, 1, 0},
    HitCase{"FiredByNoGun", 20, 20, 20, 20, NoOwner, 0, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(HitsTest, ABulletScoresOnceHoweverLongItCrossesAndAReusedSlotStartsAfresh) {
    AddGuns(20, 20);
    Place(12, 20, Helicopter);
    for (int Move = 0; Move < 3; ++Move) ScoreHits();
    Bullets[0].X = 27;  // still inside, moves later
    ScoreHits();
    EXPECT_EQ(HitsOf(Helicopter), 1);
    EXPECT_EQ(Winner(Score), "Helicopter");

    Bullets[0].Active = 0;
    Place(20, 20, Helicopter);  // the freed slot 0 again
    ASSERT_EQ(Bullets.size(), 1u);
    ScoreHits();
    EXPECT_EQ(HitsOf(Helicopter), 2);

    Place(40, 40, Cannon);
    Place(41, 41, Cannon);
    ScoreHits();
    EXPECT_EQ(HitsOf(Cannon), 2);
    EXPECT_EQ(Winner(Score), "draw");
    EXPECT_EQ(Score.Moves, 6);
}

// The scoreboard keeps the squares and shot counts between moves: every change must reach it.
TEST_F(HitsTest, AGunMovedFiringOrRemovedIsSeenOnTheNextMove) {
    AddGuns(20, 20);
    ScoreHits();
    Sprites->X(Cannon, 100);  // now drawn over columns 92 to 107
    Place(20, 20, Helicopter);
    Place(100, 20, Helicopter);
    ScoreHits();
    EXPECT_EQ(HitsOf(Helicopter), 1);
    Sprites->Shoot(Cannon);
    ScoreHits();
    EXPECT_EQ(Score.Guns[Cannon].Shots, 1);
    Sprites->RemoveSprite(Cannon);
    Place(101, 20, Helicopter);
    ScoreHits();
    EXPECT_EQ(HitsOf(Helicopter), 1);
}

}  // namespace
}  // namespace brakkenfel
