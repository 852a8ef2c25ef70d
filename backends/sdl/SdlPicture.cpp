// Reading Windows bitmap files with SDL into our own 32-bit bitmaps.
#include "backends/sdl/SdlPicture.h"

#include <SDL.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "backends/sdl/BmpCheck.h"
#include "platform/Errors.h"
#include "backends/sdl/SdlApp.h"

namespace brakkenfel {

namespace {

/// Frees an SDL surface when it goes out of scope.
struct SurfaceDeleter {
    void operator()(SDL_Surface* Surface) const { SDL_FreeSurface(Surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

/// Closes an SDL stream when it goes out of scope.
struct StreamCloser {
    void operator()(SDL_RWops* Stream) const { SDL_RWclose(Stream); }
};
using StreamPtr = std::unique_ptr<SDL_RWops, StreamCloser>;

/// An `Bits`-bit channel level as 8 bits, its top bits repeated below it, so that the top level
/// is 255 and every level of a 16-bit picture lands where its 24-bit twin's does.
std::uint32_t Widen(std::uint32_t Level, int Bits) {
    if (Bits <= 0) return 0;
    if (Bits >= 8) return Level >> (Bits - 8);
    std::uint32_t Value = Level << (8 - Bits);
    for (int Filled = Bits; Filled < 8; Filled *= 2) Value |= Value >> Filled;
    return Value & 0xFFu;
}

/// True when `Format` has colour masks with a channel not exactly 8 bits wide (5-6-5, 5-5-5, ...),
/// which SDL's blit widens inexactly (a 5-6-5 white becomes 255, 254, 255).
bool HasNarrowChannels(const SDL_PixelFormat& Format) {
    if (Format.palette != nullptr) return false;
    for (const Uint32 Mask : {Format.Rmask, Format.Gmask, Format.Bmask}) {
        if (Mask != 0 && std::popcount(Mask) != 8) return true;
    }
    return false;
}

/// Converts `Source`, whose pixels are 2 to 4 bytes under colour masks, into `Target` channel by channel.
void WidenInto(const SDL_Surface& Source, GdiBitmap& Target) {
    const SDL_PixelFormat& Format = *Source.format;
    const int Bytes = Format.BytesPerPixel;
    struct Channel {
        Uint32 Mask;
        int Shift, Bits;
    };
    std::array<Channel, 3> Channels{};
    const std::array<Uint32, 3> Masks{Format.Rmask, Format.Gmask, Format.Bmask};
    for (std::size_t I = 0; I < Channels.size(); ++I) {
        Channels[I] = {Masks[I], Masks[I] == 0 ? 0 : std::countr_zero(Masks[I]), std::popcount(Masks[I])};
    }
    for (std::int32_t Y = 0; Y < Target.Height(); ++Y) {
        const auto* From = static_cast<const Uint8*>(Source.pixels) + static_cast<std::ptrdiff_t>(Y) * Source.pitch;
        std::uint32_t* Row = Target.Row(Y);
        for (std::int32_t X = 0; X < Target.Width(); ++X, From += Bytes) {
            // Pixels are stored little-endian, as the file has them.
            Uint32 Pixel = 0;
            for (int B = Bytes - 1; B >= 0; --B) Pixel = Pixel << 8 | From[B];
            std::uint32_t Out = 0;
            for (const Channel& C : Channels) Out = Out << 8 | Widen((Pixel & C.Mask) >> C.Shift, C.Bits);
            Row[X] = Out;
        }
    }
}

/// Decodes the bitmap file in `Source` (taken over and closed) into our pixel format; `Name` goes
/// into every error. The headers are checked against the stream's size before SDL sees them.
std::shared_ptr<Picture> Decode(SDL_RWops* Source, const std::string& Name) {
    StreamPtr Stream(Source);
    const Sint64 Size = SDL_RWsize(Source);
    if (Size < 0) {
        throw RuntimeError(ErrInvalidPicture, Name + " (its size cannot be read)");
    }
    std::array<std::uint8_t, BmpHeadBytes> Head{};
    const std::size_t Got = SDL_RWread(Source, Head.data(), 1, Head.size());
    BmpLayout Layout;
    std::string Why;
    if (!CheckBmpHeader(std::span(Head.data(), Got), static_cast<std::uint64_t>(Size), Layout, Why)) {
        throw RuntimeError(ErrInvalidPicture, Name + " (" + Why + ")");
    }
    if (SDL_RWseek(Source, 0, RW_SEEK_SET) != 0) {
        throw RuntimeError(ErrInvalidPicture, Name + " (it cannot be read again from its start)");
    }
    const SurfacePtr Decoded(SDL_LoadBMP_RW(Stream.release(), 1));
    if (!Decoded) {
        throw RuntimeError(ErrInvalidPicture, Name + " (" + SdlFailureReason() + ")");
    }
    // The decoder reads the same headers; anything else would mean the check looked at other bytes.
    if (Decoded->w != Layout.Width || Decoded->h != Layout.Height) {
        throw RuntimeError(ErrInvalidPicture, Name);
    }
    // Converted straight into our own pixels: a second full-size SDL surface would only be copied again.
    auto Bitmap = std::make_shared<GdiBitmap>(Layout.Width, Layout.Height);
    const int Bytes = Decoded->format->BytesPerPixel;
    if (HasNarrowChannels(*Decoded->format) && Bytes >= 2 && Bytes <= 4 && !SDL_MUSTLOCK(Decoded.get())) {
        WidenInto(*Decoded, *Bitmap);
        return std::make_shared<Picture>(std::move(Bitmap));
    }
    const SurfacePtr Target(SDL_CreateRGBSurfaceWithFormatFrom(Bitmap->Row(0), Bitmap->Width(), Bitmap->Height(), 32,
                                                               Bitmap->Pitch() * 4, SDL_PIXELFORMAT_RGB888));
    // A copy, not a blend: a 32-bit file's fourth byte is no transparency here.
    if (!Target || SDL_SetSurfaceBlendMode(Decoded.get(), SDL_BLENDMODE_NONE) != 0 ||
        SDL_BlitSurface(Decoded.get(), nullptr, Target.get(), nullptr) != 0) {
        throw RuntimeError(ErrInvalidPicture, Name + " (" + SdlFailureReason() + ")");
    }
    // The unused top byte is not promised to be zero; our pixels keep it clear.
    for (std::int32_t Y = 0; Y < Bitmap->Height(); ++Y) {
        std::uint32_t* Row = Bitmap->Row(Y);
        for (std::int32_t X = 0; X < Bitmap->Width(); ++X) {
            Row[X] &= 0x00FFFFFFu;
        }
    }
    return std::make_shared<Picture>(std::move(Bitmap));
}

}  // namespace

std::shared_ptr<Picture> LoadPictureFromFile(const std::string& path) {
    // Opened without blocking and checked to be a plain file before anything reads it: a pipe with
    // no writer would stall start-up for ever, and a folder or device is no picture file at all.
    const int Descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Descriptor < 0) {
        const int Reason = errno;
        throw RuntimeError(ErrFileNotFound, Reason == ENOENT ? path : path + " (" + std::strerror(Reason) + ")");
    }
    struct stat Info {};
    if (::fstat(Descriptor, &Info) != 0 || !S_ISREG(Info.st_mode)) {
        const bool Folder = S_ISDIR(Info.st_mode);
        ::close(Descriptor);
        throw RuntimeError(ErrFileNotFound, path + (Folder ? " (a folder, not a file)" : " (not a plain file)"));
    }
    std::FILE* Stream = ::fdopen(Descriptor, "rb");
    if (Stream == nullptr) {
        ::close(Descriptor);
        throw RuntimeError(ErrFileNotFound, path);
    }
    SDL_RWops* Source = SDL_RWFromFP(Stream, SDL_TRUE);
    if (Source == nullptr) {
        std::fclose(Stream);
        throw RuntimeError(ErrFileNotFound, path);
    }
    return Decode(Source, path);
}

std::shared_ptr<Picture> LoadPictureFromMemory(const void* bytes, std::size_t size, const std::string& name) {
    // SDL refuses to stream from no bytes at all; the headers' check would say the same.
    if (size == 0) {
        throw RuntimeError(ErrInvalidPicture, name + " (the file is empty)");
    }
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw RuntimeError(ErrInvalidPicture, name + " (too large)");
    }
    SDL_RWops* Source = SDL_RWFromConstMem(bytes, static_cast<int>(size));
    if (Source == nullptr) {
        throw RuntimeError(ErrInvalidPicture, name);
    }
    return Decode(Source, name);
}

PictureLoader SdlPictureLoader() { return &LoadPictureFromFile; }

}  // namespace brakkenfel
