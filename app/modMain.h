// The run: set-up, the main loop and tear-down, and the program-wide state they share.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "display/frmMain.h"
#include "platform/Clock.h"

namespace brakkenfel {

class clsSprites;
class Sprite;

/// The one sprite registry of the run; created first in set-up, released last in tear-down.
extern std::shared_ptr<clsSprites> Sprites;
/// Set (-1) by the window's unload handler; the main loop stops at the top of its next pass.
extern std::int16_t QuitRequested;
/// Registry slot of the Cannon.
extern std::int16_t CannonIndex;
/// Registry slot of the Helicopter.
extern std::int16_t HelicopterIndex;

/// What a run needs from outside: time, the window, and where the program lives.
struct ContestHost {
    /// The clock that paces the loop.
    Clock* TickClock = nullptr;
    /// Creates the main window; called once, when set-up shows it.
    std::function<std::shared_ptr<FormWindow>()> CreateMainWindow;
    /// The folder that holds the program file, without a trailing separator.
    std::string ProgramFolder;
    /// Creates the contestant for the gun named "Cannon" or "Helicopter".
    std::function<std::shared_ptr<Sprite>(const std::string& GunName)> MakeContestant;
    /// Called after each move's bullets have flown (per-move traces); may be empty.
    std::function<void()> AfterMove;
    /// What seeds the process-wide random generator (and draws a duel's field); empty: the clock.
    std::optional<std::uint32_t> Seed;
    /// Duel rules with each gun's health at the first move; empty: plain rules, today's arena.
    std::optional<std::int32_t> DuelHealth;
    /// Called after each frame tick of the paced loop (outputs that must not wait for a move); may be empty.
    std::function<void()> AfterFrame;
    /// Moves run back to back at the end of set-up, without frames or pacing (a replay's jump).
    std::int64_t JumpMoves = 0;
    /// Puts the contestants' source back to the match's first move, before a replay's jump back
    /// re-runs it; empty: the run cannot go back (only a replay can).
    std::function<void()> Rewind;
};

/// Builds the arena, runs the main loop until the window is closed, and releases what it built.
void RunContest(const ContestHost& Host);
/// Set-up: the registry and both guns, the angle tables, the scheduler, the window, the back buffer.
void SetUpContest(const ContestHost& Host);
/// The main loop: one tick per pass until QuitRequested, then pending events.
void RunMainLoop(const ContestHost& Host);
/// One pass of the main loop: the next tick's work, then pending events and a waiting jump. A
/// host that cannot block (a web page) runs passes itself, a slice at a time.
void RunLoopPass(const ContestHost& Host);
/// The arena at its first move again: bullets, scores and the registry with both guns made anew,
/// the random generator re-seeded; the window, the scheduler and the back buffer stay.
void RebuildArena(const ContestHost& Host);
/// One move: each gun's step and contestant, then every bullet's flight.
void RunMove();
/// Tear-down: back buffer, window, bullet pool, registry, in that order.
void TearDownContest();
/// The path of the guns' picture strip in `ProgramFolder`.
std::string PicturePath(const std::string& ProgramFolder);

}  // namespace brakkenfel
