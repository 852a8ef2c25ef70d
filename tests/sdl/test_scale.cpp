// Whole-factor enlargement of the window's picture: placement in a resized window, and crisp blocks.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>

#include "backends/sdl/SdlScale.h"
#include "backends/sdl/SdlText.h"

namespace brakkenfel {
namespace {

std::uint32_t& At(SDL_Surface* s, int x, int y) {
    return reinterpret_cast<std::uint32_t*>(static_cast<Uint8*>(s->pixels) + y * s->pitch)[x];
}

TEST(Scale, PlacesAtTheLargestWholeFactorCentred) {
    const struct {
        int RoomW, RoomH, Factor, X, Y;
    } cases[] = {
        {601, 369, 1, 0, 0},      {1803, 1107, 3, 0, 0}, {1300, 800, 2, 49, 31},
        {1202, 737, 1, 300, 184}, {500, 300, 1, 0, 0},   {4808, 2952, 8, 0, 0},
    };
    for (const auto& c : cases) {
        const ScaledPlace place = PlaceScaled(601, 369, c.RoomW, c.RoomH);
        EXPECT_EQ(place.Factor, c.Factor) << c.RoomW << "x" << c.RoomH;
        EXPECT_EQ(place.Origin.x, c.X) << c.RoomW << "x" << c.RoomH;
        EXPECT_EQ(place.Origin.y, c.Y) << c.RoomW << "x" << c.RoomH;
    }
}

TEST(Scale, EveryBlockIsOneSourcePixelAndNothingSpills) {
    SurfacePtr source(SDL_CreateRGBSurfaceWithFormat(0, 7, 5, 32, SDL_PIXELFORMAT_RGB888));
    SurfacePtr target(SDL_CreateRGBSurfaceWithFormat(0, 30, 20, 32, SDL_PIXELFORMAT_RGB888));
    ASSERT_TRUE(source && target);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) At(source.get(), x, y) = static_cast<std::uint32_t>(0x10000 * y + x + 1);
    SDL_FillRect(target.get(), nullptr, 0xABCDEF);
    // Only the rectangle from (2, 1), 3 x 2, at factor 3 from (4, 2): lands at (10, 5), 9 x 6.
    const SDL_Rect written = CopyScaled(source.get(), SDL_Rect{2, 1, 3, 2}, target.get(), ScaledPlace{3, {4, 2}});
    EXPECT_EQ(written.x, 10);
    EXPECT_EQ(written.y, 5);
    EXPECT_EQ(written.w, 9);
    EXPECT_EQ(written.h, 6);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool inside = x >= 10 && x < 19 && y >= 5 && y < 11;
            const std::uint32_t want = inside ? At(source.get(), (x - 4) / 3, (y - 2) / 3) : 0xABCDEF;
            ASSERT_EQ(At(target.get(), x, y), want) << x << "," << y;
        }
    }
    // A picture larger than the window is clipped, never written past it.
    const SDL_Rect clipped = CopyScaled(source.get(), SDL_Rect{0, 0, 7, 5}, target.get(), ScaledPlace{5, {0, 0}});
    EXPECT_EQ(clipped.w, 30);
    EXPECT_EQ(clipped.h, 20);
    EXPECT_EQ(At(target.get(), 29, 19), At(source.get(), 5, 3));
}

}  // namespace
}  // namespace brakkenfel
