// The SDL2 main window: layout, sunken picture box, label rendering, presenting and event dispatch.
#include "backends/sdl/SdlForm.h"

#include <algorithm>
#include <optional>

#include "backends/sdl/SdlPaint.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"
#include "backends/sdl/SdlApp.h"

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

SdlForm::SdlForm(SurfaceMode mode) : Mode(mode) {
    Font = std::make_unique<SdlText>("Tahoma:bold", 12.0, 96.0);
    SdlWindow = SDL_CreateWindow(Caption().c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                               ClientWidth, ClientHeight, SDL_WINDOW_HIDDEN);
    if (SdlWindow == nullptr) WindowFailure("cannot create the window");
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
    const bool direct = Mode == SurfaceMode::Auto && surface->format->format == SDL_PIXELFORMAT_RGB888 &&
                        !SDL_MUSTLOCK(surface) && surface->w >= ClientWidth && surface->h >= ClientHeight;
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

void SdlForm::Present() {
    if (!AllDirty && DirtyRects.empty()) return;
    if (Shadow) {
        SDL_Surface* target = SDL_GetWindowSurface(SdlWindow);
        if (target != nullptr) {
            if (AllDirty) {
                SDL_BlitSurface(Shadow.get(), nullptr, target, nullptr);
            } else {
                for (SDL_Rect rect : DirtyRects) {
                    SDL_Rect to = rect;
                    SDL_BlitSurface(Shadow.get(), &rect, target, &to);
                }
            }
        }
    }
    if (AllDirty) {
        SDL_UpdateWindowSurface(SdlWindow);
    } else {
        SDL_UpdateWindowSurfaceRects(SdlWindow, DirtyRects.data(), static_cast<int>(DirtyRects.size()));
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
    KeysHeld(KeyState{held[SDL_SCANCODE_RIGHT] != 0 || held[SDL_SCANCODE_UP] != 0, held[SDL_SCANCODE_SPACE] != 0});
    if (TakeStopSignal()) Close();
    Present();
}

void SdlForm::Dispatch(const SDL_Event& event) {
    if (event.type == SDL_QUIT) {
        Close();
        return;
    }
    if (event.type == SDL_KEYDOWN && event.key.repeat == 0 && event.key.windowID == SDL_GetWindowID(SdlWindow)) {
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
    default: break;
    }
}

void SdlForm::Close() {
    if (Unload()) SDL_HideWindow(SdlWindow);
}

std::shared_ptr<FormWindow> CreateSdlForm() { return std::make_shared<SdlForm>(); }

}  // namespace brakkenfel
