// Duel rules: the seeded field, the sight test, the foe list, health and the end on destruction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "contest/DuelSight.h"
#include "contest/ProtocolLine.h"
#include "replay/MatchFile.h"
#include "display/BackBuffer.h"
#include "contest/clsHuman.h"
#include "score/DuelField.h"
#include "score/Scoreboard.h"
#include "score/SplitMix64.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

TEST(SplitMix64Test, GivesThePublishedSequenceAndDrawsBelowEveryBound) {
    // The reference outputs of SplitMix64 from state 0.
    SplitMix64 Draw(0);
    EXPECT_EQ(Draw.Next(), 0xe220a8397b1dcdafu);
    EXPECT_EQ(Draw.Next(), 0x6e789e6aa1b965f4u);
    EXPECT_EQ(Draw.Next(), 0x06c45d188009454fu);
    SplitMix64 Bounded(7);
    std::array<int, 3> Seen{};
    for (int I = 0; I < 300; ++I) {
        const std::uint64_t Value = Bounded.Below(3);
        ASSERT_LT(Value, 3u);
        ++Seen[Value];
    }
    for (const int Count : Seen) EXPECT_GT(Count, 50);
}

// Every field of 200 seeds obeys the rules; the same seed draws the same field.
TEST(DuelFieldTest, TwoHundredSeedsGiveValidBalancedRepeatableFields) {
    BuildTrigTables();
    std::int32_t PlaceDraws = 0;
    for (std::uint32_t Seed = 0; Seed < 200; ++Seed) {
        SCOPED_TRACE(Seed);
        const DuelField Field = DrawDuelField(Seed);
        PlaceDraws += Field.PlaceDraws;
        std::array<std::array<std::int32_t, 256>, 2> Times{};
        for (int Gun = 0; Gun < 2; ++Gun) {
            const GunPlace& Me = Field.Guns[static_cast<std::size_t>(Gun)];
            const GunPlace& Foe = Field.Guns[static_cast<std::size_t>(1 - Gun)];
            EXPECT_GE(Me.X - 8, 0);
            EXPECT_LE(Me.X + 8, DuelFieldWidth);
            EXPECT_GE(Me.Y - 8, 0);
            EXPECT_LE(Me.Y + 8, DuelFieldHeight);
            std::array<std::int32_t, 256> Flights{};
            bool Hits = false;
            for (int Angle = 0; Angle < 256; ++Angle) {
                Flights[static_cast<std::size_t>(Angle)] = FlightToHit(
                    Me.X, Me.Y, static_cast<std::uint8_t>(Angle), Foe.X, Foe.Y, DuelFieldWidth, DuelFieldHeight);
                Hits = Hits || Flights[static_cast<std::size_t>(Angle)] != DuelNoHit;
            }
            EXPECT_TRUE(Hits) << "gun " << Gun << " cannot hit the other";
            Times[static_cast<std::size_t>(Gun)] = FirstHitTimes(Flights);
        }
        const std::int32_t Dx = Field.Guns[1].X - Field.Guns[0].X;
        const std::int32_t Dy = Field.Guns[1].Y - Field.Guns[0].Y;
        EXPECT_GE(Dx * Dx + Dy * Dy, 64 * 64);
        EXPECT_EQ(Times[0][Field.Guns[0].Angle], Times[1][Field.Guns[1].Angle]) << "start angles not balanced";
        const DuelField Again = DrawDuelField(Seed);
        for (int Gun = 0; Gun < 2; ++Gun) {
            EXPECT_EQ(Again.Guns[static_cast<std::size_t>(Gun)].X, Field.Guns[static_cast<std::size_t>(Gun)].X);
            EXPECT_EQ(Again.Guns[static_cast<std::size_t>(Gun)].Y, Field.Guns[static_cast<std::size_t>(Gun)].Y);
            EXPECT_EQ(Again.Guns[static_cast<std::size_t>(Gun)].Angle,
                      Field.Guns[static_cast<std::size_t>(Gun)].Angle);
        }
    }
    // Fairness must not cost many draws: about two a field.
    EXPECT_LT(PlaceDraws, 200 * 4);
}

TEST(DuelFieldTest, FirstHitTimeIsTheLeastTurnPlusFlight) {
    std::array<std::int32_t, 256> Flights{};
    Flights.fill(DuelNoHit);
    Flights[10] = 100;
    Flights[200] = 5;
    const auto Times = FirstHitTimes(Flights);
    EXPECT_EQ(Times[10], 100);         // at the angle: no turn
    EXPECT_EQ(Times[11], 189 + 5);      // on to 200 beats round to 10
    EXPECT_EQ(Times[0], 10 + 100);     // 110 beats 200 + 5
    EXPECT_EQ(Times[201], 65 + 100);   // round through 0 to 10
}

