// Frame composition: everything is drawn off-screen first so the picture box never shows a half frame.
#include "display/ComposeFrame.h"

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "display/AnalysisView.h"
#include "display/BackBuffer.h"
#include "display/TextFormat.h"
#include "display/Panel.h"
#include "display/frmMain.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

void ComposeFrame() {
    // Nobody sees a hidden window: its last frame stays the one shown, at no cost.
    if (frmMain->Hidden()) return;
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
    if (analysis) {
        DrawTurnedGuns(BackDC.get());
        DrawAimsAndHits(BackDC.get());
    } else {
        Sprites->Draw(CannonIndex, BackDC.get());
        Sprites->Draw(HelicopterIndex, BackDC.get());
    }

    BitBlt(frmMain->PictureBoxDC(), 0, 0, BackWidth, BackHeight, BackDC.get(), 0, 0, SRCCOPY);

    const std::string text = BulletCountText(CountBullets());
    // Setting the label repaints it; doing that only on a change keeps 30 frames a second cheap.
    if (frmMain->LabelCaption() != text) frmMain->SetLabelCaption(text);

    if (analysis) {
        const std::vector<PanelLine> lines = PanelLines(GatherPanelFacts());
        frmMain->ShowPanel(&lines);
    } else {
        frmMain->ShowPanel(nullptr);
    }
}

}  // namespace brakkenfel
