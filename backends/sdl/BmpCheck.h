// Checking a bitmap file's headers against the file's real size before any pixels are allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace brakkenfel {

/// How many leading bytes of a file CheckBmpHeader needs: the file header and the largest info header.
inline constexpr std::size_t BmpHeadBytes = 14 + 124;
/// The widest and tallest picture accepted, in pixels.
inline constexpr std::int64_t MaxPictureSide = 16384;
/// The most pixels a picture may have: 64 MB once held as 32-bit pixels.
inline constexpr std::int64_t MaxPicturePixels = 16 * 1024 * 1024;

/// Compression codes of a bitmap's info header.
enum BmpCompression : std::uint32_t {
    BmpRgb = 0,        ///< uncompressed
    BmpRle8 = 1,       ///< run-length encoded, 8 bits per pixel
    BmpRle4 = 2,       ///< run-length encoded, 4 bits per pixel
    BmpBitfields = 3,  ///< uncompressed with colour masks, 16 or 32 bits per pixel
};

/// What a bitmap file's headers describe, once they passed the check.
struct BmpLayout {
    std::int32_t Width = 0;          ///< columns
    std::int32_t Height = 0;         ///< rows, always positive
    bool TopDown = false;            ///< rows stored top row first (a negative height in the file)
    std::uint16_t BitCount = 0;      ///< bits per pixel: 1, 4, 8, 16, 24 or 32
    std::uint32_t Compression = 0;   ///< one of BmpCompression
    std::uint32_t InfoSize = 0;      ///< size of the info header: 12, 40, 52, 56, 108 or 124
    std::uint32_t PixelOffset = 0;   ///< where the pixel data starts in the file
    std::uint64_t PixelBytes = 0;    ///< bytes of pixel data the headers promise from PixelOffset
};

/// Checks the headers of a bitmap file of `FileSize` bytes whose first bytes are `Head` (at least
/// min(BmpHeadBytes, FileSize) of them). True, with `Layout` filled, when the file is a bitmap this
/// program reads and every byte it promises lies inside the file; otherwise false with `Why`.
bool CheckBmpHeader(std::span<const std::uint8_t> Head, std::uint64_t FileSize, BmpLayout& Layout, std::string& Why);

}  // namespace brakkenfel
