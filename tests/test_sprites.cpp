// The sprite registry: slots, accessors, turning, reloading, shots, drawing and calls out.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

/// A contestant that counts its moves and runs whatever a test hands it.
struct Recorder : Sprite {
    std::shared_ptr<SpriteActions> Actions;
    SpriteEnemyList* Enemies = nullptr;
    int Updates = 0;
    std::function<void(Recorder&)> OnInitialize, OnUpdate;

    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override {
        Actions = NewActions;
        Enemies = &NewEnemies;
        if (OnInitialize) OnInitialize(*this);
    }
    void Update() override {
        ++Updates;
        if (OnUpdate) OnUpdate(*this);
    }
};

/// Adds a sprite without a picture; a fresh Recorder drives it unless `Handler` is given.
std::int16_t Add(float X = 20.0f, std::uint8_t Angle = 0, std::int16_t ReloadTime = 0,
                 std::shared_ptr<Sprite> Handler = nullptr, std::uint8_t Frames = 16) {
    if (!Handler) Handler = std::make_shared<Recorder>();
    return Sprites->AddSprite("Gun", X, X, Angle, -1, Handler, "", 16, 16, Frames, ReloadTime, 29);
}

class SpritesTest : public ::testing::Test {
    FreshRegistry Registry;
};

TEST_F(SpritesTest, SlotsAreReusedLowestFirstAndRejectedIndicesChangeNothing) {
    auto First = std::make_shared<Recorder>();
    EXPECT_EQ(Add(20.0f, 7, 0, First), 0);
    EXPECT_EQ(Add(), 1);
    for (const std::int16_t Bad : {-1, 2, 32767}) {
        Sprites->RemoveSprite(Bad);
        Sprites->UpdateSprite(Bad);
        Sprites->Shoot(Bad);
        Sprites->Rotate(Bad, 100);
    }
    EXPECT_EQ(First->Updates, 0);
    EXPECT_EQ(CountBullets(), 0);
    Sprites->RemoveSprite(0);
    EXPECT_EQ(Add(), 0);
    EXPECT_EQ(ErrorOf([] { Sprites->Width(2); }), ErrSubscript) << "the reuse grew the table";
    EXPECT_EQ(Add(), 2);
}

TEST_F(SpritesTest, EveryAccessorChecksItsIndex) {
    const std::vector<std::function<void(std::int16_t)>> Accessors = {
        [](std::int16_t I) { Sprites->Angle(I); },        [](std::int16_t I) { Sprites->Frame(I); },
        [](std::int16_t I) { Sprites->Frame(I, 1); },     [](std::int16_t I) { Sprites->Frames(I); },
        [](std::int16_t I) { Sprites->Height(I); },       [](std::int16_t I) { Sprites->ReloadLeft(I); },
        [](std::int16_t I) { Sprites->ReloadTime(I); },   [](std::int16_t I) { Sprites->ReloadTime(I, 3); },
        [](std::int16_t I) { Sprites->RotateLeft(I); },   [](std::int16_t I) { Sprites->Width(I); },
        [](std::int16_t I) { Sprites->X(I); },            [](std::int16_t I) { Sprites->X(I, 3); },
        [](std::int16_t I) { Sprites->Y(I); },            [](std::int16_t I) { Sprites->Y(I, 3); },
        [](std::int16_t I) {
            GdiDC Target(std::make_shared<GdiBitmap>(8, 8));
            Sprites->Draw(I, &Target);
        },
    };
    Add();
    for (std::size_t A = 0; A < Accessors.size(); ++A) {
        EXPECT_EQ(ErrorOf([&] { Accessors[A](-1); }), ErrSubscript) << "accessor " << A;
        EXPECT_EQ(ErrorOf([&] { Accessors[A](1); }), ErrSubscript) << "accessor " << A;
        EXPECT_EQ(ErrorOf([&] { Accessors[A](0); }), 0) << "accessor " << A;
    }
}

