// The sprite registry: slots, accessors, turning, reloading, shots, drawing and calls out.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "contest/Sprite.h"
#include "platform/Errors.h"
#include "platform/Gdi.h"
#include "platform/Picture.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {
namespace {

/// A contestant that counts its calls and runs whatever a test hands it.
struct RecordingContestant : Sprite {
    std::shared_ptr<SpriteActions> Actions;
    SpriteEnemyList* Enemies = nullptr;
    int Initializes = 0;
    int Updates = 0;
    std::function<void(RecordingContestant&)> OnInitialize;
    std::function<void(RecordingContestant&)> OnUpdate;
    std::function<void()> OnDestroy;

    ~RecordingContestant() override {
        if (OnDestroy) OnDestroy();
    }
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override {
        Actions = NewActions;
        Enemies = &NewEnemies;
        ++Initializes;
        if (OnInitialize) OnInitialize(*this);
    }
    void Update() override {
        ++Updates;
        if (OnUpdate) OnUpdate(*this);
    }
};

/// The error number an action fails with, or 0 when it does not fail.
int ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const RuntimeError& Error) {
        return Error.Number();
    }
    return 0;
}

class SpritesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sprites = std::make_shared<clsSprites>();
        BuildTrigTables();
    }
    void TearDown() override {
        Sprites.reset();
        EraseBullets();
        SetPictureLoader(nullptr);
    }

    /// Adds a sprite driven by `Handler` (a fresh recording contestant if none) with no picture.
    std::int16_t Add(float X = 20.0f, float Y = 20.0f, std::uint8_t Angle = 0, std::int16_t ReloadTime = 0,
                     std::shared_ptr<Sprite> Handler = nullptr, std::uint8_t Frames = 16) {
        if (!Handler) Handler = std::make_shared<RecordingContestant>();
        return Sprites->AddSprite("Gun", X, Y, Angle, -1, Handler, "", 16, 16, Frames, ReloadTime, 29);
    }
};

TEST_F(SpritesTest, SlotsAreTakenLowestFreeFirstAndTheTableGrowsOnlyWhenFull) {
    EXPECT_EQ(Add(), 0);
    EXPECT_EQ(Add(), 1);
    Sprites->RemoveSprite(0);
    EXPECT_EQ(Add(), 0);
    // Still two records: slot 2 does not exist until the next add.
    EXPECT_EQ(ErrorOf([] { Sprites->Width(2); }), ErrSubscript);
    EXPECT_EQ(Add(), 2);
}

TEST_F(SpritesTest, RejectedIndicesChangeNothing) {
    // Before the table exists.
    Sprites->RemoveSprite(0);
    Sprites->UpdateSprite(0);
    Sprites->Shoot(0);
    Sprites->Rotate(0, 5);

    auto Contestant = std::make_shared<RecordingContestant>();
    const auto Index = Add(20.0f, 20.0f, 7, 0, Contestant);
    for (const std::int16_t Bad : {std::int16_t{-1}, std::int16_t{1}, std::int16_t{32767}}) {
        Sprites->RemoveSprite(Bad);
        Sprites->UpdateSprite(Bad);
        Sprites->Shoot(Bad);
        Sprites->Rotate(Bad, 100);
    }
    EXPECT_EQ(Contestant->Updates, 0);
    EXPECT_EQ(CountBullets(), 0);
    EXPECT_EQ(Sprites->Angle(Index), 7);
    // The sprite is still in use: a new add takes slot 1, not 0.
    EXPECT_EQ(Add(), 1);
}

