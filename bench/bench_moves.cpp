// Benchmark of whole moves, as an unpaced headless run makes them: both guns, their computer
// gunners and every bullet's flight, with and without the per-move trace, and under duel rules.
#include <benchmark/benchmark.h>

#include <cstdint>
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

// A move under duel rules: each gun reads its foe before its gunner moves, and hits take health
// (more than a run can take, so the match never ends here).
void BM_MoveDuel(benchmark::State& state) {
    MemoryHost host;
    host.Host.Seed = 1;
    host.Host.DuelHealth = INT32_MAX;
    SetUpContest(host.Host);
    WarmUp();
    for (auto _ : state) RunMove();
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    TearDownContest();
}
BENCHMARK(BM_MoveDuel);

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
