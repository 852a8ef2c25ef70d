// A small message window of our own: icon, wrapped text and an OK button, drawn with SDL_ttf.
#include "backends/sdl/SdlReport.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <vector>

#include "backends/sdl/SdlApp.h"
#include "backends/sdl/SdlPaint.h"
#include "backends/sdl/SdlText.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

constexpr int Margin = 16;
constexpr int IconSize = 32;
constexpr int IconGap = 12;
constexpr int MaxTextWidth = 440;
constexpr int MinWidth = 280;
// More lines than this says nothing a person would read in a box; stderr has the whole text.
constexpr std::size_t MaxLines = 16;
constexpr int FooterHeight = 44;
constexpr int ButtonWidth = 88;
constexpr int ButtonHeight = 26;

constexpr std::uint32_t Paper = 0xFFFFFF;
constexpr std::uint32_t Footer = 0xF0F0F0;
constexpr std::uint32_t Ink = 0x000000;
constexpr std::uint32_t ButtonFace = 0xE1E1E1;
constexpr std::uint32_t ButtonFocus = 0x0078D7;
constexpr std::uint32_t IconRed = 0xC42B1C;

std::uint32_t Mix(std::uint32_t from, std::uint32_t to, double amount) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
        out |= static_cast<std::uint32_t>(std::lround(a + (b - a) * amount)) << shift;
    }
    return out;
}

// Byte length of the UTF-8 sequence that starts with `lead` (1 for a stray continuation byte).
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Greedy word wrap; a word wider than a line (a long path) is broken between characters.
std::vector<std::string> Wrap(const SdlText& font, const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    auto flush = [&] {
        while (font.Width(line) > MaxTextWidth) {
            std::size_t fits = 0;
            for (std::size_t next = 0; next < line.size();) {
                next += SequenceLength(static_cast<unsigned char>(line[next]));
                if (font.Width(line.substr(0, next)) > MaxTextWidth) break;
                fits = next;
            }
            if (fits == 0) fits = SequenceLength(static_cast<unsigned char>(line[0]));
            lines.push_back(line.substr(0, fits));
            line.erase(0, fits);
        }
        lines.push_back(line);
        line.clear();
    };
    std::size_t start = 0;
    while (start <= text.size() && lines.size() <= MaxLines) {
        const std::size_t space = std::min(text.find(' ', start), text.size());
        const std::string word = text.substr(start, space - start);
        const std::string joined = line.empty() ? word : line + " " + word;
        if (!line.empty() && font.Width(joined) > MaxTextWidth) {
            flush();
            line = word;
        } else {
            line = joined;
        }
        start = space + 1;
    }
    if (!line.empty()) flush();
    if (lines.size() > MaxLines) {
        lines.resize(MaxLines);
        lines.back() += " \u2026";
    }
    return lines;
}

// The error sign: a red disc with a white cross, each pixel shaded by how much of it they cover.
void PaintIcon(SDL_Surface* canvas, int left, int top) {
    constexpr int Samples = 4;
    const double centre = IconSize / 2.0, radius = IconSize / 2.0 - 0.5, arm = IconSize * 0.22, half = 1.6;
    for (int y = 0; y < IconSize; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<Uint8*>(canvas->pixels) + (top + y) * canvas->pitch);
        for (int x = 0; x < IconSize; ++x) {
            int disc = 0, cross = 0;
            for (int sy = 0; sy < Samples; ++sy) {
                for (int sx = 0; sx < Samples; ++sx) {
                    const double px = x + (sx + 0.5) / Samples - centre, py = y + (sy + 0.5) / Samples - centre;
                    if (px * px + py * py > radius * radius) continue;
                    ++disc;
                    const bool inArms = std::abs(px) <= arm + half && std::abs(py) <= arm + half;
                    const bool onStroke = std::abs(px - py) <= half * std::sqrt(2.0) ||
                                          std::abs(px + py) <= half * std::sqrt(2.0);
                    cross += inArms && onStroke && std::abs(px) <= arm + 0.5 && std::abs(py) <= arm + 0.5;
                }
            }
            constexpr double Total = Samples * Samples;
            std::uint32_t colour = Mix(Paper, IconRed, disc / Total);
            colour = Mix(colour, Paper, cross / Total);
            row[left + x] = colour;
        }
    }
}

