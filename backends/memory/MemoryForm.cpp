// The in-memory main window: caption, label and picture box without a screen.
#include "backends/memory/MemoryForm.h"

#include <memory>

#include "display/FormLayout.h"

namespace brakkenfel {

namespace {
// A form measures in twips until its picture box is switched to pixels.
constexpr double TwipsPerPixel = 15.0;
}  // namespace

MemoryForm::MemoryForm()
    : pictureBox_(std::make_shared<GdiBitmap>(FormLayout::PictureInnerWidth, FormLayout::PictureInnerHeight)) {}

void MemoryForm::SetCaption(const std::string& text) {
    caption_ = text;
    if (OnCaption) OnCaption(caption_);
}

double MemoryForm::ScaleWidth() const {
    return FormLayout::PictureInnerWidth * (pixels_ ? 1.0 : TwipsPerPixel);
}

double MemoryForm::ScaleHeight() const {
    return FormLayout::PictureInnerHeight * (pixels_ ? 1.0 : TwipsPerPixel);
}

void MemoryForm::SetLabelCaption(const std::string& text) {
    label_ = text;
    ++LabelWrites;
}

bool MemoryForm::HasPendingEvents() {
    if (CloseRequested && CloseRequested()) closeQueued_ = true;
    return closeQueued_;
}

void MemoryForm::ProcessPendingEvents() {
    if (!closeQueued_) return;
    closeQueued_ = false;
    std::int16_t cancel = 0;
    Form_Unload(cancel);
}

}  // namespace brakkenfel
