// The main window object of the run and its unload handler.
#include "display/frmMain.h"

#include <utility>

#include "app/Workbench.h"
#include "app/modMain.h"
#include "display/FormLayout.h"

namespace brakkenfel {

std::shared_ptr<FormWindow> frmMain;

namespace {
// A form measures in twips until its picture box is switched to pixels.
constexpr double TwipsPerPixel = 15.0;
}  // namespace

void FormWindow::Show() { ShowWindow(); }

void FormWindow::SetCaption(const std::string& Text) {
    CaptionText = Text;
    CaptionChanged();
}

double FormWindow::ScaleWidth() const {
    return FormLayout::PictureInnerWidth * (Pixels ? 1.0 : TwipsPerPixel);
}

double FormWindow::ScaleHeight() const {
    return FormLayout::PictureInnerHeight * (Pixels ? 1.0 : TwipsPerPixel);
}

void FormWindow::SetLabelCaption(const std::string& Text) {
    std::string Previous = std::move(LabelText);
    LabelText = Text;
    LabelChanged(Previous);
}

bool FormWindow::Unload() {
    // A window system may follow one close with another (SDL sends SDL_QUIT after the last window's
    // close); the handler runs for the first only.
    if (IsUnloaded) return false;
    std::int16_t Cancel = 0;
    Form_Unload(Cancel);
    if (Cancel != 0) return false;
    IsUnloaded = true;
    return true;
}

void FormWindow::KeyCommand(WindowCommand Command) { ApplyCommand(Command); }

void FormWindow::KeysHeld(const KeyState& Keys) {
    // Taps add up until a move spends them; held keys are what they are now.
    Bench.Keys.Turn = Keys.Turn;
    Bench.Keys.Shoot = Keys.Shoot;
    Bench.Keys.TurnTapped = Bench.Keys.TurnTapped || Keys.TurnTapped;
    Bench.Keys.ShootTapped = Bench.Keys.ShootTapped || Keys.ShootTapped;
}

void Form_Unload(std::int16_t& Cancel) {
    // Cancel stays as the window system passed it: closing is never refused, only noted for the loop.
    static_cast<void>(Cancel);
    QuitRequested = -1;
}

}  // namespace brakkenfel
