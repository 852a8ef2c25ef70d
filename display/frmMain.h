// The main window as the game sees it: caption, picture box, label, pending events and unload.
//
// Backends (a real SDL window, an in-memory window for headless runs and tests) implement
// FormWindow; the game never sees what stands behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/Panel.h"

#include "display/WindowInput.h"
#include "platform/Gdi.h"

namespace brakkenfel {

/// The main window with its picture box `BackBuffer` and label `lblBulletCount`. The form's own
/// rules live here once: the caption and label texts, the picture box's scale, unloading. A
/// backend's window adds only what differs: showing, where pixels go, painting, pumping events.
class FormWindow {
public:
    virtual ~FormWindow() = default;
    /// Shows the window, not modal.
    void Show();
    /// Sets the window caption.
    void SetCaption(const std::string& Text);
    /// The window caption ("Brakkenfel" until first set).
    const std::string& Caption() const { return CaptionText; }
    /// Switches the picture box's inner coordinates from twips to pixels (ScaleMode 3).
    void SetScaleModePixels() { Pixels = true; }
    /// The picture box's inner width in its scale units.
    double ScaleWidth() const;
    /// The picture box's inner height in its scale units.
    double ScaleHeight() const;
    /// The picture box's current device context; a block transfer to it shows in the window.
    virtual HDC PictureBoxDC() = 0;
    /// The label's text.
    const std::string& LabelCaption() const { return LabelText; }
    /// Sets the label's text; the label sizes itself to it.
    void SetLabelCaption(const std::string& Text);
    /// True when input or other events wait to be processed.
    virtual bool HasPendingEvents() = 0;
    /// Dispatches every pending event to the window's handlers (a close runs Form_Unload).
    virtual void ProcessPendingEvents() = 0;
    /// Shows the analysis view's side panel with `Lines`, or (null) takes it away; called every frame.
    virtual void ShowPanel(const std::vector<PanelLine>* Lines) { static_cast<void>(Lines); }
    /// True while nobody can see the window (minimized, unmapped): frames need not be composed.
    virtual bool Hidden() const { return false; }
    /// True once the window has unloaded: its handler ran and did not cancel.
    bool Unloaded() const { return IsUnloaded; }

protected:
    /// A close request: runs Form_Unload once; true when the window unloaded just now.
    bool Unload();
    /// A key's command, carried out by the run's workbench (a jump waits for the main loop).
    void KeyCommand(WindowCommand Command);
    /// The keys held down now, read by the player at the keys on its next move.
    void KeysHeld(const KeyState& Keys);
    /// Makes the window visible.
    virtual void ShowWindow() = 0;
    /// The caption's text changed.
    virtual void CaptionChanged() {}
    /// The label's text changed; `Previous` is the text it replaced.
    virtual void LabelChanged(const std::string& Previous) { static_cast<void>(Previous); }

private:
    std::string CaptionText = "Brakkenfel";
    std::string LabelText;
    bool Pixels = false;
    bool IsUnloaded = false;
};

/// The main window of the run; set up by start-up, dropped at tear-down.
extern std::shared_ptr<FormWindow> frmMain;

/// The window's unload handler: asks the main loop to stop. Leaves `Cancel` alone, so the window closes.
void Form_Unload(std::int16_t& Cancel);

}  // namespace brakkenfel
