// The off-screen back buffer every frame is composed in, and the field size it fixes.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace brakkenfel {

/// Memory device context holding the back buffer's bitmap.
extern DCHandle BackDC;
/// The back buffer's bitmap, BackWidth x BackHeight, selected into BackDC for the whole run.
extern HBITMAP BackBitmap;
/// The whole back buffer: (0, 0) to (BackWidth, BackHeight); cleared every frame.
extern RECT BackRect;
/// The field's width in pixels, read once at start-up from the picture box.
extern std::int32_t BackWidth;
/// The field's height in pixels, read once at start-up from the picture box.
extern std::int32_t BackHeight;

/// Creates BackDC and BackBitmap compatible with `PictureBoxDC`, BackWidth x BackHeight.
void CreateBackBuffer(HDC PictureBoxDC);
/// Deletes BackDC, then BackBitmap.
void DestroyBackBuffer();

}  // namespace brakkenfel
