// Reading Windows bitmap files with SDL into our own 32-bit bitmaps.
#include "platform/sdl/SdlPicture.h"

#include <SDL.h>

#include <cstring>

#include "platform/Errors.h"

namespace brakkenfel {

namespace {

/// Frees an SDL surface when it goes out of scope.
struct SurfaceDeleter {
    void operator()(SDL_Surface* Surface) const { SDL_FreeSurface(Surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

}  // namespace

std::shared_ptr<Picture> LoadPictureFromFile(const std::string& path) {
    // Opened separately from the decoding so a missing file and a bad file get their own errors.
    SDL_RWops* File = SDL_RWFromFile(path.c_str(), "rb");
    if (File == nullptr) {
        throw RuntimeError(ErrFileNotFound, path);
    }
    const SurfacePtr Decoded(SDL_LoadBMP_RW(File, 1));
    if (!Decoded || Decoded->w <= 0 || Decoded->h <= 0) {
        throw RuntimeError(ErrInvalidPicture, path);
    }
    const SurfacePtr Converted(SDL_ConvertSurfaceFormat(Decoded.get(), SDL_PIXELFORMAT_RGB888, 0));
    if (!Converted) {
        throw RuntimeError(ErrInvalidPicture, path);
    }
    auto Bitmap = std::make_shared<GdiBitmap>(Converted->w, Converted->h);
    if (SDL_MUSTLOCK(Converted.get())) {
        SDL_LockSurface(Converted.get());
    }
    const auto* Bytes = static_cast<const unsigned char*>(Converted->pixels);
    for (std::int32_t Y = 0; Y < Converted->h; ++Y) {
        const auto* Source = Bytes + static_cast<std::ptrdiff_t>(Y) * Converted->pitch;
        std::uint32_t* Target = Bitmap->Row(Y);
        std::memcpy(Target, Source, static_cast<std::size_t>(Converted->w) * sizeof(std::uint32_t));
        // The unused top byte is not promised to be zero; our pixels keep it clear.
        for (std::int32_t X = 0; X < Converted->w; ++X) {
            Target[X] &= 0x00FFFFFFu;
        }
    }
    if (SDL_MUSTLOCK(Converted.get())) {
        SDL_UnlockSurface(Converted.get());
    }
    return std::make_shared<Picture>(std::move(Bitmap));
}

PictureLoader SdlPictureLoader() { return &LoadPictureFromFile; }

}  // namespace brakkenfel