TEST_F(SpritesTest, AccessorsWithABadIndexFailWithSubscriptOutOfRange) {
    std::vector<std::function<void(std::int16_t)>> Accessors = {
        [](std::int16_t I) { Sprites->Angle(I); },
        [](std::int16_t I) { Sprites->Frame(I); },
        [](std::int16_t I) { Sprites->Frame(I, 1); },
        [](std::int16_t I) { Sprites->Frames(I); },
        [](std::int16_t I) { Sprites->Height(I); },
        [](std::int16_t I) { Sprites->ReloadLeft(I); },
        [](std::int16_t I) { Sprites->ReloadTime(I); },
        [](std::int16_t I) { Sprites->ReloadTime(I, 3); },
        [](std::int16_t I) { Sprites->RotateLeft(I); },
        [](std::int16_t I) { Sprites->Width(I); },
        [](std::int16_t I) { Sprites->X(I); },
        [](std::int16_t I) { Sprites->X(I, 3); },
        [](std::int16_t I) { Sprites->Y(I); },
        [](std::int16_t I) { Sprites->Y(I, 3); },
        [](std::int16_t I) {
            GdiDC Target(std::make_shared<GdiBitmap>(8, 8));
            Sprites->Draw(I, &Target);
        },
    };
    for (std::size_t A = 0; A < Accessors.size(); ++A) {
        SCOPED_TRACE("accessor " + std::to_string(A));
        EXPECT_EQ(ErrorOf([&] { Accessors[A](0); }), ErrSubscript) << "before the first add";
    }
    Add();
    for (std::size_t A = 0; A < Accessors.size(); ++A) {
        SCOPED_TRACE("accessor " + std::to_string(A));
        EXPECT_EQ(ErrorOf([&] { Accessors[A](-1); }), ErrSubscript);
        EXPECT_EQ(ErrorOf([&] { Accessors[A](1); }), ErrSubscript);
        EXPECT_EQ(ErrorOf([&] { Accessors[A](0); }), 0);
    }
}

struct RoundCase {
    float Position;
    int Expected;  // 0 stands for nothing when Overflows is set
    bool Overflows;
};

void PrintTo(const RoundCase& Case, std::ostream* Out) {
    *Out << "at " << Case.Position << (Case.Overflows ? " overflows" : " reads ") << Case.Expected;
}

class SpritesRoundingTest : public SpritesTest, public ::testing::WithParamInterface<RoundCase> {};

