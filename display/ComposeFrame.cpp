// Frame composition: everything is drawn off-screen first so the picture box never shows a half frame.
#include "display/ComposeFrame.h"

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "display/AnalysisView.h"
#include "display/BackBuffer.h"
#include "display/TextFormat.h"
#include "display/frmMain.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

void ComposeFrame() {
    // A fresh brush per frame keeps the frame self-contained: nothing selected outlives it.
    HBRUSH brush = CreateSolidBrush(0);
    HBRUSH kept = SelectObject(BackDC.get(), brush);
    FillRect(BackDC.get(), BackRect, brush);
    SelectObject(BackDC.get(), kept);
    DeleteObject(brush);

    const bool analysis = AnalysisShown();
    if (analysis) {
        DrawOwnedBullets(BackDC.get());
    } else {
        DrawBullets(BackDC.get());
    }
    // The guns go on last so a bullet leaving a barrel never hides it; the Helicopter lies on top.
    Sprites->Draw(CannonIndex, BackDC.get());
    Sprites->Draw(HelicopterIndex, BackDC.get());
    if (analysis) DrawAimsAndHits(BackDC.get());

    BitBlt(frmMain->PictureBoxDC(), 0, 0, BackWidth, BackHeight, BackDC.get(), 0, 0, SRCCOPY);

    const std::string text = BulletCountText(CountBullets());
    // Setting the label repaints it; doing that only on a change keeps 30 frames a second cheap.
    if (frmMain->LabelCaption() != text) frmMain->SetLabelCaption(text);
}

}  // namespace brakkenfel
