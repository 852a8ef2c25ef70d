// How a run ends: the interruption notice, the exit status, and the run in a window with its outputs.
#include "app/Run.h"

#include <csignal>
#include <cstdio>

#include "app/Trace.h"
#include "app/Workbench.h"
#include "display/AnalysisView.h"
#include "display/BackBuffer.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

const char* SignalName(int number) {
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE (the output's reader went away)";
    default: return "a signal";
    }
}

}  // namespace

void ReportInterruption(std::int64_t moves) {
    std::fprintf(stderr, "brakkenfel: interrupted at move %lld by %s\n", static_cast<long long>(moves),
                 SignalName(StopSignalNumber()));
}

// A run cut short reports the signal in its status, as a shell does for a process a signal killed.
int EndStatus(bool interrupted) {
    const int signal = StopSignalNumber();
    if (interrupted) return 128 + signal;
    // Lost output is never a success, even where a signal is the run's normal end.
    return signal == SIGPIPE ? 128 + SIGPIPE : 0;
}

int RunWindowContest(const Options& Chosen, ContestHost Host) {
    RunOutputs outputs(Chosen);
    if (!outputs.Opened()) return EndStatus(false);
    const std::int64_t limit = Chosen.Moves.value_or(-1);
    Host.AfterMove = [&outputs, limit, outer = Host.AfterMove] {
        outputs.AfterMove();
        // A move stepped while paused is looked at now: its line should not wait for moves to resume.
        if (Bench.Paused) outputs.WriteOut();
        const bool closing = QuitRequested != 0;
        if (outer) outer();
        // The replay's end asks for a stop as a closed window does; --hold keeps the window instead.
        if (!closing && QuitRequested != 0 && Bench.Hold) {
            QuitRequested = 0;
            EndMatch();
        }
        // Every move run counts, a replay's jumps included; the window then ends as if closed.
        if (outputs.Moves() == limit) EndMatch();
    };
    Host.AfterFrame = [&outputs, outer = Host.AfterFrame] {
        outputs.FlushIfDue();
        if (outer) outer();
    };
    Bench.Hold = Chosen.Hold;
    RunSetUp(Host, [&] {
        if (limit == 0) QuitRequested = -1;
        if (Chosen.AnalysisView) ShowAnalysis(true);
        if (Chosen.Paused && !Bench.Paused) ApplyCommand(WindowCommand::Pause);
        RunMainLoop(Host);
        // The back buffer still holds the last frame composed, which the window showed before it closed.
        outputs.SaveSnapshot(*BackBitmap);
        outputs.Finish();
    });
    return EndStatus(false);
}

}  // namespace brakkenfel