// The flight the field is judged by is the pool's flight and the hit rule's verdict, move for move.
TEST(DuelFieldTest, FlightToHitAgreesWithThePoolAndTheHitRule) {
    FreshRegistry Registry;
    BackWidth = DuelFieldWidth;
    BackHeight = DuelFieldHeight;
    const DuelField Field = DrawDuelField(11);
    const GunPlace& From = Field.Guns[0];
    const GunPlace& At = Field.Guns[1];
    auto Idle = std::make_shared<clsHuman>();
    Sprites->AddSprite("Cannon", static_cast<float>(From.X), static_cast<float>(From.Y), 0, -1, Idle, "", 16, 16,
                       16, 59, 0);
    Sprites->AddSprite("Helicopter", static_cast<float>(At.X), static_cast<float>(At.Y), 0, -1, Idle, "", 16, 16,
                       16, 59, 0);
    int Hitting = 0;
    for (int Angle = 0; Angle < 256; ++Angle) {
        SCOPED_TRACE(Angle);
        ResetScore();
        EraseBullets();
        AddBullet(static_cast<float>(From.X), static_cast<float>(From.Y), static_cast<std::uint8_t>(Angle), 2.0f, 0);
        std::int32_t Move = 0;
        while (!Bullets.empty() && HitsOf(0) == 0) {
            ++Move;
            MoveBullets();
            ScoreHits();
        }
        const std::int32_t Expected = HitsOf(0) == 1 ? Move : DuelNoHit;
        Hitting += Expected != DuelNoHit;
        EXPECT_EQ(FlightToHit(From.X, From.Y, static_cast<std::uint8_t>(Angle), At.X, At.Y, DuelFieldWidth,
                              DuelFieldHeight),
                  Expected);
    }
    EXPECT_GT(Hitting, 0);
}

struct SightCase {
    const char* Name;
    std::int32_t Dx, Dy;
    std::uint8_t FirstAngle, LastAngle;  // the angles that see it, increasing through 255 to 0
};

class SightTest : public ::testing::TestWithParam<SightCase> {
protected:
    void SetUp() override { BuildTrigTables(); }
};

