// Fuzz target: any bytes as the guns' picture file, then every frame of a 16 x 16 strip drawn.
//
// The input goes through the same loader as cannon.bmp. When it loads, a registry draws each of
// the 16 frames at places inside, across and outside the field, and every draw is checked: the
// pixels the strip has are copied, and nothing else of the field changes. A loader failure must be
// error 481; any other exception, a sanitizer report or a failed check ends the run.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "contest/clsHuman.h"
#include "backends/sdl/BmpCheck.h"
#include "platform/Errors.h"
#include "platform/Gdi.h"
#include "platform/Picture.h"
#include "backends/sdl/SdlPicture.h"
#include "sprites/clsSprites.h"

namespace {

using namespace brakkenfel;

constexpr std::int32_t FieldWidth = 373;
constexpr std::int32_t FieldHeight = 285;
constexpr std::uint8_t Side = 16;
constexpr std::uint8_t Frames = 16;
/// A value no loaded pixel can have (their top byte is clear), so a stray write shows.
constexpr std::uint32_t Untouched = 0xA5000000u;

[[noreturn]] void Fail(const char* What, long A = 0, long B = 0) {
    std::fprintf(stderr, "fuzz_picture: %s (%ld, %ld)\n", What, A, B);
    std::abort();
}

/// Sprite centres: inside the field, on each edge and corner, half out, and wholly out.
constexpr float Places[][2] = {{20.0f, 20.0f}, {0.0f, 0.0f}, {372.0f, 284.0f}, {-7.0f, 150.0f},
                               {380.0f, 290.0f}, {186.5f, 142.5f}, {-100.0f, -100.0f}};

/// Checks the draw of frame `Frame` at `Place`: the block the strip has there was copied and every
/// other pixel of the block's neighbourhood still holds Untouched. Resets the neighbourhood after.
void CheckDraw(GdiBitmap& Field, const GdiBitmap& Strip, std::uint8_t Frame, const float* Place) {
    const std::int32_t Left = static_cast<std::int32_t>(std::nearbyint(Place[0] - Side / 2));
    const std::int32_t Top = static_cast<std::int32_t>(std::nearbyint(Place[1] - Side / 2));
    const std::int32_t SourceLeft = static_cast<std::uint8_t>(Side * Frame);
    for (std::int32_t Y = Top - 1; Y <= Top + Side; ++Y) {
        for (std::int32_t X = Left - 1; X <= Left + Side; ++X) {
            if (X < 0 || Y < 0 || X >= Field.Width() || Y >= Field.Height()) continue;
            const std::int32_t SourceX = SourceLeft + X - Left;
            const std::int32_t SourceY = Y - Top;
            const bool InBlock = X >= Left && X < Left + Side && Y >= Top && Y < Top + Side;
            const bool InStrip = SourceX < Strip.Width() && SourceY < Strip.Height();
            const std::uint32_t Expected = InBlock && InStrip ? Strip.Pixel(SourceX, SourceY) : Untouched;
            if (Field.Pixel(X, Y) != Expected) Fail("drawn pixel differs from the strip", X, Y);
            Field.Row(Y)[X] = Untouched;
        }
    }
}

/// Loads `Size` bytes as a picture and draws every frame of it; aborts on any broken promise.
void LoadAndDraw(const std::uint8_t* Data, std::size_t Size) {
    std::shared_ptr<Picture> Loaded;
    try {
        Loaded = LoadPictureFromMemory(Data, Size, "fuzz.bmp");
    } catch (const RuntimeError& Error) {
        if (Error.Number() != ErrInvalidPicture) Fail("unexpected error number", Error.Number());
        return;
    }
    const GdiBitmap& Strip = *Loaded->Handle();
    if (Strip.Width() <= 0 || Strip.Height() <= 0 ||
        static_cast<std::int64_t>(Strip.Width()) * Strip.Height() > MaxPicturePixels) {
        Fail("loaded picture has an impossible size", Strip.Width(), Strip.Height());
    }
    for (std::int32_t Y = 0; Y < Strip.Height(); ++Y) {
        for (std::int32_t X = 0; X < Strip.Width(); ++X) {
            if (Strip.Pixel(X, Y) > 0x00FFFFFFu) Fail("pixel with its top byte set", X, Y);
        }
    }

    HBITMAP FieldBitmap = CreateCompatibleBitmap(nullptr, FieldWidth, FieldHeight);
    GdiDC FieldDC(FieldBitmap);
    GdiBitmap& Field = FieldDC.Target();
    for (std::int32_t Y = 0; Y < FieldHeight; ++Y) {
        for (std::int32_t X = 0; X < FieldWidth; ++X) Field.Row(Y)[X] = Untouched;
    }

    // One gun per place, each given the loaded picture the way start-up gives cannon.bmp.
    SetPictureLoader([Loaded](const std::string&) { return Loaded; });
    clsSprites Registry;
    for (const auto& Place : Places) {
        const std::int16_t Gun = Registry.AddSprite("Cannon", Place[0], Place[1], 128, -1,
                                                    std::make_shared<clsHuman>(), "fuzz.bmp", Side, Side,
                                                    Frames, 89, 29);
        for (std::uint8_t Frame = 0; Frame < Frames; ++Frame) {
            Registry.Frame(Gun, Frame);
            Registry.Draw(Gun, &FieldDC);
            CheckDraw(Field, Strip, Frame, Place);
        }
    }
    SetPictureLoader(nullptr);
}

}  // namespace

/// libFuzzer's entry: one input, one load and, when it loads, one round of drawing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    LoadAndDraw(Data, Size);
    return 0;
}
