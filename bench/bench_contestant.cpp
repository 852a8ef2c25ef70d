// Benchmarks of a contestant program: its start (to "ready" and its stop) and one move's round trip
// with the echo contestant at budget 0, each with the sandbox off and on.
#include <benchmark/benchmark.h>

#include <sstream>

#include "contest/clsProgram.h"

namespace brakkenfel {
namespace {

SandboxSettings Sandbox(bool On) {
    SandboxSettings Settings;
    Settings.Mode = On ? SandboxMode::On : SandboxMode::Off;
    return Settings;
}

void BM_ContestantStart(benchmark::State& state) {
    std::ostringstream Diagnostics;
    for (auto _ : state) {
        ProgramSession Session(std::string("exec ") + BRAKKENFEL_ECHO_CONTESTANT, 0, "Cannon", Diagnostics);
        Session.UseSandbox(Sandbox(state.range(0) != 0));
        if (!Session.Start()) state.SkipWithError("the echo contestant did not start");
        Session.Stop();
    }
}
BENCHMARK(BM_ContestantStart)->ArgName("sandbox")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ContestantRoundTrip(benchmark::State& state) {
    std::ostringstream Diagnostics;
    ProgramSession Session(std::string("exec ") + BRAKKENFEL_ECHO_CONTESTANT, 0, "Cannon", Diagnostics);
    Session.UseSandbox(Sandbox(state.range(0) != 0));
    if (!Session.Start()) state.SkipWithError("the echo contestant did not start");
    const GunReport Gun{128, 20, 20, false};
    for (auto _ : state) benchmark::DoNotOptimize(Session.Move(Gun));
    if (Session.Summary().InTime != Session.Summary().Moves) state.SkipWithError("a move went without its reply");
    Session.Stop();
}
BENCHMARK(BM_ContestantRoundTrip)->ArgName("sandbox")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brakkenfel
