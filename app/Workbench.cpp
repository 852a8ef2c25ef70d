// The workbench's rules: pausing and stepping the move channel, its rate, a replay's jumps, the view.
#include "app/Workbench.h"

#include <algorithm>

#include "app/modTicks.h"
#include "display/AnalysisView.h"
#include "score/Scoreboard.h"

namespace brakkenfel {

WorkbenchState Bench;

void EndMatch() {
    if (!Bench.Hold) {
        QuitRequested = -1;
        return;
    }
    Bench.Ended = true;
    Bench.Paused = true;
    Bench.PendingJump = 0;
    PauseChannel(TickMove, true);
}

void ApplyCommand(WindowCommand Command) {
    // A held end runs nothing further: only a jump back (which starts the match over) is taken.
    if (Bench.Ended && Command != WindowCommand::JumpBack && Command != WindowCommand::JumpToStart &&
        Command != WindowCommand::ToggleView && Command != WindowCommand::Faster &&
        Command != WindowCommand::Slower && Command != WindowCommand::NormalRate) {
        return;
    }
    switch (Command) {
    case WindowCommand::Pause:
        Bench.Paused = !Bench.Paused;
        PauseChannel(TickMove, Bench.Paused);
        break;
    case WindowCommand::Step: StepChannel(TickMove); break;  // ignored unless paused
    case WindowCommand::Faster: Bench.RateShift = SetMoveRate(Bench.RateShift + 1); break;
    case WindowCommand::Slower: Bench.RateShift = SetMoveRate(Bench.RateShift - 1); break;
    case WindowCommand::NormalRate: Bench.RateShift = SetMoveRate(0); break;
    case WindowCommand::JumpForward: Bench.PendingJump += JumpLength; break;
    case WindowCommand::JumpBack: Bench.PendingJump -= JumpLength; break;
    case WindowCommand::JumpToStart:
        Bench.JumpHome = true;
        Bench.PendingJump = 0;
        break;
    case WindowCommand::ToggleView: ShowAnalysis(!AnalysisShown()); break;
    }
}

void ResetWorkbench() {
    const bool Hold = Bench.Hold;
    Bench = {};
    Bench.Hold = Hold;
    PauseChannel(TickMove, false);
    ShowAnalysis(false);
}

void RunPendingJump(const ContestHost& Host) {
    if (Bench.PendingJump == 0 && !Bench.JumpHome) return;
    const std::int64_t Now = Score.Moves;
    std::int64_t Target = Bench.JumpHome ? Bench.PendingJump : Now + Bench.PendingJump;
    Bench.PendingJump = 0;
    Bench.JumpHome = false;
    if (!Host.Rewind) return;
    Target = std::max<std::int64_t>(Target, 0);
    if (Target < Now) {
        Host.Rewind();
        RebuildArena(Host);
        Bench.Ended = false;  // still paused: the watcher resumes when ready
    }
    // Unpaced, as the jump at set-up; the replay's check runs after every move and its end stops the run.
    for (std::int64_t Move = Score.Moves; Move < Target && QuitRequested == 0 && !Bench.Ended; ++Move) {
        RunMove();
        if (Host.AfterMove) Host.AfterMove();
    }
}

}  // namespace brakkenfel
