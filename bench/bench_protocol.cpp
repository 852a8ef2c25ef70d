// Benchmark of one move's round trip with a contestant program: request, the program's reply,
// judging it; against a C echo contestant, without a budget, so only the pipes and the arena count.
#include <benchmark/benchmark.h>

#include <sstream>

#include "contest/clsProgram.h"

namespace brakkenfel {
namespace {

void BM_ProgramMoveRoundTrip(benchmark::State& state) {
    std::ostringstream Diagnostics;
    ProgramSession Session(std::string("exec ") + BRAKKENFEL_ECHO_CONTESTANT, 0, "Cannon", Diagnostics,
                           ChildStderr::Discard);
    if (!Session.Start()) {
        state.SkipWithError("the echo contestant did not start");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(Session.Move({128, 20, 20, false}).size());
    if (Session.Summary().InTime != Session.Summary().Moves) state.SkipWithError("a move was not answered in time");
    Session.Stop();
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProgramMoveRoundTrip);

}  // namespace
}  // namespace brakkenfel
