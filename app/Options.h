// The command line: with no arguments the arena runs in its window; options add headless runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contest/ContestantKind.h"
#include "platform/Sandbox.h"

namespace brakkenfel {

/// What the command line asks for.
struct Options {
    bool Help = false;                    ///< --help: print the usage and stop
    bool Version = false;                 ///< --version: print the version and stop
    bool Headless = false;                ///< --headless: no window, an in-memory picture box
    std::optional<std::int64_t> Moves;    ///< --moves N: N unpaced moves, then tear down
    std::optional<std::int32_t> Seconds;  ///< --seconds S: the paced loop until the S-th second's caption
    std::string TracePath;                ///< --trace FILE: one JSON line per move ("-": stdout)
    std::string SnapshotPath;             ///< --snapshot FILE: the last frame as a BMP
    ContestantKind Cannon;                ///< --cannon KIND: the Cannon's contestant
    ContestantKind Helicopter;            ///< --helicopter KIND: the Helicopter's contestant
    std::int32_t MoveBudgetMs = 5;        ///< --move-budget MS: a contestant program's time per move
    std::optional<std::int32_t> ReadyTimeMs;  ///< --ready-time MS: a program's time to answer "ready"
    std::string ResultPath;               ///< --result FILE: the run's outcome as one JSON object
    std::string ProtocolLogPath;          ///< --protocol-log FILE: every line to and from the programs
    std::string RecordPath;               ///< --record FILE: the match file to write
    std::string ReplayPath;               ///< --replay FILE: the match file to play again
    std::optional<std::int64_t> FromMove; ///< --from-move N: with --replay, the first N moves run unpaced
    std::optional<std::uint32_t> Seed;    ///< --seed N: seeds the process-wide random generator
    bool Duel = false;                    ///< --rules duel: health, the foe list, a fair seeded field
    std::optional<std::int32_t> Health;   ///< --health N: with --rules duel, each gun's health (default 5)
    bool AnalysisView = false;            ///< --view analysis: the window starts in the analysis view
    bool Paused = false;                  ///< --paused: the window starts with its moves paused
    std::int32_t Scale = 1;               ///< --scale N: the window drawn N times larger (1 to 8)
    bool Hold = false;                    ///< --hold: the window stays on the last frame when the match ends
    SandboxSettings Sandbox;              ///< --sandbox and --contestant-*: what a contestant program may do
};

/// Each gun's health at the first move under duel rules, unless --health says otherwise.
inline constexpr std::int32_t DefaultDuelHealth = 5;

/// Reads the arguments after the program's name into `Chosen`; false with `Why` (one line naming
/// the offending option, without the program's name) when they cannot be carried out.
bool ParseOptions(const std::vector<std::string>& Arguments, Options& Chosen, std::string& Why);

/// True when the output paths `Chosen` names (trace, snapshot, result, record, protocol log) can be
/// used; false with `Why` when two are one file (after links are followed, or the same file under
/// two names; a character device such as /dev/null may be shared), or one of them is `PictureFile`
/// or the replay's file, which the run reads. "-" for the trace is whatever standard output is.
bool CheckOutputPaths(const Options& Chosen, const std::string& PictureFile, std::string& Why);

/// The usage text printed by --help.
std::string UsageText();

}  // namespace brakkenfel
