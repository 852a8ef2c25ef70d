// One-line text in the window: a font found through fontconfig, rendered with SDL_ttf.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdint>
#include <memory>
#include <string>

namespace brakkenfel {

/// Where fontconfig found the nearest match for a requested face.
struct FontMatch {
    std::string File;        ///< path of the font file
    int Index = 0;           ///< face index inside the file
    double PixelSize = 0.0;  ///< the requested size in pixels at the requested resolution
};

/// Asks fontconfig for `family` (e.g. "Tahoma:bold") at `points` and `dpi`; its nearest match if the face is absent.
FontMatch MatchFont(const std::string& family, double points, double dpi);

/// Frees an SDL surface.
struct SurfaceFree {
    /// Frees `surface`.
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
/// An owned SDL surface.
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

/// An open font, sized in pixels, that renders single lines.
class SdlText {
public:
    /// Opens the nearest match of `family` at `points` and `dpi`; fails with RuntimeError 53 if none opens.
    SdlText(const std::string& family, double points, double dpi);
    ~SdlText();
    SdlText(const SdlText&) = delete;
    SdlText& operator=(const SdlText&) = delete;

    /// The width in pixels `text` takes on one line (0 for an empty text).
    int Width(const std::string& text) const;
    /// The line height in pixels.
    int Height() const;
    /// `text` in `ink` on a solid `paper`; null for an empty text.
    SurfacePtr Render(const std::string& text, SDL_Color ink, SDL_Color paper) const;
    /// The font file in use.
    const FontMatch& Match() const { return Found; }

private:
    FontMatch Found;
    TTF_Font* Font = nullptr;
};

}  // namespace brakkenfel
