// A main window that lives in memory: the picture box is a plain bitmap and events are queued by
// the caller. Headless runs and tests use it in place of a real window.
#pragma once

#include <functional>
#include <string>

#include "display/frmMain.h"

namespace brakkenfel {

/// A FormWindow with no screen: a picture box bitmap of the stored layout's inner size.
class MemoryForm final : public FormWindow {
public:
    /// A hidden window with an empty label and the caption "Brakkenfel".
    MemoryForm();

    HDC PictureBoxDC() override { return &Box; }
    bool HasPendingEvents() override;
    void ProcessPendingEvents() override;

    /// Queues a close request, as a user clicking the close button would.
    void RequestClose() { CloseQueued = true; }
    /// The picture box's pixels.
    const GdiBitmap& PictureBox() { return Box.Target(); }

    /// Polled for outside close requests (a stop signal, say): true closes the window as its button would.
    std::function<bool()> CloseRequested;
    /// Called with each new caption (headless runs print them).
    std::function<void(const std::string&)> OnCaption;
    /// True once Show has run.
    bool Shown = false;
    /// How many times the label's text was set.
    int LabelWrites = 0;

private:
    void ShowWindow() override { Shown = true; }
    void CaptionChanged() override;
    void LabelChanged(const std::string& Previous) override;

    GdiDC Box;
    bool CloseQueued = false;
};

}  // namespace brakkenfel
