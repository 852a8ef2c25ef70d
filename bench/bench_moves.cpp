// Benchmark of whole moves, as an unpaced headless run makes them: both guns, their computer
// gunners and every bullet's flight, with and without the per-move trace.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/Trace.h"
#include "app/modMain.h"
#include "display/MemoryForm.h"
#include "platform/FakeClock.h"
#include "platform/Picture.h"

namespace brakkenfel {
namespace {

// The real set-up on an in-memory window, then `warmUp` moves so bullets are in flight.
class Arena {
public:
    Arena() {
        SetPictureLoader([](const std::string&) {
            return std::make_shared<Picture>(std::make_shared<GdiBitmap>(256, 16));
        });
        ContestHost host;
        host.TickClock = &clock_;
        host.CreateMainWindow = [] { return std::make_shared<MemoryForm>(); };
        host.ProgramFolder = ".";
        SetUpContest(host);
        for (int i = 0; i < 1000; ++i) RunMove();
    }
    ~Arena() {
        TearDownContest();
        SetPictureLoader({});
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

private:
    FakeClock clock_{10'000'000};
};

void BM_Move(benchmark::State& state) {
    Arena arena;
    for (auto _ : state) RunMove();
    state.SetItemsProcessed(state.iterations());
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Move);

void BM_MoveTraced(benchmark::State& state) {
    Arena arena;
    std::FILE* sink = std::fopen("/dev/null", "wb");
    TraceWriter trace(sink);
    std::int64_t move = 0;
    for (auto _ : state) {
        RunMove();
        trace.WriteMove(++move);
    }
    std::fclose(sink);
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MoveTraced);

}  // namespace
}  // namespace brakkenfel
