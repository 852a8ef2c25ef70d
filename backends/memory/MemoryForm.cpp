// The in-memory main window: a picture box bitmap, captions handed on, close requests queued.
#include "backends/memory/MemoryForm.h"

#include <memory>

#include "display/FormLayout.h"

namespace brakkenfel {

MemoryForm::MemoryForm()
    : Box(std::make_shared<GdiBitmap>(FormLayout::PictureInnerWidth, FormLayout::PictureInnerHeight)) {}

void MemoryForm::CaptionChanged() {
    if (OnCaption) OnCaption(Caption());
}

void MemoryForm::LabelChanged(const std::string& Previous) {
    static_cast<void>(Previous);
    ++LabelWrites;
}

bool MemoryForm::HasPendingEvents() {
    if (CloseRequested && CloseRequested()) CloseQueued = true;
    return CloseQueued;
}

void MemoryForm::ProcessPendingEvents() {
    if (!CloseQueued) return;
    CloseQueued = false;
    Unload();
}

}  // namespace brakkenfel
