// Colours as the windows spell them (0xRRGGBB) turned into SDL's, and solid rectangles in them.
#pragma once

#include <SDL.h>

#include <cstdint>

namespace brakkenfel {

/// An opaque SDL colour from 0xRRGGBB.
constexpr SDL_Color ToColor(std::uint32_t Rgb) {
    return SDL_Color{static_cast<Uint8>(Rgb >> 16), static_cast<Uint8>(Rgb >> 8), static_cast<Uint8>(Rgb), 255};
}

/// Fills `Rect` of `Surface` with 0xRRGGBB in the surface's own pixel format.
inline void Fill(SDL_Surface* Surface, SDL_Rect Rect, std::uint32_t Rgb) {
    SDL_FillRect(Surface, &Rect, SDL_MapRGB(Surface->format, static_cast<Uint8>(Rgb >> 16),
                                            static_cast<Uint8>(Rgb >> 8), static_cast<Uint8>(Rgb)));
}

}  // namespace brakkenfel
