// The window as a workbench: what a person's keys ask of the run (pause, step, rate, jumps, view).
#pragma once

#include <cstdint>

#include "app/modMain.h"
#include "display/WindowInput.h"

namespace brakkenfel {

/// Moves a replay's jump covers: ten seconds at 90 moves a second.
inline constexpr std::int64_t JumpLength = 900;

/// The workbench's state for the run under way.
struct WorkbenchState {
    bool Paused = false;
    std::int32_t RateShift = 0;     ///< the move rate is 90 x 2^RateShift a second
    std::int64_t PendingJump = 0;   ///< moves to go forward (positive) or back (negative), not yet run
    bool JumpHome = false;          ///< a jump to the first move is waiting
    KeyState Keys;                  ///< the keys held in the window, for the player at the keys
    bool Hold = false;              ///< --hold: the match's end stops the moves, not the window
    bool Ended = false;             ///< held at the match's end: no move runs until a jump back
};

/// The run's workbench; set-up puts it back to its start.
extern WorkbenchState Bench;

/// Carries out `Command` where it needs no run: pause, step, rate and view at once; a jump is kept
/// for the main loop (RunPendingJump).
void ApplyCommand(WindowCommand Command);
/// Puts the workbench back to its start: running at 90 moves a second, plain view, no key held.
void ResetWorkbench();
/// The match ended (a replay's last move, --moves): with Hold, the moves stop and the window stays
/// with the last frame; without it, the run stops as a closed window does.
void EndMatch();
/// After each move the window ran: the taps it carried out are spent.
inline void KeysSpent() {
    Bench.Keys.TurnTapped = false;
    Bench.Keys.ShootTapped = false;
}
/// Carries out a waiting jump of a replay (`Host.Rewind` set): forward runs moves unpaced, each
/// checked; back re-runs the match from its first move unpaced up to the target. Without a replay
/// the jump is dropped.
void RunPendingJump(const ContestHost& Host);

}  // namespace brakkenfel
