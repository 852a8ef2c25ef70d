// The command line: with no arguments the arena runs in its window; options add headless runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    std::string Cannon = "ai";            ///< --cannon KIND: the Cannon's contestant
    std::string Helicopter = "ai";        ///< --helicopter KIND: the Helicopter's contestant
    std::int32_t MoveBudgetMs = 5;        ///< --move-budget MS: a contestant program's time per move
    std::string ResultPath;               ///< --result FILE: the run's outcome as one JSON object
    std::string ProtocolLogPath;          ///< --protocol-log FILE: every line to and from the programs
    std::string RecordPath;               ///< --record FILE: the match file to write
    std::string ReplayPath;               ///< --replay FILE: the match file to play again
    std::optional<std::int64_t> FromMove; ///< --from-move N: with --replay, the first N moves run unpaced
    std::optional<std::uint32_t> Seed;    ///< --seed N: seeds the process-wide random generator
};

/// The prefix of a contestant kind that names an outside program: "exec:COMMAND".
inline constexpr const char* ExecKindPrefix = "exec:";

/// The command of an "exec:COMMAND" kind; empty for any other kind.
std::string ProgramCommand(const std::string& Kind);

/// A command line that cannot be carried out; the text names the offending option.
struct OptionsError {
    std::string Message;  ///< one line, without the program's name
};

/// Reads the arguments after the program's name; returns the options or the first error.
std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, OptionsError& error);

/// Why the trace and snapshot paths `Chosen` names cannot be used, or nothing when they can: they
/// are one file (after links are followed, or the same file under two names), or one of them is
/// `PictureFile`, which the run reads. "-" for the trace is whatever standard output is.
std::optional<std::string> CheckOutputPaths(const Options& Chosen, const std::string& PictureFile);

/// The usage text printed by --help.
std::string UsageText();

}  // namespace brakkenfel
