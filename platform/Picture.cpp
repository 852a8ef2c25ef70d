// The picture loader seam: LoadPicture goes through whichever loader the program installed.
#include "platform/Picture.h"

#include <utility>

#include "platform/Errors.h"

namespace brakkenfel {

namespace {

/// The installed loader; empty until the program installs one.
PictureLoader& InstalledLoader() {
    static PictureLoader Loader;
    return Loader;
}

}  // namespace

void SetPictureLoader(PictureLoader loader) { InstalledLoader() = std::move(loader); }

std::shared_ptr<Picture> LoadPicture(const std::string& path) {
    const PictureLoader& Loader = InstalledLoader();
    if (!Loader) {
        throw RuntimeError(ErrInvalidPicture, path + " (no picture loader is installed)");
    }
    std::shared_ptr<Picture> Loaded = Loader(path);
    // A loader that hands back nothing would otherwise surface later as a sprite without a picture.
    if (!Loaded || !Loaded->Handle()) {
        throw RuntimeError(ErrInvalidPicture, path);
    }
    return Loaded;
}

}  // namespace brakkenfel
