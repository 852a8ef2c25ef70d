// The result file: how a run ended, as one JSON object that appears whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/Options.h"
#include "contest/clsProgram.h"
#include "score/Scoreboard.h"

namespace brakkenfel {

/// How the run ended, beyond what the scoreboard and the programs' counts say.
struct RunEnd {
    bool Interrupted = false;  ///< a stop signal ended it early
    std::int32_t ErrorNumber = 0;  ///< the error that ended it; 0 for none
    std::string ErrorText;         ///< that error's text
};

/// The result as one line of JSON: moves, interrupted, error, winner and each gun with its
/// contestant (kind, command, and for a program its counts); `Programs` are matched by gun name.
std::string ResultJson(const Options& Chosen, const Scoreboard& Board, const std::vector<ProgramSummary>& Programs,
                       const RunEnd& End);

/// The file --result names. Open creates a temporary file beside it at start, so that a path that
/// cannot be written fails before the run; Commit fills it and renames it into place.
class ResultFile {
public:
    /// A result file at `Path`; an empty path writes nothing.
    explicit ResultFile(std::string Path) : Path(std::move(Path)) {}
    /// Removes the temporary file if it was never committed.
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    /// Creates the temporary file; RuntimeError 75 when it cannot.
    void Open();
    /// Writes `Json` and renames the file into place; RuntimeError 75 on failure. Does nothing when
    /// not open (no --result, or already committed).
    void Commit(const std::string& Json);

private:
    std::string Path;
    std::string TempPath;
    int Fd = -1;
};

}  // namespace brakkenfel
