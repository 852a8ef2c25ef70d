// The caption update: reads the scheduler's counts, shows them, and starts the next second's counts.
#include "display/UpdateCaption.h"

#include "app/modTicks.h"
#include "display/TextFormat.h"
#include "display/frmMain.h"

namespace brakkenfel {

void UpdateCaption() {
    const std::int32_t seconds = TickCount(TickSecond);
    const std::int32_t frames = TickCount(TickFrame);
    const std::int32_t moves = TickCount(TickMove);
    frmMain->SetCaption(CaptionText(frames, moves, seconds));
    ResetTickCount(TickFrame);
    ResetTickCount(TickMove);
}

}  // namespace brakkenfel
