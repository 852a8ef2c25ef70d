// A bitmap as the bytes of a 24-bit BMP file, for snapshots of the field.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Gdi.h"

namespace brakkenfel {

/// `Bitmap` as the bytes of an uncompressed 24-bit bottom-up BMP file.
std::vector<std::uint8_t> EncodeBmp(const GdiBitmap& Bitmap);

}  // namespace brakkenfel
