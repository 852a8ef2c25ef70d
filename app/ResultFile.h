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

/// The file --result names, written where the user named it: a regular file (or one a link leads to,
/// the link kept) is replaced whole at the end, so a reader never sees part of it and a killed run
/// leaves nothing behind; a device, a FIFO or the standard output or error is written in place.
class ResultFile {
public:
    /// A result file at `Path`; an empty path writes nothing.
    explicit ResultFile(std::string Path) : Path(std::move(Path)) {}
    /// Drops what was never committed.
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    /// Checks the target and prepares the write, so that a result that could not be written fails
    /// before the run: RuntimeError 75 when it cannot (a folder, a read-only or immutable file, a
    /// folder where no file can be made); StoppedDuringStart when a stop signal ends the wait for a
    /// FIFO's reader.
    void Open();
    /// Writes `Json` into place; RuntimeError 75 on failure. Does nothing when not open (no
    /// --result, or already committed).
    void Commit(const std::string& Json);

private:
    void Prepare(const std::string& Folder);
    void Link();

    std::string Path;     // as given
    std::string Target;   // where a replaced file goes: Path with its links followed
    std::string TempPath; // a named temporary file, where the file system has no unnamed ones
    int Fd = -1;
    bool InPlace = false;  // a device, a FIFO, standard output or error
};

}  // namespace brakkenfel
