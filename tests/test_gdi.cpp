// Tests of the device-context layer: selection, clipping of fills, pixels and block copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Gdi.h"

namespace brakkenfel {
namespace {

/// A memory context with a fresh width x height bitmap selected.
DCHandle MakeDC(std::int32_t width, std::int32_t height) {
    DCHandle dc = CreateCompatibleDC(nullptr);
    SelectObject(dc.get(), CreateCompatibleBitmap(dc.get(), width, height));
    return dc;
}

/// Gives every pixel its own value so a misplaced copy shows.
void Paint(GdiBitmap& bitmap, std::uint32_t seed) {
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        for (std::int32_t x = 0; x < bitmap.Width(); ++x) bitmap.Row(y)[x] = seed + 1000u * y + x;
}

std::vector<std::uint32_t> Pixels(const GdiBitmap& bitmap) {
    std::vector<std::uint32_t> out;
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        out.insert(out.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.Width());
    return out;
}

TEST(Gdi, NewContextHoldsOnePixelPlaceholderAndSelectionSwaps) {
    DCHandle dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(dc->Target().Width(), 1);
    EXPECT_EQ(dc->Target().Height(), 1);
    HBITMAP bitmap = CreateCompatibleBitmap(dc.get(), 3, 2);
    EXPECT_EQ(Pixels(*bitmap), std::vector<std::uint32_t>(6, 0u));
    HBITMAP placeholder = dc->Bitmap();
    EXPECT_EQ(SelectObject(dc.get(), bitmap), placeholder);
    EXPECT_EQ(dc->Bitmap(), bitmap);
    EXPECT_EQ(SelectObject(dc.get(), HBITMAP{}), nullptr);  // a failed selection changes nothing
    EXPECT_EQ(dc->Bitmap(), bitmap);
}

TEST(Gdi, SetPixelWritesConvertedColourAndIgnoresPixelsOutside) {
    DCHandle dc = MakeDC(4, 3);
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 3}, {INT32_MIN, INT32_MAX}})
        SetPixel(dc.get(), x, y, 0xFFFFFF);
    EXPECT_EQ(Pixels(dc->Target()), std::vector<std::uint32_t>(12, 0u));
    SetPixel(dc.get(), 3, 2, 0x0000FF);  // 0x00BBGGRR red
    SetPixel(dc.get(), 0, 0, 0x563412);
    EXPECT_EQ(dc->Target().Pixel(3, 2), 0xFF0000u);
    EXPECT_EQ(dc->Target().Pixel(0, 0), 0x123456u);
}

TEST(Gdi, FillRectCoversExactlyTheRectInsideTheBitmap) {
    struct Case { RECT Rect; std::int32_t Painted; };  // pixels of the 5 x 4 bitmap the fill must cover
    for (const Case& c : {Case{{0, 0, 5, 4}, 20}, Case{{-3, -2, 2, 1}, 2}, Case{{3, 2, 99, 99}, 4}, Case{{6, 0, 9, 4}, 0},
                          Case{{3, 3, 1, 1}, 0}, Case{{-9, -9, 90, 90}, 20}}) {
        DCHandle dc = MakeDC(5, 4);
        const RECT r = c.Rect;
        FillRect(dc.get(), r, CreateSolidBrush(0x00FF00));
        std::int32_t painted = 0;
        for (std::int32_t y = 0; y < 4; ++y)
            for (std::int32_t x = 0; x < 5; ++x) {
                const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                EXPECT_EQ(dc->Target().Pixel(x, y), inside ? 0x00FF00u : 0u) << x << "," << y;
                painted += inside;
            }
        EXPECT_EQ(painted, c.Painted);
    }
}

// Each target pixel of the block is compared with a pixel-by-pixel reading of the rule: copied
// when both its target and source position lie inside their bitmaps, untouched otherwise.
TEST(Gdi, BitBltCopiesOnlyWhereBothBitmapsHavePixels) {
    struct Case { std::int32_t X, Y, Width, Height, SX, SY; };
    for (const Case& c : {Case{0, 0, 4, 5, 0, 0}, Case{-2, -1, 4, 4, 0, 0}, Case{1, 1, 4, 6, -1, -2},
                          Case{5, 3, 9, 9, 0, 0}, Case{2, 0, 9, 9, 2, 3}, Case{-3, -3, 20, 20, -1, 1},
                          Case{0, 0, 0, 5, 0, 0}, Case{0, 0, -3, 5, 0, 0}, Case{8, 0, 3, 3, 0, 0}, Case{0, 0, 3, 3, 4, 0},
                          Case{INT32_MIN, 0, INT32_MAX, 5, 0, 0}, Case{INT32_MAX, INT32_MAX, 5, 5, 0, 0}}) {
        DCHandle dst = MakeDC(7, 5);
        DCHandle src = MakeDC(4, 6);
        Paint(dst->Target(), 500000u);
        Paint(src->Target(), 900000u);
        const GdiBitmap before = dst->Target();
        BitBlt(dst.get(), c.X, c.Y, c.Width, c.Height, src.get(), c.SX, c.SY, SRCCOPY);
        for (std::int32_t y = 0; y < 5; ++y)
            for (std::int32_t x = 0; x < 7; ++x) {
                const std::int64_t fx = std::int64_t{x} - c.X + c.SX, fy = std::int64_t{y} - c.Y + c.SY;
                const bool copied = x >= c.X && x < std::int64_t{c.X} + c.Width && y >= c.Y &&
                                    y < std::int64_t{c.Y} + c.Height && fx >= 0 && fx < 4 && fy >= 0 && fy < 6;
                EXPECT_EQ(dst->Target().Pixel(x, y),
                          copied ? src->Target().Pixel(static_cast<std::int32_t>(fx), static_cast<std::int32_t>(fy))
                                 : before.Pixel(x, y))
                    << x << "," << y << " for a block at " << c.X << "," << c.Y;
            }
    }
}

}  // namespace
}  // namespace brakkenfel
