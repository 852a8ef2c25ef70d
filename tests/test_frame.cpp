// Frames, label and caption on the in-memory window: what the picture box shows and what the texts say.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "display/TextFormat.h"
#include "display/UpdateCaption.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

// The time piece past hours and days is test_long_captions.cpp's.
TEST(Caption, ShowsTheLastSecondEverySecondAndRestartsItsCounts) {
    auto form = std::make_shared<MemoryForm>();
    std::vector<std::string> captions;
    form->OnCaption = [&](const std::string& caption) { captions.push_back(caption); };
    frmMain = form;
    for (int second = 0; second < 2; ++second) {  // the same caption is set again
        TickChannels[TickMove].Count = 90;
        TickChannels[TickFrame].Count = 30;
        TickChannels[TickSecond].Count = 65;
        UpdateCaption();
    }
    EXPECT_EQ(captions, std::vector<std::string>(2, "FPS:  30 | MPS:  90 | 1:05"));
    EXPECT_EQ(TickCount(TickFrame), 0);
    EXPECT_EQ(TickCount(TickMove), 0);
    EXPECT_EQ(TickCount(TickSecond), 65) << "the elapsed seconds must never be reset";
    frmMain.reset();
    ResetTicks();
}

// ---- Frames ------------------------------------------------------------------------------------

constexpr std::uint32_t Black = 0x000000;
constexpr std::uint32_t White = 0xFFFFFF;

// Frame 0 of gun `gun`'s strip: every pixel distinct and neither black nor white. Other frames differ.
std::uint32_t StripPixel(int gun, int x, int y) {
    return 0x200000u * static_cast<std::uint32_t>(gun + 1) + static_cast<std::uint32_t>(y * 256 + x + 1);
}

// The real set-up, each gun getting a strip of its own (the Cannon's is loaded first).
class FrameTest : public ::testing::Test {
protected:
    int picturesLoaded = 0;  // before the arena, whose set-up loads both strips
    MemoryArena arena{[this](const std::string&) {
        auto strip = std::make_shared<GdiBitmap>(256, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 256; ++x) strip->Row(y)[x] = StripPixel(picturesLoaded, x, y);
        ++picturesLoaded;
        return std::make_shared<Picture>(strip);
    }};
    MemoryForm& form = *arena.Form;

    // A bullet that stays where it is put: speed 0.
    static void PlaceBullet(float x, float y) { AddBullet(x, y, 0, 0.0f); }

    // Compares the whole picture box with black, the given white pixels, then both guns' frame 0 at
    // the given top-left corners; reports the first few differing pixels.
    void ExpectPictureBox(const std::vector<std::pair<int, int>>& bullets, int cannonLeft, int cannonTop,
                          int heliLeft, int heliTop) {
        std::vector<std::uint32_t> image(static_cast<std::size_t>(BackWidth * BackHeight), Black);
        auto put = [&](int x, int y, std::uint32_t pixel) {
            if (x >= 0 && y >= 0 && x < BackWidth && y < BackHeight) image[static_cast<std::size_t>(y * BackWidth + x)] = pixel;
        };
        for (auto [x, y] : bullets) put(x, y, White);
        const int corners[2][2] = {{cannonLeft, cannonTop}, {heliLeft, heliTop}};
        for (int gun = 0; gun < 2; ++gun)  // the Helicopter last, over the Cannon
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) put(corners[gun][0] + x, corners[gun][1] + y, StripPixel(gun, x, y));
        const GdiBitmap& box = form.PictureBox();
        int wrong = 0;
        for (int y = 0; y < BackHeight; ++y)
            for (int x = 0; x < BackWidth; ++x) {
                const std::uint32_t want = image[static_cast<std::size_t>(y * BackWidth + x)];
                if (box.Pixel(x, y) != want && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << box.Pixel(x, y) << ", expected " << want;
            }
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(FrameTest, GunsLandAtTheirPlacesOverTheBullets) {
    // The field's size is read from the picture box, in pixels.
    ASSERT_EQ(BackWidth, 373);
    ASSERT_EQ(BackHeight, 285);
    PlaceBullet(20.0f, 20.0f);    // under the Cannon
    PlaceBullet(100.0f, 50.0f);
    PlaceBullet(372.0f, 284.0f);  // the field's last pixel
    ComposeFrame();
    ExpectPictureBox({{100, 50}, {372, 284}}, 12, 12, 32, 32);
}

TEST_F(FrameTest, AFrameClearsEverythingAFormerFrameDrew) {
    for (int i = 0; i < 20; ++i) PlaceBullet(5.0f + 17.0f * static_cast<float>(i), 3.0f + 13.0f * static_cast<float>(i));
    ComposeFrame();
    EraseBullets();
    // Leftovers of every kind: bullets gone, guns moved (the Helicopter half over the Cannon, drawn on
    // top), and the back buffer scribbled on outside a frame.
    Sprites->X(CannonIndex, 300);
    Sprites->X(HelicopterIndex, 308);
    Sprites->Y(HelicopterIndex, 28);
    FillRect(BackDC.get(), RECT{0, 0, BackWidth, BackHeight}, CreateSolidBrush(0x0000FF));
    ComposeFrame();
    ExpectPictureBox({}, 292, 12, 300, 20);
}

TEST_F(FrameTest, LabelNamesTheBulletsInFlightAndIsSetOnlyWhenItsTextChanges) {
    const struct {
        int Bullets;
        const char* Text;
    } cases[] = {{0, "Press space bar!"}, {1, "Bullets on screen:  1"}, {12, "Bullets on screen:  12"},
                 {0, "Press space bar!"}};
    int writes = 0;
    for (const auto& c : cases) {
        EraseBullets();
        for (int i = 0; i < c.Bullets; ++i) PlaceBullet(200.0f, 100.0f + static_cast<float>(i));
        ComposeFrame();
        ComposeFrame();
        EXPECT_EQ(form.LabelCaption(), c.Text) << c.Bullets << " bullets";
        EXPECT_EQ(form.LabelWrites, ++writes) << "the label was set " << form.LabelWrites << " times";
    }
}

}  // namespace
}  // namespace brakkenfel
