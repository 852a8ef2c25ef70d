// The main window object of the run and its unload handler.
#include "display/frmMain.h"

#include "app/modMain.h"

namespace brakkenfel {

std::shared_ptr<FormWindow> frmMain;

void Form_Unload(std::int16_t& Cancel) {
    // Cancel stays as the window system passed it: closing is never refused, only noted for the loop.
    static_cast<void>(Cancel);
    QuitRequested = -1;
}

}  // namespace brakkenfel
