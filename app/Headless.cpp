// Headless runs: unpaced moves or the paced loop on an in-memory window, with trace and snapshot.
#include "app/Headless.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/Trace.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "display/MemoryForm.h"
#include "platform/BmpFile.h"
#include "platform/Errors.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

// The trace's destination: standard output, or a file this run opens and closes.
class TraceFile {
public:
    explicit TraceFile(const std::string& path) {
        if (path.empty()) return;
        if (path == "-") {
            stream_ = stdout;
            return;
        }
        stream_ = std::fopen(path.c_str(), "wb");
        if (!stream_) throw RuntimeError(ErrPathFileAccess, path);
        owned_ = true;
        // Large blocks: the trace of a long run is written far faster than a line at a time.
        std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
    }
    ~TraceFile() {
        if (owned_) std::fclose(stream_);
    }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    std::FILE* Stream() const { return stream_; }
    // Flushes and reports a write error that buffering may have hidden until now.
    void Finish(const std::string& path) {
        if (stream_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) {
            throw RuntimeError(ErrPathFileAccess, path == "-" ? "standard output" : path);
        }
    }

private:
    std::FILE* stream_ = nullptr;
    bool owned_ = false;
};

void WriteSummary(std::int64_t moves, std::size_t poolPeak, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(moves) / seconds : 0.0;
    std::fprintf(stderr, "brakkenfel: %lld moves, %d bullets in flight, pool peak %zu, shots: Cannon %lld, "
                         "Helicopter %lld, hits: Cannon %lld, Helicopter %lld, winner: %s, %.3f s wall time, %.0f moves/s\n",
                 static_cast<long long>(moves), CountBullets(), poolPeak,
                 static_cast<long long>(Sprites->ShotsFired(CannonIndex)),
                 static_cast<long long>(Sprites->ShotsFired(HelicopterIndex)),
                 static_cast<long long>(HitsOf(CannonIndex)), static_cast<long long>(HitsOf(HelicopterIndex)),
                 Winner(Score).c_str(), seconds, rate);
}

}  // namespace

int RunHeadless(const Options& Chosen, ContestHost Host, std::function<bool()> StopRequested) {
    auto form = std::make_shared<MemoryForm>();
    form->CloseRequested = StopRequested;
    Host.CreateMainWindow = [form] { return form; };

    TraceFile trace(Chosen.TracePath);
    TraceWriter writer(trace.Stream());
    std::int64_t move = 0;
    // The most slots the bullet pool held after any move: long runs show it stays bounded.
    std::size_t poolPeak = 0;
    if (trace.Stream()) {
        Host.AfterMove = [&writer, &move] { writer.WriteMove(++move); };
    } else {
        Host.AfterMove = [&move] { ++move; };
    }

    SetUpContest(Host);
    const auto started = std::chrono::steady_clock::now();
    if (Chosen.Moves) {
        // Unpaced: no scheduler, no sleeping and no frames; only an outside stop ends it early.
        for (std::int64_t i = 0; i < *Chosen.Moves; ++i) {
            RunMove();
            Host.AfterMove();
            poolPeak = std::max(poolPeak, Bullets.size());
            if (StopRequested && (i & 0xFFFF) == 0 && StopRequested()) break;
        }
    } else {
        // A plain pointer: the form owns this handler, so holding the form here would keep it alive forever.
        form->OnCaption = [&Chosen, shown = form.get()](const std::string& caption) {
            std::fwrite(caption.data(), 1, caption.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            // The caption of the S-th whole second is the (S + 1)-th: the first comes at once.
            if (Chosen.Seconds && TickCount(TickSecond) > *Chosen.Seconds) shown->RequestClose();
        };
        RunMainLoop(Host);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (!Chosen.SnapshotPath.empty()) {
        ComposeFrame();
        SaveBmp(*BackBitmap, Chosen.SnapshotPath);
    }
    trace.Finish(Chosen.TracePath);
    if (Chosen.Moves) WriteSummary(move, poolPeak, seconds);
    TearDownContest();
    return 0;
}

}  // namespace brakkenfel
