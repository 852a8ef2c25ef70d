// Loaded pictures and the loader seam: the core asks for a picture by path; the program installs
// the loader that reads the file, so the core builds and is tested without a picture library.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Gdi.h"

namespace brakkenfel {

/// A picture loaded from a file; it yields a bitmap that can be selected into a memory context.
class Picture {
public:
    /// A picture holding `bitmap`.
    explicit Picture(HBITMAP bitmap) : Bitmap(std::move(bitmap)) {}
    /// The picture's bitmap handle.
    const HBITMAP& Handle() const { return Bitmap; }

private:
    HBITMAP Bitmap;
};

/// Reads a picture file; fails with RuntimeError 53 or 481 naming the path.
using PictureLoader = std::function<std::shared_ptr<Picture>(const std::string& path)>;

/// Installs the loader LoadPicture uses; an empty loader restores the default, which loads nothing.
void SetPictureLoader(PictureLoader loader);
/// Loads the picture at `path` with the installed loader.
std::shared_ptr<Picture> LoadPicture(const std::string& path);

}  // namespace brakkenfel
