// The guns' picture strip as shipped: sixteen drawn frames on black. Decoding is test_bad_pictures.cpp's.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "backends/sdl/SdlPicture.h"

namespace brakkenfel {
namespace {

TEST(PictureFile, TheGunsStripIsSixteenFramesOnBlack) {
    const auto Loaded = LoadPictureFromFile(std::string(BRAKKENFEL_SOURCE_DIR) + "/assets/cannon.bmp");
    const GdiBitmap& Strip = *Loaded->Handle();
    ASSERT_EQ(Strip.Width(), 256);
    ASSERT_EQ(Strip.Height(), 16);
    for (std::int32_t Frame = 0; Frame < 16; ++Frame) {
        int Drawn = 0;
        for (std::int32_t Y = 0; Y < 16; ++Y) {
            for (std::int32_t X = 0; X < 16; ++X) Drawn += Strip.Pixel(Frame * 16 + X, Y) != 0;
        }
        // Black corners, something drawn in between.
        EXPECT_TRUE(Strip.Pixel(Frame * 16, 0) == 0 && Strip.Pixel(Frame * 16 + 15, 15) == 0 && Drawn > 40) << Frame;
    }
}

}  // namespace
}  // namespace brakkenfel
