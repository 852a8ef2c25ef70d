// Benchmarks of the bullet pool: the flight step over many bullets, a field in play, and spawning.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"

namespace brakkenfel {
namespace {

/// Moves between re-seeds: short enough that no bullet drifts far or slows into subnormal speeds
/// (which real flights, gone within a few hundred moves, never reach either).
constexpr int MovesPerSeed = 256;

/// A pool of `count` bullets fired over all angles from well inside a field far too big to leave
/// within MovesPerSeed moves.
std::vector<Bullet> Volley(std::int64_t count) {
    EraseBullets();
    BuildTrigTables();
    BackWidth = BackHeight = 1 << 22;
    for (std::int64_t i = 0; i < count; ++i)
        AddBullet(2000.0f, 2000.0f, static_cast<std::uint8_t>(i * 37), 1.0f + static_cast<float>(i % 3));
    return Bullets;
}

void BM_MoveBullets(benchmark::State& state) {
    const std::int64_t count = state.range(0);
    const std::vector<Bullet> volley = Volley(count);
    int moves = 0;
    for (auto _ : state) {
        MoveBullets();
        if (++moves == MovesPerSeed) {
            std::copy(volley.begin(), volley.end(), Bullets.begin());
            moves = 0;
        }
    }
    if (Bullets.size() != volley.size()) state.SkipWithError("bullets left the field");
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["per_bullet_move"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    EraseBullets();
}
BENCHMARK(BM_MoveBullets)->Arg(2)->Arg(10)->Arg(1000)->Arg(30000);

// The real field with two guns firing now and then: spawning, flying, leaving and trimming together,
// as a headless run does it move after move.
void BM_MovesInPlay(benchmark::State& state) {
    const std::int64_t reload = state.range(0);
    EraseBullets();
    BuildTrigTables();
    BackWidth = 373;
    BackHeight = 285;
    std::int64_t move = 0;
    std::uint8_t angle = 0;
    for (auto _ : state) {
        if (move % reload == 0) {
            AddBullet(40.0f, 240.0f, static_cast<std::uint8_t>(96 + angle % 64), 2.0f);
            AddBullet(330.0f, 60.0f, static_cast<std::uint8_t>(160 + angle % 64), 2.0f);
            angle = static_cast<std::uint8_t>(angle + 7);
        }
        MoveBullets();
        ++move;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["in_flight"] = CountBullets();
    EraseBullets();
}
BENCHMARK(BM_MovesInPlay)->Arg(30)->Arg(5);

// Spawning into a 30,000-slot pool whose lowest free slot is at `range(0)`; the slot is freed
// again after each shot, so every call scans the same distance.
void BM_AddBullet(benchmark::State& state) {
    const auto firstFree = static_cast<std::size_t>(state.range(0));
    EraseBullets();
    BuildTrigTables();
    Bullets.assign(30000, Bullet{});
    for (std::size_t i = 0; i < firstFree; ++i) Bullets[i].Active = -1;
    Bullets.back().Active = -1;
    for (auto _ : state) {
        AddBullet(10.0f, 20.0f, 64, 2.0f);
        Bullets[firstFree].Active = 0;
    }
    state.SetItemsProcessed(state.iterations());
    EraseBullets();
}
BENCHMARK(BM_AddBullet)->Arg(0)->Arg(5)->Arg(1000)->Arg(29000);

}  // namespace
}  // namespace brakkenfel
