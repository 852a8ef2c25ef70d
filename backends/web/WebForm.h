// The main window in a web page: the picture box is a bitmap the page copies to its canvas.
#pragma once

#include <string>

#include "display/frmMain.h"

namespace brakkenfel {

/// A FormWindow with no screen of its own: the page reads the picture box, the caption and the
/// label after each slice of the loop, and hands its keys in as commands.
class WebForm final : public FormWindow {
public:
    /// A hidden window with an empty label and the caption "Brakkenfel".
    WebForm();

    HDC PictureBoxDC() override { return &Box; }
    bool HasPendingEvents() override { return false; }
    void ProcessPendingEvents() override {}

    /// Carries out a key's command as the window's key handler does.
    void Press(WindowCommand Command) { KeyCommand(Command); }
    /// The picture box's pixels: what the window would show.
    const GdiBitmap& PictureBox() { return Box.Target(); }

private:
    void ShowWindow() override {}

    GdiDC Box;
};

}  // namespace brakkenfel
