// Frames, label and caption on the in-memory window: what the picture box shows and what the texts say.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/modMain.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "display/MemoryForm.h"
#include "display/TextFormat.h"
#include "display/UpdateCaption.h"
#include "display/frmMain.h"
#include "platform/Picture.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

struct TimeCase {
    std::int64_t Seconds;
    const char* Text;
};

class TimePiece : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimePiece, ShowsMinutesWithinTheHourAndTwoDigitSeconds) {
    EXPECT_EQ(FormatMinutesSeconds(GetParam().Seconds), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Seconds, TimePiece,
    ::testing::Values(TimeCase{0, "0:00"}, TimeCase{1, "0:01"}, TimeCase{9, "0:09"}, TimeCase{65, "1:05"},
                      TimeCase{600, "10:00"}, TimeCase{3599, "59:59"}, TimeCase{3600, "0:00"},
                      TimeCase{3725, "2:05"},
                      // Past the nine hours a 16-bit second count would hold, the clock keeps going.
                      TimeCase{32767, "6:07"}, TimeCase{32768, "6:08"}, TimeCase{40000, "6:40"},
                      TimeCase{std::numeric_limits<std::int32_t>::max(), "14:07"},
                      TimeCase{std::numeric_limits<std::int64_t>::max(), "30:07"},
                      // A count that wrapped negative reads back from the end of the previous day.
                      TimeCase{-1, "59:59"}, TimeCase{std::numeric_limits<std::int64_t>::min(), "29:52"}));

TEST(Texts, CountsCarryASignPlace) {
    EXPECT_EQ(FormatCount(0), " 0");
    EXPECT_EQ(FormatCount(3), " 3");
    EXPECT_EQ(FormatCount(32767), " 32767");
    EXPECT_EQ(FormatCount(-3), "-3");
}

TEST(Texts, CaptionJoinsRatesAndTime) {
    EXPECT_EQ(CaptionText(30, 90, 65), "FPS:  30 | MPS:  90 | 1:05");
    EXPECT_EQ(CaptionText(0, 0, 3725), "FPS:  0 | MPS:  0 | 2:05");
}

// ---- Caption -----------------------------------------------------------------------------------

class CaptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        form->OnCaption = [this](const std::string& caption) { captions.push_back(caption); };
        frmMain = form;
    }
    void TearDown() override {
        frmMain.reset();
        ResetTicks();
    }
    static void SetCounts(std::int32_t moves, std::int32_t frames, std::int32_t seconds) {
        TickChannels[TickMove].Count = moves;
        TickChannels[TickFrame].Count = frames;
        TickChannels[TickSecond].Count = seconds;
    }

    std::shared_ptr<MemoryForm> form = std::make_shared<MemoryForm>();
    std::vector<std::string> captions;
};

TEST_F(CaptionTest, ShowsTheLastSecondAndRestartsItsCounts) {
    SetCounts(90, 30, 65);
    UpdateCaption();
    EXPECT_EQ(form->Caption(), "FPS:  30 | MPS:  90 | 1:05");
    EXPECT_EQ(TickCount(TickFrame), 0);
    EXPECT_EQ(TickCount(TickMove), 0);
    EXPECT_EQ(TickCount(TickSecond), 65) << "the elapsed seconds must never be reset";
}

TEST_F(CaptionTest, IsSetEverySecondEvenWhenUnchanged) {
    SetCounts(90, 0, 7);
    UpdateCaption();
    SetCounts(90, 0, 7);
    UpdateCaption();
    EXPECT_EQ(captions, (std::vector<std::string>{"FPS:  0 | MPS:  90 | 0:07", "FPS:  0 | MPS:  90 | 0:07"}));
}

TEST_F(CaptionTest, KeepsCountingPastNineHours) {
    SetCounts(90, 30, 40000);
    UpdateCaption();
    EXPECT_EQ(form->Caption(), "FPS:  30 | MPS:  90 | 6:40");
}

// ---- Frames ------------------------------------------------------------------------------------

// A contestant that never acts, so nothing but the test moves or fires a gun.
class Idle : public Sprite {
public:
    void Initialize(std::shared_ptr<SpriteActions>&, SpriteEnemyList&) override {}
    void Update() override {}
};

constexpr std::uint32_t Black = 0x000000;
constexpr std::uint32_t White = 0xFFFFFF;
constexpr std::uint32_t Scribble = 0xFF0000;

