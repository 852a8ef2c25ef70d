// The web page's bitmap reader gives the pixels the window's SDL loader gives, and refuses what it cannot read.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backends/sdl/SdlPicture.h"
#include "backends/web/WebPicture.h"
#include "platform/Errors.h"

namespace brakkenfel {
namespace {

// An uncompressed bitmap file of `Bits` bits a pixel; pixel (x, y) gets a colour made of both and
// `Fourth` in a 32-bit pixel's spare byte.
std::vector<std::uint8_t> MakeBmp(std::uint16_t Width, std::uint16_t Height, std::uint16_t Bits, bool TopDown,
                                  std::uint8_t Fourth = 0x7F) {
    const std::size_t Stride = (std::size_t{Width} * Bits / 8 + 3) / 4 * 4;
    std::vector<std::uint8_t> File(54 + Stride * Height);
    const auto Put = [&File](std::size_t At, std::uint32_t Value, int Size) {
        for (int I = 0; I < Size; ++I) File[At + I] = static_cast<std::uint8_t>(Value >> (8 * I));
    };
    File[0] = 'B';
    File[1] = 'M';
    Put(2, static_cast<std::uint32_t>(File.size()), 4);
    Put(10, 54, 4);
    Put(14, 40, 4);
    Put(18, Width, 4);
    Put(22, TopDown ? 0u - Height : Height, 4);
    Put(26, 1, 2);
    Put(28, Bits, 2);
    for (std::size_t Row = 0; Row < Height; ++Row) {
        for (std::size_t X = 0; X < Width; ++X) {
            const std::size_t At = 54 + Row * Stride + X * Bits / 8;
            File[At] = static_cast<std::uint8_t>(X * 40 + Row);       // blue
            File[At + 1] = static_cast<std::uint8_t>(Row * 50 + 7);   // green
            File[At + 2] = static_cast<std::uint8_t>(255 - X * Row);  // red
            if (Bits == 32) File[At + 3] = Fourth;
        }
    }
    return File;
}

void ExpectSamePixels(const std::vector<std::uint8_t>& File, const std::string& Name) {
    const auto Web = DecodeSimpleBmp(File, Name);
    const auto Window = LoadPictureFromMemory(File.data(), File.size(), Name);
    const GdiBitmap& A = *Web->Handle();
    const GdiBitmap& B = *Window->Handle();
    ASSERT_EQ(A.Width(), B.Width()) << Name;
    ASSERT_EQ(A.Height(), B.Height()) << Name;
    for (std::int32_t Y = 0; Y < A.Height(); ++Y) {
        for (std::int32_t X = 0; X < A.Width(); ++X) {
            ASSERT_EQ(A.Pixel(X, Y), B.Pixel(X, Y)) << Name << " at " << X << ", " << Y;
        }
    }
}

TEST(WebPicture, ReadsThePixelsTheWindowsLoaderReads) {
    std::ifstream Strip(std::string(BRAKKENFEL_SOURCE_DIR) + "/assets/cannon.bmp", std::ios::binary);
    ExpectSamePixels({std::istreambuf_iterator<char>(Strip), {}}, "cannon.bmp");
    ExpectSamePixels(MakeBmp(5, 3, 24, false), "24-bit, padded rows");
    ExpectSamePixels(MakeBmp(4, 6, 24, true), "24-bit, top down");
    ExpectSamePixels(MakeBmp(3, 2, 32, false), "32-bit with a spare byte");
}

TEST(WebPicture, RefusesWhatItCannotReadByName) {
    std::vector<std::uint8_t> Cut = MakeBmp(8, 8, 24, false);
    Cut.pop_back();
    std::vector<std::uint8_t> Palette = MakeBmp(8, 8, 24, false);
    Palette[28] = 8;
    std::vector<std::uint8_t> Huge = MakeBmp(1, 1, 24, false);
    Huge[21] = 0x40;  // 1 << 30 columns
    std::vector<std::uint8_t> Empty;
    for (const auto& [File, Name] : {std::pair{&Cut, "cut"}, std::pair{&Palette, "palette"}, std::pair{&Huge, "huge"},
                                     std::pair{&Empty, "empty"}}) {
        try {
            DecodeSimpleBmp(*File, Name);
            ADD_FAILURE() << Name << " was read";
        } catch (const RuntimeError& Error) {
            EXPECT_EQ(Error.Number(), ErrInvalidPicture) << Name;
            EXPECT_NE(std::string(Error.what()).find(Name), std::string::npos) << Error.what();
        }
    }
}

}  // namespace
}  // namespace brakkenfel
