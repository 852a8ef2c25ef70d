// The main window on SDL2: caption, a sunken picture box drawn into the window surface, a text label.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/FormLayout.h"
#include "display/frmMain.h"
#include "backends/sdl/SdlScale.h"
#include "backends/sdl/SdlText.h"

namespace brakkenfel {

/// The window's background, also the label's (0xRRGGBB).
inline constexpr std::uint32_t FormBackground = 0xF0F0F0;

/// How the window surface is drawn on.
enum class SurfaceMode {
    Auto,    ///< straight into the window surface when its pixels are 32-bit XRGB, else through a copy
    Shadow,  ///< always through an own XRGB copy blitted to the window surface when presented
};

/// frmMain as an SDL2 window. Drawing lands in the window surface and is shown at the end of the
/// loop's pass, when the event queue is next looked at (as Xlib flushes its output on XPending).
class SdlForm final : public FormWindow {
public:
    /// Creates the window hidden, `scale` times the layout's size (1 to 8), with caption
    /// "Brakkenfel" and an empty label; fails with RuntimeError.
    explicit SdlForm(SurfaceMode mode = SurfaceMode::Auto, int scale = 1);
    ~SdlForm() override;
    SdlForm(const SdlForm&) = delete;
    SdlForm& operator=(const SdlForm&) = delete;

    /// The picture box's context; whatever is drawn into it is shown at the end of the pass.
    HDC PictureBoxDC() override;
    /// Shows pending drawing, pumps SDL's events and tells whether any (or a stop signal) waits.
    bool HasPendingEvents() override;
    /// Dispatches every queued event: a close request or a stop signal runs Form_Unload once.
    void ProcessPendingEvents() override;
    /// Paints the side panel right of the field, only the lines that changed; null clears it.
    void ShowPanel(const std::vector<PanelLine>* Lines) override;
    /// True while minimized or unmapped: nothing is composed or presented.
    bool Hidden() const override { return Minimized; }
    /// The whole factor the client area is drawn at now, and where it sits in the window.
    const ScaledPlace& Placement() const { return Place; }

    /// The SDL window.
    SDL_Window* Window() const { return SdlWindow; }
    /// The client area as drawn so far (not necessarily shown yet), XRGB pixels.
    const SDL_Surface* Canvas() const { return Surface; }
    /// The label's current width in pixels.
    int LabelWidth() const { return LabelPixels; }
    /// How many times label text has been rendered.
    int LabelRenders() const { return LabelRenderCount; }

private:
    void ShowWindow() override;
    void CaptionChanged() override;
    /// Sizes the label to its new text and renders it; the only time text is rendered.
    void LabelChanged(const std::string& Previous) override;
    void Attach();
    void PaintChrome();
    void PaintLabel(int clearWidth);
    void MarkDirty(const SDL_Rect& rect);
    void Present();
    void Dispatch(const SDL_Event& event);
    void Close();
    void PaintPanelLine(std::size_t index, const PanelLine& line);
    void CopyOut(SDL_Surface* target, const SDL_Rect& rect);

    SurfaceMode Mode;
    SDL_Window* SdlWindow = nullptr;
    SDL_Surface* Surface = nullptr;  // the window surface itself, or Shadow
    SurfacePtr Shadow;
    HBITMAP PictureBitmap;
    DCHandle PictureDC;
    std::unique_ptr<SdlText> Font;
    int LabelPixels = 0;
    int LabelRenderCount = 0;
    bool AllDirty = false;
    std::vector<SDL_Rect> DirtyRects;
    ScaledPlace Place;
    SurfacePtr Big;  // the enlarged picture, for a window surface whose pixels are not XRGB
    bool Minimized = false;
    std::unique_ptr<SdlText> PanelFont;
    bool PanelOn = false;
    std::vector<PanelLine> PanelShown;
    std::vector<SDL_Rect> Scratch;
    KeyState Taps;  // presses seen in this pass's events
};

/// A new SDL main window `scale` times the layout's size, for ContestHost::CreateMainWindow.
std::shared_ptr<FormWindow> CreateSdlForm(int scale = 1);

}  // namespace brakkenfel