// Frame 0 of gun `gun`'s strip: every pixel distinct and neither black nor white. Other frames differ.
std::uint32_t StripPixel(int gun, int x, int y) {
    return 0x200000u * static_cast<std::uint32_t>(gun + 1) + static_cast<std::uint32_t>(y * 256 + x + 1);
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPictureLoader([this](const std::string&) {
            auto strip = std::make_shared<GdiBitmap>(256, 16);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 256; ++x) strip->Row(y)[x] = StripPixel(picturesLoaded, x, y);
            ++picturesLoaded;
            return std::make_shared<Picture>(strip);
        });
        BuildTrigTables();
        frmMain = form;
        form->Show();
        form->SetScaleModePixels();
        BackWidth = static_cast<std::int32_t>(form->ScaleWidth());
        BackHeight = static_cast<std::int32_t>(form->ScaleHeight());
        CreateBackBuffer(form->PictureBoxDC());
        Sprites = std::make_shared<clsSprites>();
        CannonIndex = Sprites->AddSprite("Cannon", 20.0f, 20.0f, 128, -1, std::make_shared<Idle>(), "cannon.bmp",
                                         16, 16, 16, 89, 29);
        HelicopterIndex = Sprites->AddSprite("Helicopter", 40.0f, 40.0f, 0, -1, std::make_shared<Idle>(),
                                             "cannon.bmp", 16, 16, 16, 59, 14);
    }
    void TearDown() override {
        DestroyBackBuffer();
        frmMain.reset();
        Sprites.reset();
        EraseBullets();
        SetPictureLoader({});
        BackWidth = 0;
        BackHeight = 0;
        BackRect = RECT{};
    }

    // A bullet that stays where it is put: speed 0.
    static void PlaceBullet(float x, float y) { AddBullet(x, y, 0, 0.0f); }

    // What the picture box must show: black, the given white pixels, then both guns' frame 0.
    std::vector<std::uint32_t> Expected(const std::vector<std::pair<int, int>>& bullets, int cannonLeft,
                                        int cannonTop, int heliLeft, int heliTop) const {
        std::vector<std::uint32_t> image(static_cast<std::size_t>(BackWidth * BackHeight), Black);
        auto put = [&](int x, int y, std::uint32_t pixel) {
            if (x >= 0 && y >= 0 && x < BackWidth && y < BackHeight) image[static_cast<std::size_t>(y * BackWidth + x)] = pixel;
        };
        for (auto [x, y] : bullets) put(x, y, White);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) put(cannonLeft + x, cannonTop + y, StripPixel(0, x, y));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) put(heliLeft + x, heliTop + y, StripPixel(1, x, y));
        return image;
    }

    // Compares the whole picture box with `expected`, reporting the first few differing pixels.
    void ExpectPictureBox(const std::vector<std::uint32_t>& expected) {
        const GdiBitmap& box = form->PictureBox();
        int wrong = 0;
        for (int y = 0; y < BackHeight; ++y) {
            for (int x = 0; x < BackWidth; ++x) {
                const std::uint32_t want = expected[static_cast<std::size_t>(y * BackWidth + x)];
                if (box.Pixel(x, y) != want && ++wrong <= 5) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << box.Pixel(x, y)
                                  << ", expected " << want;
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    std::shared_ptr<MemoryForm> form = std::make_shared<MemoryForm>();
    int picturesLoaded = 0;
};

TEST_F(FrameTest, GunsLandAtTheirPlacesOverTheBullets) {
    PlaceBullet(20.0f, 20.0f);    // under the Cannon
    PlaceBullet(100.0f, 50.0f);
    PlaceBullet(372.0f, 284.0f);  // the field's last pixel
    ComposeFrame();
    ExpectPictureBox(Expected({{100, 50}, {372, 284}}, 12, 12, 32, 32));
}

TEST_F(FrameTest, HelicopterIsDrawnOverTheCannon) {
    Sprites->X(HelicopterIndex, 28);
    Sprites->Y(HelicopterIndex, 28);
    ComposeFrame();
    ExpectPictureBox(Expected({}, 12, 12, 20, 20));
}

TEST_F(FrameTest, AFrameClearsEverythingAFormerFrameDrew) {
    for (int i = 0; i < 20; ++i) PlaceBullet(5.0f + 17.0f * static_cast<float>(i), 3.0f + 13.0f * static_cast<float>(i));
    ComposeFrame();
    // Leftovers of every kind: bullets gone, guns moved, and the back buffer scribbled on outside a frame.
    EraseBullets();
    Sprites->X(CannonIndex, 300);
    Sprites->Y(HelicopterIndex, 200);
    FillRect(BackDC.get(), RECT{0, 0, BackWidth, BackHeight}, CreateSolidBrush(0x0000FF));
    ASSERT_EQ(BackDC->Target().Pixel(BackWidth - 1, BackHeight - 1), Scribble);
    ComposeFrame();
    ExpectPictureBox(Expected({}, 292, 12, 32, 192));
}

TEST_F(FrameTest, LabelNamesTheBulletsInFlight) {
    const struct {
        int Bullets;
        const char* Text;
    } cases[] = {{0, "Press space bar!"}, {1, "Bullets on screen:  1"}, {12, "Bullets on screen:  12"}};
    for (const auto& c : cases) {
        EraseBullets();
        for (int i = 0; i < c.Bullets; ++i) PlaceBullet(200.0f, 100.0f + static_cast<float>(i));
        ComposeFrame();
        EXPECT_EQ(form->LabelCaption(), c.Text) << c.Bullets << " bullets";
    }
}

TEST_F(FrameTest, LabelIsSetOnlyWhenItsTextChanges) {
    ComposeFrame();
    ComposeFrame();
    EXPECT_EQ(form->LabelWrites, 1) << "an unchanged label was set again";
    PlaceBullet(200.0f, 100.0f);
    ComposeFrame();
    ComposeFrame();
    EXPECT_EQ(form->LabelWrites, 2);
    PlaceBullet(210.0f, 100.0f);
    ComposeFrame();
    EXPECT_EQ(form->LabelWrites, 3);
    EraseBullets();
    ComposeFrame();
    EXPECT_EQ(form->LabelWrites, 4) << "going back to no bullets must change the label";
    EXPECT_EQ(form->LabelCaption(), "Press space bar!");
}

TEST(Unload, RaisesTheQuitFlagAndLetsTheWindowClose) {
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    EXPECT_EQ(QuitRequested, -1);
    EXPECT_EQ(cancel, 0);
    QuitRequested = 0;
}

}  // namespace
}  // namespace brakkenfel
