// Benchmark of whole moves, as an unpaced headless run makes them: both guns, their computer
// gunners and every bullet's flight, with and without the per-move trace.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "app/Trace.h"
#include "score/Scoreboard.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

// The arena as start-up leaves it, a thousand moves on, so bullets are in flight.
void WarmUp() {
    for (int i = 0; i < 1000; ++i) RunMove();
}

void BM_Move(benchmark::State& state) {
    MemoryArena arena;
    WarmUp();
    for (auto _ : state) RunMove();
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Move);

// The hit rule alone, as it runs after every move: it must cost next to nothing beside a move.
void BM_ScoreHits(benchmark::State& state) {
    MemoryArena arena;
    WarmUp();
    for (auto _ : state) ScoreHits();
}
BENCHMARK(BM_ScoreHits);

void BM_MoveTraced(benchmark::State& state) {
    MemoryArena arena;
    WarmUp();
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
