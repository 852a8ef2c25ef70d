// The analysis view's side panel as plain data: who plays, the score, where the match is, the keys.
//
// Nothing here draws: a backend turns the lines into pixels (SDL_ttf in the window, a canvas in a
// browser), so every player of a match shows the same panel.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "contest/ContestantKind.h"
#include "platform/Gdi.h"

namespace brakkenfel {

/// What the panel knows of one gun.
struct PanelGun {
    std::string Name;         ///< as the scoreboard names it
    COLORREF Color = 0;       ///< the colour of its bullets and aim line
    std::string Contestant;   ///< who steers it, shortened to fit
    bool You = false;         ///< steered by the person at the keys
    std::int64_t Shots = 0;
    std::int64_t Hits = 0;
    std::optional<std::int32_t> Health;  ///< known only under rules that give guns health
};

/// Everything the panel shows, gathered once per frame.
struct PanelFacts {
    std::array<PanelGun, 2> Guns;         ///< the Cannon, then the Helicopter
    std::string Leader;                   ///< the leading gun's name, or "draw"
    std::int64_t Move = 0;                ///< moves of the match run so far
    std::optional<std::int64_t> Total;    ///< a replay's moves in all
    bool Paused = false;
    bool Replay = false;
    bool Ended = false;                   ///< the match is over and its last frame held
    std::int32_t RateShift = 0;           ///< the move rate is 90 x 2^RateShift a second
};

/// What the run tells the panel before it starts: who plays, and what a replay holds.
struct PanelSetup {
    std::array<ContestantKind, 2> Kinds;  ///< the Cannon's and the Helicopter's contestants
    bool Replay = false;
    std::optional<std::int64_t> Total;    ///< a replay's moves in all, when counted
    /// A gun's health (0 Cannon, 1 Helicopter) under other rules that have it; duel rules' health
    /// comes from the scoreboard. Empty: no health row but under duel rules.
    std::function<std::optional<std::int32_t>(std::size_t Gun)> HealthOf;
};

/// The run's panel set-up; the program's entry fills it before the run.
extern PanelSetup PanelRun;

/// One line of the panel: its text and colour, drawn top to bottom; an empty text is a gap.
struct PanelLine {
    std::string Text;
    COLORREF Color = 0;
};

/// The panel's facts now, from the scoreboard, the workbench and PanelRun.
PanelFacts GatherPanelFacts();
/// The panel's lines for `Facts`, in the order they are drawn.
std::vector<PanelLine> PanelLines(const PanelFacts& Facts);
/// A contestant as the panel names it: `ai`, `human`, `keys (you)`, or a program's command cut to
/// `Room` characters with "..." at its end.
std::string ContestantLabel(const ContestantKind& Kind, std::size_t Room);
/// The move rate as a watcher reads it: x1/8, x1/4, x1/2, x1, x2 ... x32.
std::string RateLabel(std::int32_t Shift);

}  // namespace brakkenfel