TEST_F(SpritesTest, PositionsReadAsWholePixelsHalvesToEvenWithinSixteenBits) {
    for (const auto& [Position, Expected] : {std::pair{20.5f, 20}, {21.5f, 22}, {-0.5f, 0}, {32767.4f, 32767}}) {
        const auto Index = Add(Position);
        EXPECT_EQ(Sprites->X(Index), Expected) << Position;
        EXPECT_EQ(Sprites->Y(Index), Expected) << Position;
    }
    for (const float Position : {32767.5f, 40000.0f, -40000.0f}) {
        const auto Index = Add(Position);
        EXPECT_EQ(ErrorOf([&] { Sprites->X(Index); }), ErrOverflow) << Position;
        EXPECT_EQ(ErrorOf([&] { Sprites->Y(Index); }), ErrOverflow) << Position;
    }
}

TEST_F(SpritesTest, TheContestantMeetsTheSlotBeforeItsSpriteIsStored) {
    std::vector<int> Reads;  // angle, X and foe count seen from Initialize
    auto Look = [&](Recorder& Self) {
        Reads.insert(Reads.end(), {Self.Actions->Angle(), Self.Actions->X(), static_cast<int>(Self.Enemies->size())});
    };
    auto First = std::make_shared<Recorder>();
    First->OnInitialize = Look;
    Add(50.0f, 90, 0, First);
    Sprites->Frame(0, 5);
    Sprites->RemoveSprite(0);
    auto Second = std::make_shared<Recorder>();
    Second->OnInitialize = Look;
    Add(10.0f, 3, 0, Second);
    // A fresh slot reads zeros; a reused one its previous occupant; the foe list is empty.
    EXPECT_EQ(Reads, (std::vector<int>{0, 0, 0, 90, 50, 0}));
    EXPECT_EQ(Sprites->Frame(0), 0) << "the new occupant starts on frame 0";
    Sprites->Rotate(0, 100);
    EXPECT_EQ(std::get<std::uint8_t>(Sprites->RotateLeft(0)), 0) << "RotateSpeed 29 is not stored";
}

TEST_F(SpritesTest, TheTableCannotGrowWhileAContestantIsBeingCalled) {
    auto Greedy = std::make_shared<Recorder>();
    int Error = 0;
    Greedy->OnUpdate = [&](Recorder&) {
        Sprites->RemoveSprite(0);  // even its own slot is not handed out while it is in use
        Error = ErrorOf([] { Add(); });
    };
    Add(30.0f, 5, 0, Greedy);
    Sprites->UpdateSprite(0);
    EXPECT_EQ(Error, ErrArrayLocked);
    EXPECT_EQ(ErrorOf([] { Sprites->Width(1); }), ErrSubscript);
    EXPECT_EQ(Sprites->X(0), 30);
    Sprites->UpdateSprite(0);
    EXPECT_EQ(Greedy->Updates, 2);

    auto Eager = std::make_shared<Recorder>();
    Eager->OnInitialize = [](Recorder&) { Add(); };
    EXPECT_EQ(ErrorOf([&] { Add(0, 0, 0, Eager); }), ErrArrayLocked);
    EXPECT_EQ(Add(), 0) << "the failed add left its slot free";
    EXPECT_EQ(Add(), 1) << "the table grows again once the calls are over";
}

TEST_F(SpritesTest, AFullTableRefusesAnotherSprite) {
    auto Shared = std::make_shared<Recorder>();
    for (std::int32_t I = 0; I < clsSprites::MaxSprites; ++I) ASSERT_EQ(Add(0, 0, 0, Shared), I);
    std::string Text;
    EXPECT_EQ(ErrorOf([&] { Add(0, 0, 0, Shared); }, &Text), ErrOverflow);
    EXPECT_NE(Text.find("full"), std::string::npos) << Text;
    Sprites->RemoveSprite(32767);
    EXPECT_EQ(Add(0, 0, 0, Shared), 32767);
}

