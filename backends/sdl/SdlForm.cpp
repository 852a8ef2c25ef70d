// The SDL2 main window: layout, sunken picture box, label rendering, presenting and event dispatch.
#include "backends/sdl/SdlForm.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "backends/sdl/SdlPaint.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"
#include "backends/sdl/SdlApp.h"
#include "backends/sdl/SdlX11.h"

namespace brakkenfel {

namespace {

using namespace FormLayout;

constexpr int BoxLeft = PictureLeft;
constexpr int BoxTop = PictureTop;
constexpr int BoxWidth = PictureOuterWidth;
constexpr int BoxHeight = PictureOuterHeight;
constexpr int InnerLeft = PictureLeft + PictureBorder;
constexpr int InnerTop = PictureTop + PictureBorder;
constexpr int InnerWidth = PictureInnerWidth;
constexpr int InnerHeight = PictureInnerHeight;
constexpr std::uint32_t Background = FormBackground;

// The classic sunken edge: shadow and dark shadow above and left, highlight and light below and right.
constexpr std::uint32_t EdgeShadow = 0xA0A0A0;
constexpr std::uint32_t EdgeDarkShadow = 0x696969;
constexpr std::uint32_t EdgeLight = 0xE3E3E3;
constexpr std::uint32_t EdgeHighlight = 0xFFFFFF;
constexpr std::uint32_t BoxBackground = 0x000000;

// The analysis view's side panel: right of the picture box, as high as the window's margins allow.
constexpr int PanelLeft = PictureLeft + PictureOuterWidth + 8;
constexpr int PanelTop = PictureTop;
constexpr int PanelWidth = ClientWidth - 8 - PanelLeft;
constexpr int PanelHeight = ClientHeight - 8 - PanelTop;
constexpr int PanelPad = 6;
constexpr std::uint32_t PanelGround = 0x202020;

// COLORREF (0x00BBGGRR) as the window's colours are spelled (0xRRGGBB).
constexpr std::uint32_t RgbOf(COLORREF Color) {
    return ((Color & 0xFFu) << 16) | (Color & 0xFF00u) | ((Color >> 16) & 0xFFu);
}

// The window's key bindings; the rules behind each command live in the core.
std::optional<WindowCommand> CommandOf(SDL_Keycode key) {
    switch (key) {
    case SDLK_p: return WindowCommand::Pause;
    case SDLK_PERIOD:
    case SDLK_KP_PERIOD: return WindowCommand::Step;
    case SDLK_PLUS:
    case SDLK_EQUALS:  // the plus key without its shift
    case SDLK_KP_PLUS: return WindowCommand::Faster;
    case SDLK_MINUS:
    case SDLK_KP_MINUS: return WindowCommand::Slower;
    case SDLK_0:
    case SDLK_KP_0: return WindowCommand::NormalRate;
    case SDLK_PAGEDOWN: return WindowCommand::JumpForward;
    case SDLK_PAGEUP: return WindowCommand::JumpBack;
    case SDLK_HOME: return WindowCommand::JumpToStart;
    case SDLK_v: return WindowCommand::ToggleView;
    default: return std::nullopt;
    }
}

[[noreturn]] void WindowFailure(const char* what) {
    throw RuntimeError(ErrInvalidProcedure, std::string(what) + ": " + SdlFailureReason());
}

}  // namespace

SdlForm::SdlForm(SurfaceMode mode, int scale) : Mode(mode) {
    Font = std::make_unique<SdlText>("Tahoma:bold", 12.0, 96.0);
    // The form's own font, which the panel's many short lines need more than the label's size.
    PanelFont = std::make_unique<SdlText>("Tahoma", 8.25, 96.0);
    scale = std::clamp(scale, 1, 8);
    // Resizable, never smaller than the layout: a larger window draws at the largest whole factor.
    Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE;
    // On a Wayland output of scale 2 the window's surface then has twice the pixels, which Attach
    // fills at twice the factor, instead of the compositor enlarging (and blurring) a small one.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver != nullptr && std::string_view(driver) == "wayland") flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    SdlWindow = SDL_CreateWindow(Caption().c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                 ClientWidth * scale, ClientHeight * scale, flags);
    if (SdlWindow == nullptr) WindowFailure("cannot create the window");
    SDL_SetWindowMinimumSize(SdlWindow, ClientWidth, ClientHeight);
    try {
        Attach();
    } catch (...) {
        SDL_DestroyWindow(SdlWindow);
        throw;
    }
}

SdlForm::~SdlForm() {
    // The picture box's bitmap views the window's pixels, so it goes before the window does.
    PictureDC.reset();
    PictureBitmap.reset();
    Shadow.reset();
    SDL_DestroyWindow(SdlWindow);
}

void SdlForm::Attach() {
    SDL_Surface* surface = SDL_GetWindowSurface(SdlWindow);
    if (surface == nullptr) WindowFailure("cannot draw in the window");
    // Drawing straight into the surface saves a copy per frame, but only when the pixels are laid out as
    // ours are and the whole layout fits; otherwise draw in an own copy and convert when presenting.
    Place = PlaceScaled(ClientWidth, ClientHeight, surface->w, surface->h);
    Big.reset();
    // Only a window of exactly the layout's size is drawn in directly; any other size is a copy
    // placed (and perhaps enlarged) in it.
    const bool direct = Mode == SurfaceMode::Auto && surface->format->format == SDL_PIXELFORMAT_RGB888 &&
                        !SDL_MUSTLOCK(surface) && surface->w == ClientWidth && surface->h == ClientHeight;
    if (direct) {
        Shadow.reset();
        Surface = surface;
        PaintChrome();
    } else if (!Shadow) {
        Shadow.reset(SDL_CreateRGBSurfaceWithFormat(0, ClientWidth, ClientHeight, 32, SDL_PIXELFORMAT_RGB888));
        if (!Shadow) WindowFailure("cannot draw in the window");
        Surface = Shadow.get();
        PaintChrome();
    }
    auto* inner = reinterpret_cast<std::uint32_t*>(static_cast<Uint8*>(Surface->pixels) +
                                                   InnerTop * Surface->pitch) + InnerLeft;
    const std::int32_t pitch = Surface->pitch / 4;
    if (PictureBitmap) {
        PictureBitmap->Retarget(inner, pitch);
    } else {
        PictureBitmap = std::make_shared<GdiBitmap>(inner, InnerWidth, InnerHeight, pitch);
        PictureDC = std::make_unique<GdiDC>(PictureBitmap);
    }
    AllDirty = true;
}

void SdlForm::PaintChrome() {
    Fill(Surface, SDL_Rect{0, 0, ClientWidth, ClientHeight}, Background);
    const int right = BoxLeft + BoxWidth - 1;
    const int bottom = BoxTop + BoxHeight - 1;
    Fill(Surface, SDL_Rect{BoxLeft, BoxTop, BoxWidth - 1, 1}, EdgeShadow);
    Fill(Surface, SDL_Rect{BoxLeft, BoxTop, 1, BoxHeight - 1}, EdgeShadow);
    Fill(Surface, SDL_Rect{BoxLeft + 1, BoxTop + 1, BoxWidth - 3, 1}, EdgeDarkShadow);
    Fill(Surface, SDL_Rect{BoxLeft + 1, BoxTop + 1, 1, BoxHeight - 3}, EdgeDarkShadow);
    Fill(Surface, SDL_Rect{BoxLeft + 1, bottom - 1, BoxWidth - 2, 1}, EdgeLight);
    Fill(Surface, SDL_Rect{right - 1, BoxTop + 1, 1, BoxHeight - 2}, EdgeLight);
    Fill(Surface, SDL_Rect{BoxLeft, bottom, BoxWidth, 1}, EdgeHighlight);
    Fill(Surface, SDL_Rect{right, BoxTop, 1, BoxHeight}, EdgeHighlight);
    Fill(Surface, SDL_Rect{InnerLeft, InnerTop, InnerWidth, InnerHeight}, BoxBackground);
    PaintLabel(0);
    // The panel is painted afresh by the next frame that shows it.
    PanelOn = false;
    PanelShown.clear();
}

void SdlForm::ShowPanel(const std::vector<PanelLine>* Lines) {
    if (Lines == nullptr) {
        if (!PanelOn) return;
        PanelOn = false;
        PanelShown.clear();
        Fill(Surface, SDL_Rect{PanelLeft, PanelTop, PanelWidth, PanelHeight}, Background);
        MarkDirty(SDL_Rect{PanelLeft, PanelTop, PanelWidth, PanelHeight});
        return;
    }
    if (!PanelOn) {
        PanelOn = true;
        PanelShown.clear();
        Fill(Surface, SDL_Rect{PanelLeft, PanelTop, PanelWidth, PanelHeight}, PanelGround);
        MarkDirty(SDL_Rect{PanelLeft, PanelTop, PanelWidth, PanelHeight});
    }
    // Rendering text is the panel's cost: a line is rendered only when it changed.
    const std::size_t count = std::max(Lines->size(), PanelShown.size());
    PanelShown.resize(count);
    bool changed = false;
    for (std::size_t i = 0; i < count; ++i) {
        const PanelLine line = i < Lines->size() ? (*Lines)[i] : PanelLine{};
        if (line.Text == PanelShown[i].Text && line.Color == PanelShown[i].Color) continue;
        changed = true;
        PaintPanelLine(i, line);
        PanelShown[i] = line;
    }
    if (changed) {
        std::string text;
        for (const PanelLine& line : *Lines) text += line.Text + "\n";
        SetX11Text(SdlWindow, "_BRAKKENFEL_PANEL", text);
    }
    PanelShown.resize(Lines->size());
}

void SdlForm::PaintPanelLine(std::size_t index, const PanelLine& line) {
    const int height = PanelFont->Height();
    const int top = PanelTop + PanelPad + static_cast<int>(index) * height;
    if (top + height > PanelTop + PanelHeight - PanelPad) return;  // what does not fit is left out
    const SDL_Rect area{PanelLeft + PanelPad, top, PanelWidth - 2 * PanelPad, height};
    Fill(Surface, area, PanelGround);
    SurfacePtr text = PanelFont->Render(line.Text, ToColor(RgbOf(line.Color)), ToColor(PanelGround));
    if (text) {
        SDL_Rect source{0, 0, std::min(text->w, area.w), std::min(text->h, area.h)};
        SDL_Rect target{area.x, area.y, source.w, source.h};
        SDL_BlitSurface(text.get(), &source, Surface, &target);
    }
    MarkDirty(area);
}

void SdlForm::PaintLabel(int clearWidth) {
    const int room = ClientWidth - LabelLeft;
    const int width = std::min(std::max(clearWidth, LabelPixels), room);
    Fill(Surface, SDL_Rect{LabelLeft, LabelTop, width, LabelHeight}, Background);
    SurfacePtr line = Font->Render(LabelCaption(), ToColor(0x000000), ToColor(Background));
    if (line) {
        SDL_Rect source{0, 0, std::min(line->w, room), std::min(line->h, LabelHeight)};
        SDL_Rect target{LabelLeft, LabelTop, source.w, source.h};
        SDL_BlitSurface(line.get(), &source, Surface, &target);
        ++LabelRenderCount;
    }
    MarkDirty(SDL_Rect{LabelLeft, LabelTop, width, LabelHeight});
}

void SdlForm::MarkDirty(const SDL_Rect& rect) {
    if (rect.w > 0 && rect.h > 0) DirtyRects.push_back(rect);
}

void SdlForm::CopyOut(SDL_Surface* target, const SDL_Rect& rect) {
    const int f = Place.Factor;
    SDL_Rect to{Place.Origin.x + rect.x * f, Place.Origin.y + rect.y * f, rect.w * f, rect.h * f};
    if (f == 1) {
        SDL_Rect from = rect;
        SDL_BlitSurface(Shadow.get(), &from, target, &to);
    } else if (target->format->format == SDL_PIXELFORMAT_RGB888 && !SDL_MUSTLOCK(target)) {
        to = CopyScaled(Shadow.get(), rect, target, Place);
    } else {
        // Enlarged in our own pixels first, then converted by SDL's plain copy.
        if (!Big) {
            Big.reset(SDL_CreateRGBSurfaceWithFormat(0, ClientWidth * f, ClientHeight * f, 32, SDL_PIXELFORMAT_RGB888));
            if (!Big) return;
        }
        SDL_Rect inBig = CopyScaled(Shadow.get(), rect, Big.get(), ScaledPlace{f, {0, 0}});
        SDL_BlitSurface(Big.get(), &inBig, target, &to);
    }
    Scratch.push_back(to);
}

void SdlForm::Present() {
    // A hidden window keeps what waits to be shown until it is seen again.
    if (Minimized || (!AllDirty && DirtyRects.empty())) return;
    Scratch.clear();
    if (Shadow) {
        SDL_Surface* target = SDL_GetWindowSurface(SdlWindow);
        if (target != nullptr) {
            if (AllDirty) {
                // The margins round a placed picture are the window's background.
                if (target->w != ClientWidth || target->h != ClientHeight) {
                    Fill(target, SDL_Rect{0, 0, target->w, target->h}, Background);
                }
                CopyOut(target, SDL_Rect{0, 0, ClientWidth, ClientHeight});
            } else {
                for (const SDL_Rect& rect : DirtyRects) CopyOut(target, rect);
            }
        }
    } else {
        Scratch = DirtyRects;
    }
    if (AllDirty) {
        SDL_UpdateWindowSurface(SdlWindow);
    } else if (!Scratch.empty()) {
        SDL_UpdateWindowSurfaceRects(SdlWindow, Scratch.data(), static_cast<int>(Scratch.size()));
    }
    AllDirty = false;
    DirtyRects.clear();
}

void SdlForm::ShowWindow() {
    SDL_ShowWindow(SdlWindow);
    AllDirty = true;
    Present();
}

void SdlForm::CaptionChanged() { SDL_SetWindowTitle(SdlWindow, Caption().c_str()); }

HDC SdlForm::PictureBoxDC() {
    // Whoever asks for the context draws into it; show that area when the pass ends.
    MarkDirty(SDL_Rect{InnerLeft, InnerTop, InnerWidth, InnerHeight});
    return PictureDC.get();
}

void SdlForm::LabelChanged(const std::string& Previous) {
    static_cast<void>(Previous);
    const int oldWidth = LabelPixels;
    LabelPixels = Font->Width(LabelCaption());
    PaintLabel(oldWidth);
}

bool SdlForm::HasPendingEvents() {
    Present();
    SDL_PumpEvents();
    return SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE || StopSignalPending();
}

void SdlForm::ProcessPendingEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) Dispatch(event);
    // Read once the queue is drained, so a press and release between two passes leave nothing held.
    const Uint8* held = SDL_GetKeyboardState(nullptr);
    KeysHeld(KeyState{held[SDL_SCANCODE_RIGHT] != 0 || held[SDL_SCANCODE_UP] != 0, held[SDL_SCANCODE_SPACE] != 0,
                      Taps.TurnTapped, Taps.ShootTapped});
    Taps = {};
    if (TakeStopSignal()) Close();
    Present();
}

