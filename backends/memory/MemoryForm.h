// A main window that lives in memory: the picture box is a plain bitmap and events are queued by
// the caller. Headless runs and tests use it in place of a real window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "display/frmMain.h"

namespace brakkenfel {

/// A FormWindow with no screen: a picture box bitmap of the stored layout's inner size.
class MemoryForm final : public FormWindow {
public:
    /// A hidden window with an empty label and the caption "Brakkenfel".
    MemoryForm();

    void Show() override { Shown = true; }
    void SetCaption(const std::string& text) override;
    std::string Caption() const override { return caption_; }
    void SetScaleModePixels() override { pixels_ = true; }
    double ScaleWidth() const override;
    double ScaleHeight() const override;
    HDC PictureBoxDC() override { return &pictureBox_; }
    std::string LabelCaption() const override { return label_; }
    void SetLabelCaption(const std::string& text) override;
    bool HasPendingEvents() override;
    void ProcessPendingEvents() override;

    /// Queues a close request, as a user clicking the close button would.
    void RequestClose() { closeQueued_ = true; }
    /// The picture box's pixels.
    const GdiBitmap& PictureBox() { return pictureBox_.Target(); }

    /// Polled for outside close requests (a stop signal, say): true closes the window as its button would.
    std::function<bool()> CloseRequested;
    /// Called with each new caption (headless runs print them).
    std::function<void(const std::string&)> OnCaption;
    /// True once Show has run.
    bool Shown = false;
    /// How many times the label's text was set.
    int LabelWrites = 0;

private:
    GdiDC pictureBox_;
    std::string caption_ = "Brakkenfel";
    std::string label_;
    bool pixels_ = false;
    bool closeQueued_ = false;
};

}  // namespace brakkenfel
