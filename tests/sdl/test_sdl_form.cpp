// The SDL window on SDL's off-screen driver: layout, picture box placement, label, presenting, no display.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "display/FormLayout.h"
#include "backends/sdl/SdlApp.h"
#include "backends/sdl/SdlForm.h"
#include "backends/sdl/SdlText.h"

namespace brakkenfel {
namespace {

using namespace FormLayout;

std::uint32_t PixelOf(const SDL_Surface* surface, int x, int y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const Uint8*>(surface->pixels) +
                                                             y * surface->pitch);
    return row[x] & 0xFFFFFFu;
}

// Fills the whole picture box with `color` the way a frame does: one block transfer from a memory context.
void BlitColor(SdlForm& form, std::uint32_t color) {
    auto source = std::make_shared<GdiBitmap>(PictureInnerWidth, PictureInnerHeight);
    for (int y = 0; y < PictureInnerHeight; ++y)
        for (int x = 0; x < PictureInnerWidth; ++x) source->Row(y)[x] = color;
    GdiDC memory(source);
    BitBlt(form.PictureBoxDC(), 0, 0, PictureInnerWidth, PictureInnerHeight, &memory, 0, 0, SRCCOPY);
}

bool LabelHasInkBetween(const SDL_Surface* surface, int fromX, int toX) {
    for (int y = LabelTop; y < LabelTop + LabelHeight; ++y)
        for (int x = fromX; x < toX; ++x)
            if (PixelOf(surface, x, y) != FormBackground) return true;
    return false;
}

class SdlFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        // As the program does: frames go through the window surface, not through a GL renderer.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }
};

TEST_F(SdlFormTest, StartsWithTheStoredLayout) {
    SdlForm form;
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(form.Window(), &w, &h);
    EXPECT_EQ(w, ClientWidth);
    EXPECT_EQ(h, ClientHeight);
    // A person may enlarge it (it then draws at a whole factor), never shrink it below the layout.
    EXPECT_NE(SDL_GetWindowFlags(form.Window()) & SDL_WINDOW_RESIZABLE, 0u);
    SDL_GetWindowMinimumSize(form.Window(), &w, &h);
    EXPECT_EQ(w, ClientWidth);
    EXPECT_EQ(h, ClientHeight);
    EXPECT_EQ(form.Caption(), "Brakkenfel");
    EXPECT_STREQ(SDL_GetWindowTitle(form.Window()), "Brakkenfel");
    EXPECT_EQ(form.LabelCaption(), "");
    // The picture box measures in twips until switched to pixels.
    EXPECT_EQ(form.ScaleWidth(), PictureInnerWidth * 15.0);
    EXPECT_EQ(form.ScaleHeight(), PictureInnerHeight * 15.0);
    form.SetScaleModePixels();
    EXPECT_EQ(form.ScaleWidth(), 373.0);
    EXPECT_EQ(form.ScaleHeight(), 285.0);

    const SDL_Surface* canvas = form.Canvas();
    const struct {
        int X, Y;
        std::uint32_t Pixel;
        const char* Where;
    } probes[] = {
        {7, 7, FormBackground, "outside the box"},
        {8, 8, 0xA0A0A0, "outer shadow, top left"},
        {100, 8, 0xA0A0A0, "outer shadow, top"},
        {9, 100, 0x696969, "inner dark shadow, left"},
        {382 + 1, 100, 0xE3E3E3, "inner light, right"},
        {100, 294 + 1, 0xE3E3E3, "inner light, bottom"},
        {384, 296, 0xFFFFFF, "outer highlight, bottom right"},
        {100, 296, 0xFFFFFF, "outer highlight, bottom"},
        {385, 100, FormBackground, "right of the box"},
        {LabelLeft + 2, LabelTop + 8, FormBackground, "label before any text"},
    };
    for (const auto& p : probes) EXPECT_EQ(PixelOf(canvas, p.X, p.Y), p.Pixel) << p.Where;
}

TEST_F(SdlFormTest, PictureBoxContextCoversExactlyTheInnerArea) {
    for (SurfaceMode mode : {SurfaceMode::Auto, SurfaceMode::Shadow}) {
        SdlForm form(mode);
        form.Show();
        BlitColor(form, 0x123456);
        form.HasPendingEvents();  // the end of a pass: the drawing is shown
        // What the display got, whether the form drew into it directly or through its copy.
        const SDL_Surface* shown = SDL_GetWindowSurface(form.Window());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(PixelOf(shown, 10, 10), 0x123456u);
        EXPECT_EQ(PixelOf(shown, 382, 294), 0x123456u);
        EXPECT_EQ(PixelOf(shown, 9, 9), 0x696969u) << "the border was drawn over";
        EXPECT_EQ(PixelOf(shown, 383, 295), 0xE3E3E3u) << "the border was drawn over";
    }
}

TEST_F(SdlFormTest, LabelSizesToItsTextAndClearsWhatALongerTextLeft) {
    SdlForm form;
    const SdlText font("Tahoma:bold", 12.0, 96.0);
    form.SetLabelCaption("Bullets on screen:  12");
    const int longWidth = form.LabelWidth();
    EXPECT_EQ(longWidth, font.Width("Bullets on screen:  12"));
    EXPECT_TRUE(LabelHasInkBetween(form.Canvas(), LabelLeft, LabelLeft + longWidth));
    EXPECT_FALSE(LabelHasInkBetween(form.Canvas(), LabelLeft + longWidth, ClientWidth));

    form.SetLabelCaption("Bullets on screen:  1");
    const int shortWidth = form.LabelWidth();
    EXPECT_LT(shortWidth, longWidth);
    EXPECT_TRUE(LabelHasInkBetween(form.Canvas(), LabelLeft, LabelLeft + shortWidth));
    EXPECT_FALSE(LabelHasInkBetween(form.Canvas(), LabelLeft + shortWidth, ClientWidth))
        << "the longer text's last digit is still there";
    EXPECT_EQ(form.LabelRenders(), 2);
    EXPECT_EQ(form.LabelCaption(), "Bullets on screen:  1");
}

TEST(OpenVideo, RefusesToRunWithoutADisplay) {
    const struct {
        const char* Display;
        const char* Driver;
        const char* Why;
    } cases[] = {
        {nullptr, nullptr, "neither DISPLAY nor WAYLAND_DISPLAY"},
        {":0", "offscreen", "'offscreen'"},
        {":0", "dummy", "'dummy'"},
    };
    std::map<std::string, std::optional<std::string>> saved;  // put back afterwards for the other tests
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"})
        saved[name] = std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
    for (const auto& c : cases) {
        for (auto [name, value] : {std::pair{"DISPLAY", c.Display}, {"WAYLAND_DISPLAY", nullptr}, {"SDL_VIDEODRIVER", c.Driver}})
            value ? setenv(name, value, 1) : unsetenv(name);
        std::string why;
        EXPECT_FALSE(OpenVideo(why)) << c.Why;
        EXPECT_NE(why.find("no display"), std::string::npos) << why;
        EXPECT_NE(why.find(c.Why), std::string::npos) << why;
        EXPECT_FALSE(VideoOpen());
    }
    for (const auto& [name, value] : saved) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

}  // namespace
}  // namespace brakkenfel
