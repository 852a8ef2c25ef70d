// Headless runs: unpaced moves or the paced loop on an in-memory window, with trace, snapshot and summary.
#include "backends/memory/Headless.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/Run.h"
#include "app/Trace.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "backends/memory/MemoryForm.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

// Under duel rules: what each gun has left, who destroyed whom when, and the field's seed.
std::string DuelSummary() {
    if (!Score.Duel) return {};
    std::string text = ", health:";
    for (const std::int16_t slot : {CannonIndex, HelicopterIndex}) {
        const GunScore& gun = Score.Guns.at(static_cast<std::size_t>(slot));
        text += (slot == CannonIndex ? " " : ", ") + gun.Name + " " + std::to_string(gun.Health);
        if (gun.DestroyedAt != 0) {
            text += " (destroyed by " + DestroyerOf(Score, gun) + " at move " + std::to_string(gun.DestroyedAt) + ")";
        }
    }
    return text + ", seed " + std::to_string(Score.Seed);
}

void WriteSummary(std::int64_t moves, std::size_t poolPeak, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(moves) / seconds : 0.0;
    std::fprintf(stderr, "brakkenfel: %lld moves, %d bullets in flight, pool peak %zu, shots: Cannon %lld, "
                         "Helicopter %lld, hits: Cannon %lld, Helicopter %lld, winner: %s%s, %.3f s wall time, %.0f moves/s\n",
                 static_cast<long long>(moves), CountBullets(), poolPeak,
                 static_cast<long long>(Sprites->ShotsFired(CannonIndex)),
                 static_cast<long long>(Sprites->ShotsFired(HelicopterIndex)),
                 static_cast<long long>(HitsOf(CannonIndex)), static_cast<long long>(HitsOf(HelicopterIndex)),
                 Winner(Score).c_str(), DuelSummary().c_str(), seconds, rate);
}

void WriteCaption(const std::string& caption) {
    std::fwrite(caption.data(), 1, caption.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) == 0) return;
    const int error = errno;
    std::clearerr(stdout);
    if (error == EPIPE) {
        RequestStop(SIGPIPE);
    } else if (error != EINTR) {  // EINTR: a stop signal, already on its way
        throw RuntimeError(ErrPathFileAccess, std::string("cannot write the captions to standard output: ") +
                                                  std::strerror(error));
    }
}

}  // namespace

int RunHeadless(const Options& Chosen, ContestHost Host) {
    RunOutputs outputs(Chosen);
    const bool bounded = Chosen.Moves || Chosen.Seconds;
    if (!outputs.Opened()) {
        if (bounded) ReportInterruption(0);
        return EndStatus(bounded);
    }

    auto form = std::make_shared<MemoryForm>();
    bool signalled = false;
    form->CloseRequested = [&signalled] { return TakeStopSignal() && (signalled = true); };
    Host.CreateMainWindow = [form] { return form; };
    // The most slots the bullet pool held after any move: long runs show it stays bounded.
    std::size_t poolPeak = 0;
    // The caller's hook (a match file's) runs after the trace line, so a diverging move is traced.
    Host.AfterMove = [&outputs, outer = Host.AfterMove] {
        outputs.AfterMove();
        if (outer) outer();
    };
    // A replay's jump runs its moves during set-up: they count toward the peak, and their time
    // toward the moves per second. Only then is the peak taken in the hook as well as in the loop,
    // which keeps the plain move's path as short as it was.
    auto started = std::chrono::steady_clock::now();
    const bool jumps = Host.JumpMoves > 0;
    if (jumps) {
        Host.AfterMove = [&poolPeak, inner = Host.AfterMove] {
            inner();
            poolPeak = std::max(poolPeak, Bullets.size());
        };
    }

    bool interrupted = false;
    RunSetUp(Host, [&] {
        if (!jumps) started = std::chrono::steady_clock::now();
        if (Chosen.Moves) {
            // Unpaced: no scheduler, no sleeping and no frames. The flag is looked at every move
            // (a plain load) so that a run with a slow contestant answers Ctrl-C at once.
            for (std::int64_t i = 0; i < *Chosen.Moves && QuitRequested == 0; ++i) {
                if (StopSignalPending()) {
                    interrupted = TakeStopSignal();
                    break;
                }
                RunMove();
                Host.AfterMove();
                poolPeak = std::max(poolPeak, Bullets.size());
            }
            // A stop that ended a wait inside the move (a replay's read) ends the run as one between moves.
            if (!interrupted && TakeStopSignal()) interrupted = true;
        } else {
            // A plain pointer: the form owns this handler, so holding the form here would keep it alive forever.
            form->OnCaption = [&Chosen, shown = form.get()](const std::string& caption) {
                WriteCaption(caption);
                // The caption of the S-th whole second is the (S + 1)-th: the first comes at once.
                if (Chosen.Seconds && TickCount(TickSecond) > *Chosen.Seconds) shown->RequestClose();
            };
            RunMainLoop(Host);
            interrupted = (TakeStopSignal() || signalled) && Chosen.Seconds;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

        if (!Chosen.SnapshotPath.empty()) {
            ComposeFrame();
            outputs.SaveSnapshot(*BackBitmap);
        }
        outputs.Finish();
        if (interrupted) ReportInterruption(outputs.Moves());
        if (Chosen.Moves) WriteSummary(outputs.Moves(), poolPeak, seconds);
    });
    return EndStatus(interrupted);
}

}  // namespace brakkenfel
