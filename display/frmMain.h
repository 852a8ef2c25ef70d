// The main window as the game sees it: caption, picture box, label, pending events and unload.
//
// Backends (a real SDL window, an in-memory window for headless runs and tests) implement
// FormWindow; the game never sees what stands behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Gdi.h"

namespace brakkenfel {

/// The main window with its picture box `BackBuffer` and label `lblBulletCount`.
class FormWindow {
public:
    virtual ~FormWindow() = default;
    /// Shows the window, not modal.
    virtual void Show() = 0;
    /// Sets the window caption.
    virtual void SetCaption(const std::string& text) = 0;
    /// The window caption.
    virtual std::string Caption() const = 0;
    /// Switches the picture box's inner coordinates to pixels (ScaleMode 3).
    virtual void SetScaleModePixels() = 0;
    /// The picture box's inner width in its scale units.
    virtual double ScaleWidth() const = 0;
    /// The picture box's inner height in its scale units.
    virtual double ScaleHeight() const = 0;
    /// The picture box's current device context; a block transfer to it shows in the window.
    virtual HDC PictureBoxDC() = 0;
    /// The label's text.
    virtual std::string LabelCaption() const = 0;
    /// Sets the label's text; the label sizes itself to it.
    virtual void SetLabelCaption(const std::string& text) = 0;
    /// True when input or other events wait to be processed.
    virtual bool HasPendingEvents() = 0;
    /// Dispatches every pending event to the window's handlers (a close runs Form_Unload).
    virtual void ProcessPendingEvents() = 0;
};

/// The main window of the run; set up by start-up, dropped at tear-down.
extern std::shared_ptr<FormWindow> frmMain;

/// The window's unload handler: asks the main loop to stop. Leaves `Cancel` alone, so the window closes.
void Form_Unload(std::int16_t& Cancel);

}  // namespace brakkenfel
