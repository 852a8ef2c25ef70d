// Reading bitmap files with SDL: pixels and their order through the installed loader, and the guns' strip.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/Picture.h"
#include "platform/sdl/SdlPicture.h"

namespace brakkenfel {
namespace {

// Broken and odd files are the business of test_bad_pictures.cpp; these are the plain cases.
TEST(PictureFile, PixelsArriveTopRowFirstAsRedGreenBlueThroughTheInstalledLoader) {
    // An odd width makes every row padded.
    std::vector<std::uint32_t> Pixels = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x000000};
    const std::string Path =
        (std::filesystem::temp_directory_path() / ("brakkenfel_picture_" + std::to_string(::getpid()) + ".bmp")).string();
    // SDL writes the rows bottom up, as bitmap files have them.
    SDL_Surface* Surface = SDL_CreateRGBSurfaceWithFormatFrom(Pixels.data(), 3, 2, 32, 3 * 4, SDL_PIXELFORMAT_RGB888);
    ASSERT_EQ(SDL_SaveBMP(Surface, Path.c_str()), 0) << SDL_GetError();
    SDL_FreeSurface(Surface);
    SetPictureLoader(SdlPictureLoader());
    const auto Loaded = LoadPicture(Path);
    SetPictureLoader(nullptr);
    std::filesystem::remove(Path);
    ASSERT_TRUE(Loaded && Loaded->Handle());
    const GdiBitmap& Bitmap = *Loaded->Handle();
    ASSERT_EQ(Bitmap.Width(), 3);
    ASSERT_EQ(Bitmap.Height(), 2);
    for (std::int32_t Y = 0; Y < 2; ++Y) {
        for (std::int32_t X = 0; X < 3; ++X) {
            EXPECT_EQ(Bitmap.Pixel(X, Y), Pixels[static_cast<std::size_t>(Y * 3 + X)]) << X << "," << Y;
        }
    }
}

TEST(PictureFile, TheGunsStripIsSixteenFramesOnBlack) {
    const auto Loaded = LoadPictureFromFile(std::string(BRAKKENFEL_SOURCE_DIR) + "/assets/cannon.bmp");
    const GdiBitmap& Strip = *Loaded->Handle();
    ASSERT_EQ(Strip.Width(), 256);
    ASSERT_EQ(Strip.Height(), 16);
    for (std::int32_t Frame = 0; Frame < 16; ++Frame) {
        SCOPED_TRACE("frame " + std::to_string(Frame));
        // Black corners, something drawn in between.
        EXPECT_EQ(Strip.Pixel(Frame * 16, 0), 0u);
        EXPECT_EQ(Strip.Pixel(Frame * 16 + 15, 15), 0u);
        int Drawn = 0;
        for (std::int32_t Y = 0; Y < 16; ++Y) {
            for (std::int32_t X = 0; X < 16; ++X) Drawn += Strip.Pixel(Frame * 16 + X, Y) != 0;
        }
        EXPECT_GT(Drawn, 40);
    }
}

}  // namespace
}  // namespace brakkenfel
