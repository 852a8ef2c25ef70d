// Pictures in a web page: the guns' strip decoded from the bytes the page fetched, with no picture library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Picture.h"

namespace brakkenfel {

/// Decodes an uncompressed 24- or 32-bit bitmap file (the kind assets/cannon.bmp is) into our
/// pixels, as the window's loader does: the fourth byte of a 32-bit pixel is not transparency.
/// Anything else, or a file whose headers promise bytes it does not hold, fails with
/// RuntimeError 481 naming `Name`.
std::shared_ptr<Picture> DecodeSimpleBmp(const std::vector<std::uint8_t>& Bytes, const std::string& Name);

/// A loader that answers every path with the picture decoded from `Bytes`: a page has one strip.
PictureLoader WebPictureLoader(std::vector<std::uint8_t> Bytes);

}  // namespace brakkenfel
