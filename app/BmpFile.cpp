// A 24-bit BMP encoder: the file header, the info header and rows padded to four bytes.
#include "app/BmpFile.h"

#include <cstdint>
#include <vector>

namespace brakkenfel {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFFu);
    Put16(out, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const GdiBitmap& Bitmap) {
    const auto width = static_cast<std::uint32_t>(Bitmap.Width());
    const auto height = static_cast<std::uint32_t>(Bitmap.Height());
    const std::uint32_t rowBytes = (width * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = rowBytes * height;
    constexpr std::uint32_t headerBytes = 14 + 40;

    std::vector<std::uint8_t> file;
    file.reserve(headerBytes + pixelBytes);
    file.push_back('B');
    file.push_back('M');
    Put32(file, headerBytes + pixelBytes);
    Put32(file, 0);
    Put32(file, headerBytes);
    Put32(file, 40);
    Put32(file, width);
    Put32(file, height);  // positive: bottom row first
    Put16(file, 1);
    Put16(file, 24);
    Put32(file, 0);  // no compression
    Put32(file, pixelBytes);
    Put32(file, 3780);  // 96 dpi in pixels per metre
    Put32(file, 3780);
    Put32(file, 0);
    Put32(file, 0);
    for (std::int32_t y = Bitmap.Height() - 1; y >= 0; --y) {
        const std::uint32_t* row = Bitmap.Row(y);
        for (std::uint32_t x = 0; x < width; ++x) {
            file.push_back(static_cast<std::uint8_t>(row[x]));        // blue
            file.push_back(static_cast<std::uint8_t>(row[x] >> 8));   // green
            file.push_back(static_cast<std::uint8_t>(row[x] >> 16));  // red
        }
        file.resize(file.size() + (rowBytes - width * 3), 0);
    }
    return file;
}

}  // namespace brakkenfel
