// Whole-factor enlargement of the window's picture: every pixel becomes a square block, nothing blurred.
#pragma once

#include <SDL.h>

namespace brakkenfel {

/// The largest whole factor at which a `Width` x `Height` picture fits in `Room` (at least 1), and
/// where it then sits, centred (never left or above the room's corner).
struct ScaledPlace {
    int Factor = 1;
    SDL_Point Origin{0, 0};
};

/// Where a `Width` x `Height` picture goes in a `RoomWidth` x `RoomHeight` window.
ScaledPlace PlaceScaled(int Width, int Height, int RoomWidth, int RoomHeight);

/// Copies `Rect` of `Source` (32-bit XRGB) to `Target` (32-bit XRGB, unlocked) enlarged `Place.Factor`
/// times, at `Place.Origin` plus the rectangle's own place times the factor; clipped to `Target`.
/// Returns the target rectangle written (empty when nothing lies inside).
SDL_Rect CopyScaled(const SDL_Surface* Source, SDL_Rect Rect, SDL_Surface* Target, const ScaledPlace& Place);

}  // namespace brakkenfel
