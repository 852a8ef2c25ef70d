// Reading Windows bitmap files with SDL into our own 32-bit bitmaps.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Picture.h"

namespace brakkenfel {

/// Reads the bitmap file at `path`, converted once to 0x00RRGGBB pixels. Fails with error 53
/// when the file cannot be opened and 481 when it is not a usable bitmap, each naming the path.
std::shared_ptr<Picture> LoadPictureFromFile(const std::string& path);

/// Reads a bitmap file held in memory the way LoadPictureFromFile reads one from disk; `name`
/// stands for the path in the errors (error 481 when the bytes are not a usable bitmap).
std::shared_ptr<Picture> LoadPictureFromMemory(const void* bytes, std::size_t size, const std::string& name);

/// LoadPictureFromFile as a loader for SetPictureLoader.
PictureLoader SdlPictureLoader();

}  // namespace brakkenfel
