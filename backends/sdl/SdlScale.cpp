// Nearest-neighbour enlargement by a whole factor: one row built per source row, then repeated.
#include "backends/sdl/SdlScale.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brakkenfel {

ScaledPlace PlaceScaled(int Width, int Height, int RoomWidth, int RoomHeight) {
    ScaledPlace Place;
    if (Width <= 0 || Height <= 0) return Place;
    Place.Factor = std::max(1, std::min(RoomWidth / Width, RoomHeight / Height));
    Place.Origin = {std::max(0, (RoomWidth - Width * Place.Factor) / 2),
                    std::max(0, (RoomHeight - Height * Place.Factor) / 2)};
    return Place;
}

SDL_Rect CopyScaled(const SDL_Surface* Source, SDL_Rect Rect, SDL_Surface* Target, const ScaledPlace& Place) {
    const int F = Place.Factor;
    // The source rectangle inside the source, then its image inside the target.
    SDL_Rect Whole{0, 0, Source->w, Source->h};
    SDL_Rect From{};
    if (SDL_IntersectRect(&Rect, &Whole, &From) == SDL_FALSE) return {};
    const SDL_Rect Image{Place.Origin.x + From.x * F, Place.Origin.y + From.y * F, From.w * F, From.h * F};
    const SDL_Rect Bounds{0, 0, Target->w, Target->h};
    SDL_Rect To{};
    if (SDL_IntersectRect(&Image, &Bounds, &To) == SDL_FALSE) return {};

    std::vector<std::uint32_t> Row(static_cast<std::size_t>(To.w));
    const auto* SourceBase = static_cast<const std::uint8_t*>(Source->pixels);
    auto* TargetBase = static_cast<std::uint8_t*>(Target->pixels);
    int BuiltFor = -1;  // the source row `Row` holds
    for (int Y = To.y; Y < To.y + To.h; ++Y) {
        const int SY = (Y - Place.Origin.y) / F;
        if (SY != BuiltFor) {
            const auto* In = reinterpret_cast<const std::uint32_t*>(SourceBase + SY * Source->pitch);
            for (int X = 0; X < To.w; ++X) Row[static_cast<std::size_t>(X)] = In[(To.x + X - Place.Origin.x) / F];
            BuiltFor = SY;
        }
        std::memcpy(TargetBase + Y * Target->pitch + To.x * 4, Row.data(), Row.size() * 4);
    }
    return To;
}

}  // namespace brakkenfel
