// Checking a bitmap file's headers against the file's real size before any pixels are allocated.
//
// The decoder behind the loader trusts the headers: it allocates what they claim and only then
// finds out whether the file holds that much. Every claim is checked here first, in 64-bit
// arithmetic, so a short file claiming a huge picture is refused before anything is allocated.
#include "backends/sdl/BmpCheck.h"

#include <cstdlib>

namespace brakkenfel {

namespace {

/// Reads little-endian fields of the head; a field past its end counts as cut short.
class HeadReader {
public:
    explicit HeadReader(std::span<const std::uint8_t> head) : Head(head) {}
    bool Has(std::size_t offset, std::size_t bytes) const { return offset + bytes <= Head.size(); }
    std::uint32_t U16(std::size_t offset) const {
        return static_cast<std::uint32_t>(Head[offset]) | static_cast<std::uint32_t>(Head[offset + 1]) << 8;
    }
    std::uint32_t U32(std::size_t offset) const { return U16(offset) | U16(offset + 2) << 16; }

private:
    std::span<const std::uint8_t> Head;
};

constexpr std::size_t FileHeaderBytes = 14;

bool KnownInfoSize(std::uint32_t size) {
    // The core header of OS/2 1.x and the Windows headers from the first to the fifth version.
    // OS/2 2.x headers (16 to 64 bytes) give the compression codes other meanings and are refused.
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool KnownBitCount(std::uint32_t bits, bool core) {
    if (core) return bits == 1 || bits == 4 || bits == 8 || bits == 24;
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::string Bytes(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// The reason the file cannot be read, or nothing.
std::string WhyUnreadable(std::span<const std::uint8_t> Head, std::uint64_t FileSize, BmpLayout& Layout) {
    if (FileSize == 0) return "the file is empty";
    if (Head.size() > FileSize) Head = Head.first(static_cast<std::size_t>(FileSize));
    const HeadReader Read(Head);
    if (!Read.Has(0, 2) || Head[0] != 'B' || Head[1] != 'M') return "not a bitmap file: no \"BM\" at its start";
    if (!Read.Has(0, FileHeaderBytes + 4)) return "the file ends inside its header, after " + Bytes(FileSize);

    BmpLayout Found;
    Found.PixelOffset = Read.U32(10);
    Found.InfoSize = Read.U32(14);
    if (!KnownInfoSize(Found.InfoSize)) return "unknown header size " + std::to_string(Found.InfoSize);
    const std::size_t InfoEnd = FileHeaderBytes + Found.InfoSize;
    if (!Read.Has(0, InfoEnd)) return "the file ends inside its header, after " + Bytes(FileSize);

    const bool Core = Found.InfoSize == 12;
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    std::uint32_t Colors = 0;
    if (Core) {
        Width = Read.U16(18);
        Height = Read.U16(20);
        Found.BitCount = static_cast<std::uint16_t>(Read.U16(24));
        Found.Compression = BmpRgb;
    } else {
        Width = static_cast<std::int32_t>(Read.U32(18));
        Height = static_cast<std::int32_t>(Read.U32(22));
        Found.BitCount = static_cast<std::uint16_t>(Read.U16(28));
        Found.Compression = Read.U32(30);
        Colors = Read.U32(46);
    }
    const std::uint32_t SizeImage = Core ? 0 : Read.U32(34);

    // Sizes: the height's sign gives the row order; the absolute values are capped before any product.
    const std::int64_t Rows = std::llabs(Height);
    if (Width <= 0 || Height == 0) {
        return "no pixels: " + std::to_string(Width) + " x " + std::to_string(Height);
    }
    if (Width > MaxPictureSide || Rows > MaxPictureSide || Width * Rows > MaxPicturePixels) {
        return "too large: " + std::to_string(Width) + " x " + std::to_string(Rows) + " pixels";
    }
    Found.Width = static_cast<std::int32_t>(Width);
    Found.Height = static_cast<std::int32_t>(Rows);
    Found.TopDown = Height < 0;
    if (!KnownBitCount(Found.BitCount, Core)) return "unsupported " + std::to_string(Found.BitCount) + " bits per pixel";

    // Compression, and where the headers end: a first-version header keeps its colour masks after it.
    std::uint64_t HeadersEnd = InfoEnd;
    switch (Found.Compression) {
    case BmpRgb:
        break;
    case BmpRle8:
    case BmpRle4:
        if (Found.BitCount != (Found.Compression == BmpRle8 ? 8 : 4)) {
            return "run-length encoding with " + std::to_string(Found.BitCount) + " bits per pixel";
        }
        // Encoded rows only run bottom up.
        if (Found.TopDown) return "run-length encoded rows stored top down";
        break;
    case BmpBitfields:
        if (Found.BitCount != 16 && Found.BitCount != 32) {
            return "colour masks with " + std::to_string(Found.BitCount) + " bits per pixel";
        }
        if (Found.InfoSize == 40) HeadersEnd += 12;
        break;
    default:
        return "unknown compression " + std::to_string(Found.Compression);
    }
    if (HeadersEnd > FileSize) return "the file ends inside its header, after " + Bytes(FileSize);

    // The colour table follows the headers; up to 8 bits per pixel every pixel is an index into it.
    if (Found.BitCount <= 8) {
        const std::uint64_t MostColors = std::uint64_t{1} << Found.BitCount;
        if (Colors > MostColors) {
            return "a colour table of " + std::to_string(Colors) + " entries for " +
                   std::to_string(Found.BitCount) + " bits per pixel";
        }
        const std::uint64_t Entries = Colors == 0 ? MostColors : Colors;
        const std::uint64_t TableEnd = InfoEnd + Entries * (Core ? 3 : 4);
        if (TableEnd > FileSize) return "the file ends inside its colour table, after " + Bytes(FileSize);
    }

    if (Found.PixelOffset < HeadersEnd) {
        return "pixel data at offset " + std::to_string(Found.PixelOffset) + ", inside the headers";
    }
    if (Found.PixelOffset >= FileSize) {
        return "pixel data at offset " + std::to_string(Found.PixelOffset) + ", past the end of a file of " +
               Bytes(FileSize);
    }
    const std::uint64_t Available = FileSize - Found.PixelOffset;
    if (Found.Compression == BmpRle8 || Found.Compression == BmpRle4) {
        // Encoded data cannot be measured before decoding; its stated size must at least be there.
        Found.PixelBytes = SizeImage != 0 ? SizeImage : Available;
        if (Found.PixelBytes < 2) return "no encoded pixel data";
    } else {
        // Each row is padded to a whole number of 32-bit words.
        const std::uint64_t Stride = (static_cast<std::uint64_t>(Width) * Found.BitCount + 31) / 32 * 4;
        Found.PixelBytes = Stride * static_cast<std::uint64_t>(Rows);
    }
    if (Found.PixelBytes > Available) {
        return "pixels cut short: " + Bytes(Found.PixelBytes) + " from offset " + std::to_string(Found.PixelOffset) +
               " for " + std::to_string(Width) + " x " + std::to_string(Rows) + " at " +
               std::to_string(Found.BitCount) + " bits, in a file of " + Bytes(FileSize);
    }
    Layout = Found;
    return {};
}

}  // namespace

bool CheckBmpHeader(std::span<const std::uint8_t> Head, std::uint64_t FileSize, BmpLayout& Layout, std::string& Why) {
    Why = WhyUnreadable(Head, FileSize, Layout);
    return Why.empty();
}

}  // namespace brakkenfel