// Level, above, below and on the diagonals: the four steps either side and no more.
TEST_P(SightTest, AFoeOnARayIsSeenFromFourStepsEitherSideInclusive) {
    const SightCase& Case = GetParam();
    for (int Angle = 0; Angle < 256; ++Angle) {
        const bool Inside = static_cast<std::uint8_t>(Angle - Case.FirstAngle) <=
                            static_cast<std::uint8_t>(Case.LastAngle - Case.FirstAngle);
        EXPECT_EQ(InSightOf(static_cast<std::uint8_t>(Angle), Case.Dx, Case.Dy), Inside) << "angle " << Angle;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SightTest, ::testing::Values(
    SightCase{"Below", 0, 100, 252, 4},
    SightCase{"RightLevel", 90, 0, 60, 68},
    SightCase{"Above", 0, -70, 124, 132},
    SightCase{"LeftLevel", -200, 0, 188, 196},
    SightCase{"DownRightDiagonal", 64, 64, 28, 36},
    SightCase{"UpRightDiagonal", 80, -80, 92, 100},
    SightCase{"UpLeftDiagonal", -50, -50, 156, 164},
    SightCase{"DownLeftDiagonal", -99, 99, 220, 228}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Off the exact rays, the tables decide: they must agree with true geometry for offsets all over
// the field (a coarse grid, each ray that is not a multiple of 32).
TEST(SightGeometryTest, RaySideAgreesWithExactGeometryOffTheSpecialRays) {
    BuildTrigTables();
    for (int Ray = 0; Ray < 256; ++Ray) {
        if (Ray % 32 == 0) continue;
        const long double Theta = static_cast<long double>(Ray) * 2.0L * std::numbers::pi_v<long double> / 256.0L;
        const long double C = std::cos(Theta), S = std::sin(Theta);
        for (std::int32_t Dx = -357; Dx <= 357; Dx += 3) {
            for (std::int32_t Dy = -269; Dy <= 269; Dy += 5) {
                const long double Side = Dx * C - Dy * S;
                const int Expected = (Side > 0) - (Side < 0);
                ASSERT_EQ(RaySide(static_cast<std::uint8_t>(Ray), Dx, Dy), Expected)
                    << "ray " << Ray << " offset " << Dx << "," << Dy;
            }
        }
    }
}

// A contestant that notes what its foe list says at each move.
class Watcher : public Sprite {
public:
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override {
        Actions = NewActions;
        Enemies = NewEnemies;  // a copy: the record holding the list may move as the table grows
    }
    void Update() override {
        ListSizes.push_back(Enemies.size());
        if (!Enemies.empty()) Readings.push_back(Enemies[0]);
        if (!Enemies.empty()) Seen.push_back({Enemies[0]->InSight(), Enemies[0]->SeenBefore()});
        Healths.push_back(Actions->Health());
        Actions->Rotate(static_cast<std::uint8_t>(Actions->Angle() + 1));
        if (Fire) Actions->Shoot();
    }
    std::shared_ptr<SpriteActions> Actions;
    SpriteEnemyList Enemies;
    std::vector<std::size_t> ListSizes;
    std::vector<std::shared_ptr<SpriteEnemy>> Readings;
    std::vector<std::pair<bool, bool>> Seen;
    std::vector<std::int32_t> Healths;
    bool Fire = false;
};

TEST(DuelArenaTest, PlainRulesLeaveTheFoeListEmptyAndHealthZero) {
    MemoryHost Arena;
    auto Cannon = std::make_shared<Watcher>();
    Arena.Host.MakeContestant = [&](const std::string& Gun) -> std::shared_ptr<Sprite> {
        return Gun == "Cannon" ? Cannon : std::make_shared<Watcher>();
    };
    SetUpContest(Arena.Host);
    for (int Move = 0; Move < 3; ++Move) RunMove();
    EXPECT_EQ(Cannon->ListSizes, (std::vector<std::size_t>{0, 0, 0}));
    EXPECT_EQ(Cannon->Healths, (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_EQ(Sprites->Data(CannonIndex).X, 20.0f);
    TearDownContest();
}

TEST(DuelArenaTest, TheFoeListDescribesTheOtherGunAndSeenBeforeFollowsInSight) {
    MemoryHost Arena;
    Arena.Host.Seed = 5;
    Arena.Host.DuelHealth = 3;
    auto Cannon = std::make_shared<Watcher>();
    auto Helicopter = std::make_shared<Watcher>();
    Helicopter->Fire = true;
    Arena.Host.MakeContestant = [&](const std::string& Gun) -> std::shared_ptr<Sprite> {
        return Gun == "Cannon" ? std::static_pointer_cast<Sprite>(Cannon) : Helicopter;
    };
    SetUpContest(Arena.Host);
    const DuelField Field = DrawDuelField(5);
    const SpriteData& Me = Sprites->Data(CannonIndex);
    EXPECT_EQ(Me.X, static_cast<float>(Field.Guns[0].X));
    EXPECT_EQ(Me.Angle, Field.Guns[0].Angle);
    EXPECT_EQ(Me.ReloadTime, 59);
    EXPECT_EQ(Sprites->Data(HelicopterIndex).ReloadTime, 59);
    RunMove();
    ASSERT_EQ(Cannon->ListSizes.back(), 1u);
    const SpriteEnemy& Foe = *Cannon->Readings.back();
    const double Dx = Field.Guns[1].X - Field.Guns[0].X, Dy = Field.Guns[1].Y - Field.Guns[0].Y;
    EXPECT_EQ(Foe.Distance(), static_cast<float>(std::sqrt(Dx * Dx + Dy * Dy)));
    EXPECT_FALSE(Foe.Friendly());
    EXPECT_EQ(Foe.Health(), 3);
    EXPECT_EQ(Foe.WatchingAt(), Field.Guns[1].Angle);  // the Helicopter moves after the Cannon
    EXPECT_EQ(Foe.Strength(), 0);
    EXPECT_EQ(Cannon->Healths.back(), 3);
    RunMove();
    EXPECT_EQ(Cannon->Readings.back()->Strength(), 1);  // the Helicopter's first shot is in flight
    // A full turn and more: the foe comes into sight, and SeenBefore follows one move later, for good.
    for (int Move = 0; Move < 300 && QuitRequested == 0; ++Move) RunMove();
    bool Ever = false;
    for (const auto& [InSight, SeenBefore] : Cannon->Seen) {
        EXPECT_EQ(SeenBefore, Ever);
        Ever = Ever || InSight;
    }
    EXPECT_TRUE(Ever);
    TearDownContest();
}

TEST(DuelArenaTest, TheLastHealthTakenEndsTheMatchAndNamesTheWinner) {
    FreshRegistry Registry;
    ResetScore();
    auto Idle = std::make_shared<clsHuman>();
    Sprites->AddSprite("Cannon", 100.0f, 100.0f, 0, -1, Idle, "", 16, 16, 16, 59, 0);
    Sprites->AddSprite("Helicopter", 200.0f, 100.0f, 0, -1, Idle, "", 16, 16, 16, 59, 0);
    StartDuel(2, 9);
    EXPECT_EQ(HealthOf(1), 2);
    AddBullet(200.0f, 100.0f, 0, 0.0f, 0);  // the Cannon's bullet inside the Helicopter's square
    ScoreHits();
    EXPECT_EQ(HealthOf(1), 1);
    EXPECT_EQ(QuitRequested, 0);
    EXPECT_EQ(Winner(Score), "Cannon");
    AddBullet(201.0f, 100.0f, 0, 0.0f, 0);
    AddBullet(100.0f, 100.0f, 0, 0.0f, 1);  // the Helicopter strikes back in the same move
    ScoreHits();
    EXPECT_EQ(HealthOf(1), 0);
    EXPECT_EQ(HealthOf(0), 1);
    EXPECT_EQ(Score.Guns[1].DestroyedAt, 2);
    EXPECT_EQ(DestroyerOf(Score, Score.Guns[1]), "Cannon");
    EXPECT_EQ(QuitRequested, -1);
    EXPECT_EQ(Winner(Score), "Cannon");
    QuitRequested = 0;
    // Both guns' last health in the same move: a draw.
    EraseBullets();
    ResetScore();
    StartDuel(1, 9);
    AddBullet(200.0f, 100.0f, 0, 0.0f, 0);
    AddBullet(100.0f, 100.0f, 0, 0.0f, 1);
    ScoreHits();
    EXPECT_EQ(HealthOf(0), 0);
    EXPECT_EQ(HealthOf(1), 0);
    EXPECT_EQ(Winner(Score), "draw");
    QuitRequested = 0;
}

TEST(DuelProtocolTest, VersionTwoLinesCarryTheFoeAndTheDistanceReadsBackExactly) {
    char Line[MaxProtocolLine];
    ASSERT_GT(FormatGreeting(Line, "Helicopter", DuelProtocolVersion), 0u);
    EXPECT_STREQ(std::string(Line, std::strlen("brakkenfel 2 Helicopter\n")).c_str(), "brakkenfel 2 Helicopter\n");
    const float Distance = std::sqrt(7492.0f);
    const DuelMoveFields Duel{4, 17, Distance, false, 2, true, false, 3, 255};
    const std::size_t Length = FormatDuelMove(Line, 12, 200, 309, 209, false, Duel);
    const std::string Text(Line, Length);
    char Written[32] = {};
    ASSERT_EQ(std::sscanf(Text.c_str(), "move 12 200 309 209 0 4 17 %31s 0 2 1 0 3 255\n", Written), 1) << Text;
    EXPECT_EQ(std::strtof(Written, nullptr), Distance);
}

struct HeaderCase {
    const char* Name;
    const char* Tail;  // after the Helicopter's kind
    bool Valid, Duel;
    std::int32_t Health;
};

class DuelHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(DuelHeaderTest, TheRulesFollowTheKindsOrNothingDoes) {
    const HeaderCase& Case = GetParam();
    const std::string Line = std::string("brakkenfel-match 1 0.1 seed=3 budget=0 cannon=ai helicopter=ai") + Case.Tail;
    MatchHeader Header;
    std::string Why;
    ASSERT_EQ(ParseHeader(Line, Header, Why), Case.Valid) << Why;
    if (!Case.Valid) return;
    EXPECT_EQ(Header.Duel, Case.Duel);
    EXPECT_EQ(Header.Health, Case.Health);
    EXPECT_EQ(FormatHeader(Header), Line + "\n");
}

INSTANTIATE_TEST_SUITE_P(Table, DuelHeaderTest, ::testing::Values(
    HeaderCase{"Plain", "", true, false, 0},
    HeaderCase{"Duel", " rules=duel health=5", true, true, 5},
    HeaderCase{"NoHealth", " rules=duel", false, false, 0},
    HeaderCase{"ZeroHealth", " rules=duel health=0", false, false, 0},
    HeaderCase{"OtherRules", " rules=plain health=5", false, false, 0},
    HeaderCase{"TrailingWord", " rules=duel health=5 more", false, false, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace brakkenfel
