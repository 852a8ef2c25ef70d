// Saving a bitmap as a 24-bit BMP file, for snapshots of the field.
#pragma once

#include <string>

#include "platform/Gdi.h"

namespace brakkenfel {

/// Writes `Bitmap` to `Path` as an uncompressed 24-bit bottom-up BMP; fails with error 75 when it cannot be written.
void SaveBmp(const GdiBitmap& Bitmap, const std::string& Path);

}  // namespace brakkenfel