void SdlForm::Dispatch(const SDL_Event& event) {
    if (event.type == SDL_QUIT) {
        Close();
        return;
    }
    if (event.type == SDL_KEYDOWN && event.key.repeat == 0 && event.key.windowID == SDL_GetWindowID(SdlWindow)) {
        const SDL_Scancode code = event.key.keysym.scancode;
        if (code == SDL_SCANCODE_RIGHT || code == SDL_SCANCODE_UP) Taps.TurnTapped = true;
        if (code == SDL_SCANCODE_SPACE) Taps.ShootTapped = true;
        if (event.key.keysym.sym == SDLK_ESCAPE) {
            Close();
        } else if (const auto command = CommandOf(event.key.keysym.sym)) {
            KeyCommand(*command);
        }
        return;
    }
    if (event.type != SDL_WINDOWEVENT || event.window.windowID != SDL_GetWindowID(SdlWindow)) return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE: Close(); break;
    case SDL_WINDOWEVENT_EXPOSED: AllDirty = true; break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: Attach(); break;
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_HIDDEN: Minimized = true; break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_SHOWN:
        Minimized = false;
        AllDirty = true;
        break;
    default: break;
    }
}

void SdlForm::Close() {
    if (Unload()) SDL_HideWindow(SdlWindow);
}

std::shared_ptr<FormWindow> CreateSdlForm(int scale) { return std::make_shared<SdlForm>(SurfaceMode::Auto, scale); }

}  // namespace brakkenfel
