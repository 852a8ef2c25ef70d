// A bounded reader of plain bitmap files: every offset is checked against the bytes held.
#include "backends/web/WebPicture.h"

#include <utility>

#include "platform/Errors.h"

namespace brakkenfel {

namespace {

// The widest and tallest strip accepted: the arena's is 256 x 16.
constexpr std::int64_t MaxSide = 16384;
constexpr std::int64_t MaxPixels = 16 * 1024 * 1024;

std::uint32_t Little(const std::vector<std::uint8_t>& Bytes, std::size_t At, std::size_t Size) {
    std::uint32_t Value = 0;
    for (std::size_t I = Size; I > 0; --I) Value = Value << 8 | Bytes[At + I - 1];
    return Value;
}

}  // namespace

std::shared_ptr<Picture> DecodeSimpleBmp(const std::vector<std::uint8_t>& Bytes, const std::string& Name) {
    const auto Fail = [&Name](const std::string& Why) { return RuntimeError(ErrInvalidPicture, Name + " (" + Why + ")"); };
    if (Bytes.size() < 14 + 40 || Bytes[0] != 'B' || Bytes[1] != 'M') throw Fail("not a bitmap file");
    const std::uint32_t PixelOffset = Little(Bytes, 10, 4);
    const std::uint32_t InfoSize = Little(Bytes, 14, 4);
    const auto Width = static_cast<std::int32_t>(Little(Bytes, 18, 4));
    const auto RawHeight = static_cast<std::int32_t>(Little(Bytes, 22, 4));
    const std::uint32_t Planes = Little(Bytes, 26, 2);
    const std::uint32_t BitCount = Little(Bytes, 28, 2);
    const std::uint32_t Compression = Little(Bytes, 30, 4);
    if (InfoSize < 40 || Planes != 1 || Compression != 0 || (BitCount != 24 && BitCount != 32)) {
        throw Fail("only uncompressed 24- and 32-bit bitmaps are read here");
    }
    const bool TopDown = RawHeight < 0;
    const std::int64_t Height = TopDown ? -static_cast<std::int64_t>(RawHeight) : RawHeight;
    if (Width <= 0 || Height <= 0 || Width > MaxSide || Height > MaxSide ||
        static_cast<std::int64_t>(Width) * Height > MaxPixels) {
        throw Fail("its size is out of range");
    }
    const std::size_t PixelBytes = BitCount / 8;
    const std::size_t Stride = (static_cast<std::size_t>(Width) * PixelBytes + 3) / 4 * 4;
    if (PixelOffset < 14 + InfoSize || PixelOffset > Bytes.size() ||
        (Bytes.size() - PixelOffset) / Stride < static_cast<std::size_t>(Height)) {
        throw Fail("the file is shorter than its headers say");
    }
    auto Bitmap = std::make_shared<GdiBitmap>(Width, static_cast<std::int32_t>(Height));
    for (std::int32_t Y = 0; Y < Bitmap->Height(); ++Y) {
        const std::size_t FileRow = TopDown ? static_cast<std::size_t>(Y) : static_cast<std::size_t>(Height - 1 - Y);
        const std::uint8_t* From = Bytes.data() + PixelOffset + FileRow * Stride;
        std::uint32_t* Row = Bitmap->Row(Y);
        for (std::int32_t X = 0; X < Width; ++X, From += PixelBytes) {
            // Stored blue, green, red: our pixels are 0x00RRGGBB.
            Row[X] = static_cast<std::uint32_t>(From[2]) << 16 | static_cast<std::uint32_t>(From[1]) << 8 | From[0];
        }
    }
    return std::make_shared<Picture>(std::move(Bitmap));
}

PictureLoader WebPictureLoader(std::vector<std::uint8_t> Bytes) {
    auto Held = std::make_shared<const std::vector<std::uint8_t>>(std::move(Bytes));
    return [Held](const std::string& Path) { return DecodeSimpleBmp(*Held, Path); };
}

}  // namespace brakkenfel
