// Benchmark of one frame: clear, bullets, both guns, the block transfer and the label check.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

void BM_ComposeFrame(benchmark::State& state) {
    // The field as start-up leaves it, plus `bullets` bullets standing still across it.
    MemoryArena arena;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        AddBullet(static_cast<float>((i * 37) % BackWidth), static_cast<float>((i * 53) % BackHeight), 0, 0.0f);
    }
    for (auto _ : state) {
        ComposeFrame();
        benchmark::DoNotOptimize(BackDC->Target().Row(0));
    }
    state.SetItemsProcessed(state.iterations());
}
// No bullet, a typical handful (two guns firing about once a second, bullets living a few seconds), and many.
BENCHMARK(BM_ComposeFrame)->Arg(0)->Arg(8)->Arg(1000);

}  // namespace
}  // namespace brakkenfel