// Lays the report out on an own XRGB canvas; the window surface, whatever its format, gets a copy.
class ReportWindow {
public:
    ReportWindow(const std::string& title, const std::string& message)
        : Font("Tahoma", 9.0, 96.0), Lines(Wrap(Font, message)) {
        int textWidth = 0;
        for (const std::string& line : Lines) textWidth = std::max(textWidth, Font.Width(line));
        const int textHeight = static_cast<int>(Lines.size()) * Font.Height();
        const int width = std::max(MinWidth, Margin + IconSize + IconGap + textWidth + Margin);
        const int body = Margin + std::max(IconSize, textHeight) + Margin;
        Canvas.reset(SDL_CreateRGBSurfaceWithFormat(0, width, body + FooterHeight, 32, SDL_PIXELFORMAT_RGB888));
        if (!Canvas) throw std::runtime_error("cannot draw the report: " + SdlFailureReason());
        Button = SDL_Rect{width - Margin - ButtonWidth, body + (FooterHeight - ButtonHeight) / 2, ButtonWidth,
                           ButtonHeight};
        Paint(body, std::max(0, (IconSize - textHeight) / 2));
        Window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, Canvas->w,
                                   Canvas->h, SDL_WINDOW_HIDDEN);
        if (Window == nullptr) throw std::runtime_error("cannot create the report window: " + SdlFailureReason());
    }
    ~ReportWindow() { SDL_DestroyWindow(Window); }
    ReportWindow(const ReportWindow&) = delete;
    ReportWindow& operator=(const ReportWindow&) = delete;

    void Run() {
        SDL_ShowWindow(Window);
        SDL_RaiseWindow(Window);
        Present();
        bool pressed = false;
        // Ends on a stop signal too, which the report leaves pending: the program ends right after.
        while (!StopSignalPending()) {
            SDL_Event event;
            if (SDL_WaitEventTimeout(&event, 100) == 0) continue;
            switch (event.type) {
            case SDL_QUIT: return;
            case SDL_WINDOWEVENT:
                if (event.window.event == SDL_WINDOWEVENT_CLOSE) return;
                if (event.window.event == SDL_WINDOWEVENT_EXPOSED) Present();
                break;
            case SDL_KEYDOWN:
                switch (event.key.keysym.sym) {
                case SDLK_RETURN: case SDLK_KP_ENTER: case SDLK_ESCAPE: case SDLK_SPACE: return;
                default: break;
                }
                break;
            case SDL_MOUSEBUTTONDOWN: pressed = event.button.button == SDL_BUTTON_LEFT && OnButton(event.button); break;
            case SDL_MOUSEBUTTONUP:
                if (pressed && event.button.button == SDL_BUTTON_LEFT && OnButton(event.button)) return;
                pressed = false;
                break;
            default: break;
            }
        }
    }

private:
    bool OnButton(const SDL_MouseButtonEvent& click) const {
        const SDL_Point at{click.x, click.y};
        return SDL_PointInRect(&at, &Button) == SDL_TRUE;
    }

    void Paint(int body, int textTop) {
        SDL_Surface* canvas = Canvas.get();
        Fill(canvas, SDL_Rect{0, 0, canvas->w, body}, Paper);
        Fill(canvas, SDL_Rect{0, body, canvas->w, FooterHeight}, Footer);
        PaintIcon(canvas, Margin, Margin);
        int y = Margin + textTop;
        for (const std::string& line : Lines) {
            if (SurfacePtr text = Font.Render(line, ToColor(Ink), ToColor(Paper))) {
                SDL_Rect to{Margin + IconSize + IconGap, y, text->w, text->h};
                SDL_BlitSurface(text.get(), nullptr, canvas, &to);
            }
            y += Font.Height();
        }
        // A focused default button, as a person expects Enter to press it.
        Fill(canvas, Button, ButtonFocus);
        Fill(canvas, SDL_Rect{Button.x + 1, Button.y + 1, Button.w - 2, Button.h - 2}, ButtonFace);
        if (SurfacePtr text = Font.Render("OK", ToColor(Ink), ToColor(ButtonFace))) {
            SDL_Rect to{Button.x + (Button.w - text->w) / 2, Button.y + (Button.h - text->h) / 2, text->w, text->h};
            SDL_BlitSurface(text.get(), nullptr, canvas, &to);
        }
    }

    void Present() {
        SDL_Surface* target = SDL_GetWindowSurface(Window);
        if (target == nullptr) return;
        SDL_BlitSurface(Canvas.get(), nullptr, target, nullptr);
        SDL_UpdateWindowSurface(Window);
    }

    SdlText Font;
    std::vector<std::string> Lines;
    SurfacePtr Canvas;
    SDL_Rect Button{};
    SDL_Window* Window = nullptr;
};

}  // namespace

bool ShowReportWindow(const std::string& title, const std::string& message, std::string& why) {
    try {
        ReportWindow window(title, message);
        window.Run();
        return true;
    } catch (const std::exception& error) {
        why = error.what();
        return false;
    }
}

}  // namespace brakkenfel
