// Contestant controls and the built-in contestants: the sweeping gunner and the idle human seat.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "contest/Sprite.h"
#include "contest/clsAI.h"
#include "contest/clsHuman.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

class ContestantsTest : public ::testing::Test {
protected:
    FreshRegistry Registry;

    static std::int16_t Add(const std::shared_ptr<Sprite>& Handler, std::uint8_t Angle, std::int16_t ReloadTime = 0,
                            float X = 20.0f, float Y = 20.0f) {
        return Sprites->AddSprite("Gun", X, Y, Angle, -1, Handler, "", 16, 16, 16, ReloadTime, 29);
    }
};

/// Keeps the controls it is given and nothing else.
struct Holder : Sprite {
    std::shared_ptr<SpriteActions> Actions;
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList&) override { Actions = NewActions; }
    void Update() override {}
};

TEST_F(ContestantsTest, ControlsSteerTheirOwnSpriteOnly) {
    auto First = std::make_shared<Holder>();
    auto Second = std::make_shared<Holder>();
    Add(First, 30, 0, 11.5f, 12.5f);
    Add(Second, 40, 0, 20.0f, 20.0f);
    SpriteActions& Mine = *Second->Actions;
    EXPECT_EQ(Mine.X(), 20);
    EXPECT_EQ(First->Actions->X(), 12);
    EXPECT_EQ(First->Actions->Y(), 12);
    Mine.Rotate(41);
    EXPECT_FALSE(Mine.Rotating()) << "the angle differs from the target, but no delay is pending";
    Sprites->UpdateSprite(1);
    EXPECT_EQ(Mine.Angle(), 41);
    EXPECT_EQ(First->Actions->Angle(), 30);
    Mine.Shoot();
    ASSERT_EQ(CountBullets(), 1);
    EXPECT_EQ(Bullets[0].X, 20.0f);

    SpriteActions Unbound;
    EXPECT_EQ(Unbound.Angle(), 30) << "unbound controls steer sprite 0";
    Sprites.reset();
    EXPECT_THROW((void)Unbound.Angle(), RuntimeError);
}

struct SweepCase {
    std::uint8_t Start;
    std::vector<int> Angles;  // the angle after each move
};

void PrintTo(const SweepCase& Case, std::ostream* Out) { *Out << "from " << int{Case.Start}; }

class SweepTest : public ContestantsTest, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(SweepTest, TheGunnerOrdersOneStepTurnsAndReversesAtTheEnds) {
    const SweepCase Case = GetParam();
    const auto Index = Add(std::make_shared<clsAI>(), Case.Start);
    std::vector<int> Seen;
    for (std::size_t Move = 0; Move < Case.Angles.size(); ++Move) {
        Sprites->UpdateSprite(Index);
        Seen.push_back(Sprites->Angle(Index));
    }
    EXPECT_EQ(Seen, Case.Angles);
}

// The registry only ever turns upward, so the order to come down from 255 is carried out as
// the step from 255 to 0, where the gunner turns back up.
INSTANTIATE_TEST_SUITE_P(Starts, SweepTest,
                         ::testing::Values(SweepCase{128, {128, 129, 130}}, SweepCase{0, {0, 1, 2}},
                                           SweepCase{254, {254, 255, 255, 0, 1, 2}},
                                           SweepCase{255, {255, 255, 0, 1, 2, 3}}));

TEST_F(ContestantsTest, AHumanSeatNeverTurnsOrFires) {
    const auto Index = Add(std::make_shared<clsHuman>(), 77, 0);
    Sprites->Rotate(Index, 77);
    for (int Move = 0; Move < 300; ++Move) Sprites->UpdateSprite(Index);
    EXPECT_EQ(Sprites->Angle(Index), 77);
    EXPECT_EQ(CountBullets(), 0);
}

}  // namespace
}  // namespace brakkenfel