TEST_P(SpritesRoundingTest, PositionsReadAsWholePixelsHalvesToEven) {
    const RoundCase Case = GetParam();
    const auto Index = Add(Case.Position, Case.Position);
    if (Case.Overflows) {
        EXPECT_EQ(ErrorOf([&] { Sprites->X(Index); }), ErrOverflow);
        EXPECT_EQ(ErrorOf([&] { Sprites->Y(Index); }), ErrOverflow);
    } else {
        EXPECT_EQ(Sprites->X(Index), Case.Expected);
        EXPECT_EQ(Sprites->Y(Index), Case.Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, SpritesRoundingTest,
                         ::testing::Values(RoundCase{20.5f, 20, false}, RoundCase{21.5f, 22, false},
                                           RoundCase{-0.5f, 0, false}, RoundCase{20.0f, 20, false},
                                           RoundCase{32767.4f, 32767, false},
                                           RoundCase{-32768.5f, -32768, false},
                                           RoundCase{32767.5f, 0, true}, RoundCase{40000.0f, 0, true},
                                           RoundCase{-40000.0f, 0, true}));

TEST_F(SpritesTest, AddStoresItsArgumentsButNotTheTurningDelay) {
    const auto Index = Sprites->AddSprite("Wide", 1.0f, 2.0f, 77, -1, std::make_shared<RecordingContestant>(), "",
                                          200, 200, 9, 42, 29);
    EXPECT_EQ(Sprites->Width(Index), 200);
    EXPECT_EQ(Sprites->Height(Index), 200);
    EXPECT_EQ(Sprites->Frames(Index), 9);
    EXPECT_EQ(Sprites->ReloadTime(Index), 42);
    EXPECT_EQ(Sprites->ReloadLeft(Index), 0);
    EXPECT_EQ(Sprites->Angle(Index), 77);
    Sprites->Rotate(Index, 10);
    EXPECT_EQ(std::get<std::uint8_t>(Sprites->RotateLeft(Index)), 0);
    Sprites->X(Index, 7);
    Sprites->Y(Index, -7);
    EXPECT_EQ(Sprites->X(Index), 7);
    EXPECT_EQ(Sprites->Y(Index), -7);
}

TEST_F(SpritesTest, TheContestantIsInitializedBeforeThePositionIsStored) {
    struct Seen {
        std::uint8_t Angle = 0;
        std::int16_t X = 0;
        std::size_t Enemies = 99;
    };
    std::vector<Seen> Reads;
    auto Look = [&](RecordingContestant& Self) {
        Reads.push_back({Self.Actions->Angle(), Self.Actions->X(), Self.Enemies->size()});
    };
    auto First = std::make_shared<RecordingContestant>();
    First->OnInitialize = Look;
    Add(50.0f, 60.0f, 90, 0, First);
    Sprites->Frame(0, 5);
    Sprites->RemoveSprite(0);
    auto Second = std::make_shared<RecordingContestant>();
    Second->OnInitialize = Look;
    EXPECT_EQ(Add(10.0f, 10.0f, 3, 0, Second), 0);

    ASSERT_EQ(Reads.size(), 2u);
    // A fresh slot reads zeros; a reused one reads its previous occupant.
    EXPECT_EQ(Reads[0].Angle, 0);
    EXPECT_EQ(Reads[0].X, 0);
    EXPECT_EQ(Reads[1].Angle, 90);
    EXPECT_EQ(Reads[1].X, 50);
    EXPECT_EQ(Reads[0].Enemies, 0u);
    EXPECT_EQ(Reads[1].Enemies, 0u);
    // The new occupant starts on frame 0, not on the one the old sprite left.
    EXPECT_EQ(Sprites->Frame(0), 0);
    EXPECT_EQ(Sprites->Angle(0), 3);
}

TEST_F(SpritesTest, AFailedLoadLeavesTheSlotFreeForTheNextAdd) {
    SetPictureLoader([](const std::string& Path) -> std::shared_ptr<Picture> {
        if (Path == "good.bmp") return std::make_shared<Picture>(std::make_shared<GdiBitmap>(16, 16));
        throw RuntimeError(ErrFileNotFound, Path);
    });
    Add();
    auto Missing = [] {
        Sprites->AddSprite("Lost", 0, 0, 0, -1, std::make_shared<RecordingContestant>(), "missing.bmp", 16, 16,
                           1, 0, 0);
    };
    EXPECT_EQ(ErrorOf(Missing), ErrFileNotFound);
    EXPECT_EQ(Sprites->AddSprite("Found", 0, 0, 0, -1, std::make_shared<RecordingContestant>(), "good.bmp", 16, 16,
                                 1, 0, 0),
              1);
    EXPECT_EQ(Add(), 2);
}

TEST_F(SpritesTest, WithoutALoaderPicturesFailAsInvalidNamingThePath) {
    try {
        Sprites->AddSprite("Gun", 0, 0, 0, -1, std::make_shared<RecordingContestant>(), "/x/cannon.bmp", 16, 16,
                           16, 0, 0);
        FAIL() << "a picture loaded without a loader";
    } catch (const RuntimeError& Error) {
        EXPECT_EQ(Error.Number(), ErrInvalidPicture);
        EXPECT_NE(std::string(Error.what()).find("/x/cannon.bmp"), std::string::npos);
    }
}

TEST_F(SpritesTest, AddWithoutAContestantFailsAndTakesNoSlot) {
    EXPECT_EQ(ErrorOf([] { Sprites->AddSprite("Nobody", 0, 0, 0, -1, nullptr, "", 16, 16, 1, 0, 0); }),
              ErrInvalidProcedure);
    EXPECT_EQ(ErrorOf([] { Sprites->Width(0); }), ErrSubscript);
}

TEST_F(SpritesTest, TheTableCannotGrowWhileAContestantIsBeingCalled) {
    auto Greedy = std::make_shared<RecordingContestant>();
    int Error = 0;
    Greedy->OnUpdate = [&](RecordingContestant&) {
        // Even its own slot, freed, is not handed to the newcomer while it is in use.
        Sprites->RemoveSprite(0);
        Error = ErrorOf([] { Sprites->AddSprite("Child", 1, 1, 1, -1, std::make_shared<RecordingContestant>(),
                                                "", 16, 16, 1, 0, 0); });
    };
    Add(20.0f, 30.0f, 5, 0, Greedy);
    Sprites->UpdateSprite(0);
    EXPECT_EQ(Error, ErrArrayLocked);
    EXPECT_EQ(ErrorOf([] { Sprites->Width(1); }), ErrSubscript);
    EXPECT_EQ(Sprites->X(0), 20);
    EXPECT_EQ(Sprites->Y(0), 30);
    Sprites->UpdateSprite(0);
    EXPECT_EQ(Greedy->Updates, 2);

    // An Initialize is pinned the same way, and the error passes on out of AddSprite.
    auto Eager = std::make_shared<RecordingContestant>();
    Eager->OnInitialize = [](RecordingContestant&) {
        Sprites->AddSprite("Inner", 1, 1, 1, -1, std::make_shared<RecordingContestant>(), "", 16, 16, 1, 0, 0);
    };
    EXPECT_EQ(ErrorOf([&] { Add(0, 0, 0, 0, Eager); }), ErrArrayLocked);
    // Once the calls are over the table grows again; the failed add left slot 0 free.
    EXPECT_EQ(Add(), 0);
    EXPECT_EQ(Add(), 1);
}

TEST_F(SpritesTest, AFreeSlotIsReusedFromInsideAnUpdate) {
    Add();
    Add();
    Sprites->RemoveSprite(1);
    auto Parent = std::make_shared<RecordingContestant>();
    std::int16_t Child = -1;
    Parent->OnUpdate = [&](RecordingContestant&) {
        Child = Sprites->AddSprite("Child", 1, 1, 1, -1, std::make_shared<RecordingContestant>(), "", 16, 16, 1,
                                   0, 0);
    };
    Sprites->RemoveSprite(0);
    EXPECT_EQ(Add(5.0f, 5.0f, 0, 0, Parent), 0);
    Sprites->UpdateSprite(0);
    EXPECT_EQ(Child, 1);
}

TEST_F(SpritesTest, TheRegistryOutlivesAnUpdateThatDropsIt) {
    auto Contestant = std::make_shared<RecordingContestant>();
    std::weak_ptr<clsSprites> Registry = Sprites;
    bool AliveAfterDrop = false;
    Contestant->OnUpdate = [&](RecordingContestant&) {
        Sprites.reset();
        AliveAfterDrop = !Registry.expired();
    };
    const auto Index = Add(0, 0, 0, 0, Contestant);
    clsSprites* Raw = Sprites.get();  // no reference of the test's own keeps it alive
    Raw->UpdateSprite(Index);
    EXPECT_TRUE(AliveAfterDrop);
    EXPECT_TRUE(Registry.expired());
}

TEST_F(SpritesTest, DestructionReleasesPicturesBeforeContestants) {
    auto Strip = std::make_shared<Picture>(std::make_shared<GdiBitmap>(16, 16));
    std::weak_ptr<Picture> WeakStrip = Strip;
    SetPictureLoader([&](const std::string&) { return Strip; });
    std::vector<bool> PictureGoneAtDestroy;
    for (int I = 0; I < 2; ++I) {
        auto Contestant = std::make_shared<RecordingContestant>();
        Contestant->OnDestroy = [&] { PictureGoneAtDestroy.push_back(WeakStrip.expired()); };
        Sprites->AddSprite("Gun", 0, 0, 0, -1, Contestant, "gun.bmp", 16, 16, 1, 0, 0);
    }
    Strip.reset();
    Sprites->RemoveSprite(1);  // free slots are released too
    Sprites.reset();
    // The second sprite's picture goes only after the first sprite's contestant.
    EXPECT_EQ(PictureGoneAtDestroy, (std::vector<bool>{false, true}));
}

TEST_F(SpritesTest, AFullTableRefusesAnotherSprite) {
    auto Shared = std::make_shared<RecordingContestant>();
    for (std::int32_t I = 0; I < clsSprites::MaxSprites; ++I) {
        ASSERT_EQ(Sprites->AddSprite("", 0, 0, 0, 0, Shared, "", 1, 1, 1, 0, 0), I);
    }
    try {
        Sprites->AddSprite("", 0, 0, 0, 0, Shared, "", 1, 1, 1, 0, 0);
        FAIL() << "a 32,769th sprite was added";
    } catch (const RuntimeError& Error) {
        EXPECT_EQ(Error.Number(), ErrOverflow);
        EXPECT_NE(std::string(Error.what()).find("full"), std::string::npos);
    }
    Sprites->RemoveSprite(32767);
    EXPECT_EQ(Sprites->AddSprite("", 0, 0, 0, 0, Shared, "", 1, 1, 1, 0, 0), 32767);
}

TEST_F(SpritesTest, TurningStepsUpOnePerMoveAndWraps) {
    const auto Index = Add(0, 0, 255);
    Sprites->Rotate(Index, 0);
    Sprites->UpdateSprite(Index);
    EXPECT_EQ(Sprites->Angle(Index), 0);
    EXPECT_EQ(std::get<std::uint8_t>(Sprites->RotateLeft(Index)), 0);

    // One below the current angle is the long way round.
    Sprites->Rotate(Index, 10);
    for (int Move = 0; Move < 10; ++Move) Sprites->UpdateSprite(Index);
    ASSERT_EQ(Sprites->Angle(Index), 10);
    Sprites->Rotate(Index, 9);
    std::vector<int> Seen;
    for (int Move = 0; Move < 255; ++Move) {
        Sprites->UpdateSprite(Index);
        Seen.push_back(Sprites->Angle(Index));
    }
    EXPECT_EQ(Seen.front(), 11);
    EXPECT_EQ(Seen[244], 255);
    EXPECT_EQ(Seen[245], 0);
    EXPECT_EQ(Seen.back(), 9);
    Sprites->UpdateSprite(Index);
    EXPECT_EQ(Sprites->Angle(Index), 9) << "stops at the target";
}

TEST_F(SpritesTest, ReloadingGatesTheShots) {
    auto Shooter = std::make_shared<RecordingContestant>();
    Shooter->OnUpdate = [](RecordingContestant& Self) { Self.Actions->Shoot(); };
    const auto Index = Add(20.5f, 30.25f, 0, 1, Shooter);

    Sprites->Shoot(Index);
    ASSERT_EQ(CountBullets(), 1);
    // The bullet starts at the unrounded centre, straight down at speed 2.
    EXPECT_FLOAT_EQ(Bullets[0].X, 20.5f);
    EXPECT_FLOAT_EQ(Bullets[0].Y, 30.25f);
    EXPECT_FLOAT_EQ(Bullets[0].SpeedY, 2.0f);
    EXPECT_EQ(Sprites->ReloadLeft(Index), 1);
    // ReloadLeft 1 counts down to 0 before the contestant's shot in the same move.
    Sprites->UpdateSprite(Index);
    EXPECT_EQ(CountBullets(), 2);

    Sprites->ReloadTime(Index, 5);
    Sprites->UpdateSprite(Index);  // 1 -> 0, fires, back to 5
    EXPECT_EQ(CountBullets(), 3);
    Sprites->Shoot(Index);
    EXPECT_EQ(CountBullets(), 3) << "a shot while reloading is dropped";
    EXPECT_EQ(Sprites->ReloadLeft(Index), 5);

    Sprites->ReloadTime(Index, -1);
    for (int Move = 0; Move < 5; ++Move) Sprites->UpdateSprite(Index);  // the last one fires
    EXPECT_EQ(CountBullets(), 4);
    for (int Move = 0; Move < 100; ++Move) Sprites->UpdateSprite(Index);
    EXPECT_EQ(CountBullets(), 4) << "a negative reload time never counts down";
    EXPECT_EQ(Sprites->ReloadLeft(Index), -1);
}

TEST_F(SpritesTest, ZeroReloadTimeFiresEveryShot) {
    const auto Index = Add(20.0f, 20.0f, 0, 0);
    for (int Shot = 0; Shot < 3; ++Shot) Sprites->Shoot(Index);
    EXPECT_EQ(CountBullets(), 3);
}

TEST_F(SpritesTest, FrameWritesWrapAtTheFrameCount) {
    const auto Index = Add();
    Sprites->Frame(Index, 17);
    EXPECT_EQ(Sprites->Frame(Index), 1);
    Sprites->Frame(Index, 255);
    EXPECT_EQ(Sprites->Frame(Index), 15);
    const auto Empty = Add(0, 0, 0, 0, nullptr, 0);
    EXPECT_EQ(ErrorOf([&] { Sprites->Frame(Empty, 3); }), ErrDivisionByZero);
    EXPECT_EQ(Sprites->Frame(Empty), 0);
}

struct DrawCase {
    float X;
    std::uint8_t Width;
    std::uint8_t Frames;
    std::uint8_t Frame;
    std::int32_t Left;        // expected left edge on the target
    std::int32_t SourceLeft;  // expected first column read from the strip
};

void PrintTo(const DrawCase& Case, std::ostream* Out) {
    *Out << "X " << Case.X << " width " << int{Case.Width} << " frame " << int{Case.Frame};
}

class SpritesDrawTest : public SpritesTest, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(SpritesDrawTest, CopiesTheFrameCentredOnThePosition) {
    const DrawCase Case = GetParam();
    // Every strip pixel names its own column and row, so a copied pixel shows where it came from.
    auto Strip = std::make_shared<GdiBitmap>(512, 16);
    for (std::int32_t Y = 0; Y < 16; ++Y) {
        for (std::int32_t X = 0; X < 512; ++X) Strip->Row(Y)[X] = 0x100000u + static_cast<std::uint32_t>(X * 256 + Y);
    }
    SetPictureLoader([&](const std::string&) { return std::make_shared<Picture>(Strip); });
    const auto Index = Sprites->AddSprite("Gun", Case.X, 20.0f, 0, -1, std::make_shared<RecordingContestant>(),
                                          "strip.bmp", Case.Width, 16, Case.Frames, 0, 0);
    Sprites->Frame(Index, Case.Frame);
    auto Field = std::make_shared<GdiBitmap>(64, 64);
    GdiDC Target(Field);
    Sprites->Draw(Index, &Target);

    for (std::int32_t Y = 0; Y < 64; ++Y) {
        for (std::int32_t X = 0; X < 64; ++X) {
            const bool Inside = X >= Case.Left && X < Case.Left + Case.Width && Y >= 12 && Y < 28;
            const std::uint32_t Expected =
                Inside ? 0x100000u + static_cast<std::uint32_t>((Case.SourceLeft + X - Case.Left) * 256 + (Y - 12))
                       : 0u;
            ASSERT_EQ(Field->Pixel(X, Y), Expected) << "at " << X << "," << Y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, SpritesDrawTest,
                         ::testing::Values(DrawCase{20.0f, 16, 16, 3, 12, 48}, DrawCase{20.5f, 16, 16, 0, 12, 0},
                                           DrawCase{21.5f, 16, 16, 0, 14, 0}, DrawCase{20.0f, 15, 16, 0, 13, 0},
                                           DrawCase{20.0f, 32, 16, 8, 4, 0}, DrawCase{20.0f, 32, 16, 9, 4, 32}));

TEST_F(SpritesTest, DrawWithoutAPictureDrawsNothing) {
    const auto Index = Add();
    auto Field = std::make_shared<GdiBitmap>(40, 40);
    GdiDC Target(Field);
    Sprites->Draw(Index, &Target);
    for (std::int32_t Y = 0; Y < 40; ++Y) {
        for (std::int32_t X = 0; X < 40; ++X) ASSERT_EQ(Field->Pixel(X, Y), 0u);
    }
}

}  // namespace
}  // namespace brakkenfel
