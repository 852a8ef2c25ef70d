// The back buffer's lifetime: created once after the window is shown, deleted after the loop.
#include "display/BackBuffer.h"

namespace brakkenfel {

DCHandle BackDC;
HBITMAP BackBitmap;
RECT BackRect;
std::int32_t BackWidth = 0;
std::int32_t BackHeight = 0;

void CreateBackBuffer(HDC PictureBoxDC) {
    BackDC = CreateCompatibleDC(PictureBoxDC);
    // Compatible with the picture box, not with the new memory context, so it has the screen's format.
    BackBitmap = CreateCompatibleBitmap(PictureBoxDC, BackWidth, BackHeight);
    HBITMAP placeholder = SelectObject(BackDC.get(), BackBitmap);
    DeleteObject(placeholder);
    BackRect.right = BackWidth;
    BackRect.bottom = BackHeight;
}

void DestroyBackBuffer() {
    DeleteDC(BackDC);
    DeleteObject(BackBitmap);
}

}  // namespace brakkenfel