TEST_F(SpritesTest, ReloadingGatesTheShots) {
    auto Shooter = std::make_shared<Recorder>();
    Shooter->OnUpdate = [](Recorder& Self) { Self.Actions->Shoot(); };
    const auto Index = Sprites->AddSprite("Gun", 20.5f, 30.25f, 0, -1, Shooter, "", 16, 16, 16, 1, 0);

    Sprites->Shoot(Index);
    ASSERT_EQ(CountBullets(), 1);
    // From the unrounded centre, straight down at speed 2.
    EXPECT_EQ(Bullets[0].X, 20.5f);
    EXPECT_EQ(Bullets[0].Y, 30.25f);
    EXPECT_EQ(Bullets[0].SpeedY, 2.0f);
    Sprites->UpdateSprite(Index);
    EXPECT_EQ(CountBullets(), 2) << "ReloadLeft 1 counts down before the same move's shot";

    Sprites->ReloadTime(Index, 5);
    Sprites->UpdateSprite(Index);
    Sprites->Shoot(Index);
    EXPECT_EQ(CountBullets(), 3) << "a shot while reloading is dropped";
    EXPECT_EQ(Sprites->ReloadLeft(Index), 5);

    Sprites->ReloadTime(Index, -1);
    for (int Move = 0; Move < 100; ++Move) Sprites->UpdateSprite(Index);
    EXPECT_EQ(CountBullets(), 4) << "after a negative reload time the gun never fires again";
    EXPECT_EQ(Sprites->ReloadLeft(Index), -1);
}

TEST_F(SpritesTest, FrameWritesWrapAtTheFrameCount) {
    const auto Index = Add();
    Sprites->Frame(Index, 17);
    EXPECT_EQ(Sprites->Frame(Index), 1);
    Sprites->Frame(Index, 255);
    EXPECT_EQ(Sprites->Frame(Index), 15);
    const auto Empty = Add(0, 0, 0, nullptr, 0);
    EXPECT_EQ(ErrorOf([&] { Sprites->Frame(Empty, 3); }), ErrDivisionByZero);
}

struct DrawCase {
    float X;
    std::uint8_t Width, Frame;
    std::int32_t Left, SourceLeft;  // expected left edge on the target and first column read
};

class SpritesDrawTest : public SpritesTest, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(SpritesDrawTest, CopiesTheFrameCentredOnThePosition) {
    const DrawCase Case = GetParam();
    // Every strip pixel encodes its own column and row, so a copied pixel shows where it came from.
    auto Strip = std::make_shared<GdiBitmap>(512, 16);
    for (std::int32_t Y = 0; Y < 16; ++Y) {
        for (std::int32_t X = 0; X < 512; ++X) Strip->Row(Y)[X] = 0x100000u + static_cast<std::uint32_t>(X * 256 + Y);
    }
    SetPictureLoader([&](const std::string&) { return std::make_shared<Picture>(Strip); });
    const auto Index =
        Sprites->AddSprite("Gun", Case.X, 20.0f, 0, -1, std::make_shared<Recorder>(), "s", Case.Width, 16, 16, 0, 0);
    Sprites->Frame(Index, Case.Frame);
    auto Field = std::make_shared<GdiBitmap>(64, 64);
    GdiDC Target(Field);
    Sprites->Draw(Index, &Target);
    for (std::int32_t Y = 0; Y < 64; ++Y) {
        for (std::int32_t X = 0; X < 64; ++X) {
            const bool Inside = X >= Case.Left && X < Case.Left + Case.Width && Y >= 12 && Y < 28;
            const auto From = static_cast<std::uint32_t>((Case.SourceLeft + X - Case.Left) * 256 + (Y - 12));
            ASSERT_EQ(Field->Pixel(X, Y), Inside ? 0x100000u + From : 0u) << "at " << X << "," << Y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, SpritesDrawTest,
                         ::testing::Values(DrawCase{20.0f, 16, 3, 12, 48}, DrawCase{20.5f, 16, 0, 12, 0},
                                           DrawCase{21.5f, 16, 0, 14, 0}, DrawCase{20.0f, 15, 0, 13, 0},
                                           DrawCase{20.0f, 32, 8, 4, 0}, DrawCase{20.0f, 32, 9, 4, 32}));

TEST_F(SpritesTest, DrawWithoutAPictureDrawsNothing) {
    auto Field = std::make_shared<GdiBitmap>(40, 40);
    Field->Row(20)[20] = 0x123456u;
    GdiDC Target(Field);
    Sprites->Draw(Add(), &Target);
    EXPECT_EQ(Field->Pixel(20, 20), 0x123456u);
    EXPECT_EQ(Field->Pixel(12, 12), 0u);
}

}  // namespace
}  // namespace brakkenfel
