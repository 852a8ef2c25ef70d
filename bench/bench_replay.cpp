// Benchmark of match files: a move with and without recording, and a replay's jump through recorded moves.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "replay/MatchRecorder.h"
#include "replay/StateHash.h"
#include "replay/clsReplay.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::uint32_t Seed = 7;

MatchHeader DefaultHeader() {
    MatchHeader Header;
    Header.ProgramVersion = BRAKKENFEL_VERSION;
    Header.Seed = Seed;
    Header.Kinds = {ContestantKind{}, ContestantKind{}};  // two computer gunners
    return Header;
}

// Where a recording goes: the disk (a temporary file, as `--record FILE` writes) or nowhere.
std::string RecordPath(bool OnDisk) {
    return OnDisk ? "/tmp/brakkenfel_bench_" + std::to_string(getpid()) + ".match" : "/dev/null";
}

// A move as an unpaced `--record` run makes it: the move, then its line and state hash written.
// Compare with BM_Move: recording may cost at most a third of the moves a second.
void BM_MoveRecorded(benchmark::State& state) {
    const std::string Path = RecordPath(state.range(0) != 0);
    MemoryArena arena;
    for (int i = 0; i < 1000; ++i) RunMove();
    {
        MatchRecorder Recorder(Path, DefaultHeader());
        for (auto _ : state) {
            RunMove();
            Recorder.AfterMove();
        }
        Recorder.Finish();
    }
    if (Path != "/dev/null") std::remove(Path.c_str());
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MoveRecorded)->ArgName("disk")->Arg(0)->Arg(1);

// The state hash alone, as recording and replaying compute it after every move.
void BM_StateHash(benchmark::State& state) {
    MemoryArena arena;
    for (int i = 0; i < 1000; ++i) RunMove();
    for (auto _ : state) benchmark::DoNotOptimize(StateHash());
}
BENCHMARK(BM_StateHash);

constexpr std::int64_t JumpMoves = 100'000;

// A replay's jump from start-up through JumpMoves recorded moves: reading each line, giving its
// orders, checking the state hash. A million moves must take well under 0.2 s.
void BM_ReplayJump(benchmark::State& state) {
    const std::string Path = RecordPath(true);
    {
        MemoryHost Live;
        Live.Host.Seed = Seed;
        SetUpContest(Live.Host);
        MatchRecorder Recorder(Path, DefaultHeader());
        for (std::int64_t Move = 0; Move < JumpMoves; ++Move) {
            RunMove();
            Recorder.AfterMove();
        }
        Recorder.Finish();
        TearDownContest();
    }
    for (auto _ : state) {
        MemoryHost Again;
        auto Source = std::make_shared<ReplaySource>(std::make_unique<MatchReader>(Path, OpenMatchFile(Path)));
        Again.Host.Seed = Seed;
        Again.Host.MakeContestant = [&Source](const std::string& GunName) -> std::shared_ptr<Sprite> {
            return std::make_shared<clsReplay>(Source, GunName == "Cannon" ? 0 : 1);
        };
        Again.Host.AfterMove = [&Source] { Source->AfterMove(); };
        Again.Host.JumpMoves = JumpMoves;
        SetUpContest(Again.Host);  // the jump runs at the end of set-up
        TearDownContest();
    }
    std::remove(Path.c_str());
    state.SetItemsProcessed(state.iterations() * JumpMoves);
}
BENCHMARK(BM_ReplayJump)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brakkenfel
