// The SDL2 main window: layout, sunken picture box, label rendering, presenting and event dispatch.
#include "backends/sdl/SdlForm.h"

#include <algorithm>
#include <optional>

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

constexpr SDL_Color ToColor(std::uint32_t rgb) {
    return SDL_Color{static_cast<Uint8>(rgb >> 16), static_cast<Uint8>(rgb >> 8), static_cast<Uint8>(rgb), 255};
}

void Fill(SDL_Surface* surface, int x, int y, int w, int h, std::uint32_t rgb) {
    const SDL_Rect rect{x, y, w, h};
    SDL_FillRect(surface, &rect, SDL_MapRGB(surface->format, static_cast<Uint8>(rgb >> 16),
                                            static_cast<Uint8>(rgb >> 8), static_cast<Uint8>(rgb)));
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

SdlForm::SdlForm(SurfaceMode mode) : mode_(mode) {
    font_ = std::make_unique<SdlText>("Tahoma:bold", 12.0, 96.0);
    window_ = SDL_CreateWindow(Caption().c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                               ClientWidth, ClientHeight, SDL_WINDOW_HIDDEN);
    if (window_ == nullptr) WindowFailure("cannot create the window");
    try {
        Attach();
    } catch (...) {
        SDL_DestroyWindow(window_);
        throw;
    }
}

SdlForm::~SdlForm() {
    // The picture box's bitmap views the window's pixels, so it goes before the window does.
    pictureDC_.reset();
    pictureBitmap_.reset();
    shadow_.reset();
    SDL_DestroyWindow(window_);
}

void SdlForm::Attach() {
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (surface == nullptr) WindowFailure("cannot draw in the window");
    // Drawing straight into the surface saves a copy per frame, but only when the pixels are laid out as
    // ours are and the whole layout fits; otherwise draw in an own copy and convert when presenting.
    const bool direct = mode_ == SurfaceMode::Auto && surface->format->format == SDL_PIXELFORMAT_RGB888 &&
                        !SDL_MUSTLOCK(surface) && surface->w >= ClientWidth && surface->h >= ClientHeight;
    if (direct) {
        shadow_.reset();
        canvas_ = surface;
        PaintChrome();
    } else if (!shadow_) {
        shadow_.reset(SDL_CreateRGBSurfaceWithFormat(0, ClientWidth, ClientHeight, 32, SDL_PIXELFORMAT_RGB888));
        if (!shadow_) WindowFailure("cannot draw in the window");
        canvas_ = shadow_.get();
        PaintChrome();
    }
    auto* inner = reinterpret_cast<std::uint32_t*>(static_cast<Uint8*>(canvas_->pixels) +
                                                   InnerTop * canvas_->pitch) + InnerLeft;
    const std::int32_t pitch = canvas_->pitch / 4;
    if (pictureBitmap_) {
        pictureBitmap_->Retarget(inner, pitch);
    } else {
        pictureBitmap_ = std::make_shared<GdiBitmap>(inner, InnerWidth, InnerHeight, pitch);
        pictureDC_ = std::make_unique<GdiDC>(pictureBitmap_);
    }
    allDirty_ = true;
}

void SdlForm::PaintChrome() {
    Fill(canvas_, 0, 0, ClientWidth, ClientHeight, Background);
    const int right = BoxLeft + BoxWidth - 1;
    const int bottom = BoxTop + BoxHeight - 1;
    Fill(canvas_, BoxLeft, BoxTop, BoxWidth - 1, 1, EdgeShadow);
    Fill(canvas_, BoxLeft, BoxTop, 1, BoxHeight - 1, EdgeShadow);
    Fill(canvas_, BoxLeft + 1, BoxTop + 1, BoxWidth - 3, 1, EdgeDarkShadow);
    Fill(canvas_, BoxLeft + 1, BoxTop + 1, 1, BoxHeight - 3, EdgeDarkShadow);
    Fill(canvas_, BoxLeft + 1, bottom - 1, BoxWidth - 2, 1, EdgeLight);
    Fill(canvas_, right - 1, BoxTop + 1, 1, BoxHeight - 2, EdgeLight);
    Fill(canvas_, BoxLeft, bottom, BoxWidth, 1, EdgeHighlight);
    Fill(canvas_, right, BoxTop, 1, BoxHeight, EdgeHighlight);
    Fill(canvas_, InnerLeft, InnerTop, InnerWidth, InnerHeight, BoxBackground);
    PaintLabel(0);
}

void SdlForm::PaintLabel(int clearWidth) {
    const int room = ClientWidth - LabelLeft;
    const int width = std::min(std::max(clearWidth, labelWidth_), room);
    Fill(canvas_, LabelLeft, LabelTop, width, LabelHeight, Background);
    SurfacePtr line = font_->Render(LabelCaption(), ToColor(0x000000), ToColor(Background));
    if (line) {
        SDL_Rect source{0, 0, std::min(line->w, room), std::min(line->h, LabelHeight)};
        SDL_Rect target{LabelLeft, LabelTop, source.w, source.h};
        SDL_BlitSurface(line.get(), &source, canvas_, &target);
        ++labelRenders_;
    }
    MarkDirty(SDL_Rect{LabelLeft, LabelTop, width, LabelHeight});
}

void SdlForm::MarkDirty(const SDL_Rect& rect) {
    if (rect.w > 0 && rect.h > 0) dirty_.push_back(rect);
}

void SdlForm::Present() {
    if (!allDirty_ && dirty_.empty()) return;
    if (shadow_) {
        SDL_Surface* target = SDL_GetWindowSurface(window_);
        if (target != nullptr) {
            if (allDirty_) {
                SDL_BlitSurface(shadow_.get(), nullptr, target, nullptr);
            } else {
                for (SDL_Rect rect : dirty_) {
                    SDL_Rect to = rect;
                    SDL_BlitSurface(shadow_.get(), &rect, target, &to);
                }
            }
        }
    }
    if (allDirty_) {
        SDL_UpdateWindowSurface(window_);
    } else {
        SDL_UpdateWindowSurfaceRects(window_, dirty_.data(), static_cast<int>(dirty_.size()));
    }
    allDirty_ = false;
    dirty_.clear();
}

void SdlForm::ShowWindow() {
    SDL_ShowWindow(window_);
    allDirty_ = true;
    Present();
}

void SdlForm::CaptionChanged() { SDL_SetWindowTitle(window_, Caption().c_str()); }

HDC SdlForm::PictureBoxDC() {
    // Whoever asks for the context draws into it; show that area when the pass ends.
    MarkDirty(SDL_Rect{InnerLeft, InnerTop, InnerWidth, InnerHeight});
    return pictureDC_.get();
}

void SdlForm::LabelChanged(const std::string& Previous) {
    static_cast<void>(Previous);
    const int oldWidth = labelWidth_;
    labelWidth_ = font_->Width(LabelCaption());
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
    if (event.type == SDL_KEYDOWN && event.key.repeat == 0 && event.key.windowID == SDL_GetWindowID(window_)) {
        if (event.key.keysym.sym == SDLK_ESCAPE) {
            Close();
        } else if (const auto command = CommandOf(event.key.keysym.sym)) {
            KeyCommand(*command);
        }
        return;
    }
    if (event.type != SDL_WINDOWEVENT || event.window.windowID != SDL_GetWindowID(window_)) return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE: Close(); break;
    case SDL_WINDOWEVENT_EXPOSED: allDirty_ = true; break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: Attach(); break;
    default: break;
    }
}

void SdlForm::Close() {
    if (Unload()) SDL_HideWindow(window_);
}

std::shared_ptr<FormWindow> CreateSdlForm() { return std::make_shared<SdlForm>(); }

}  // namespace brakkenfel
