// Output files done safely: checked before any is created, written so that a stop signal ends every wait, and text made safe for JSON and the terminal.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace brakkenfel {

/// Thrown when a stop signal ends a wait of the start-up (a FIFO without a reader or a writer):
/// the run ends as interrupted, with no error to report.
class StoppedDuringStart : public std::exception {
public:
    const char* what() const noexcept override { return "stopped during start-up"; }
};

/// Where a write to `Path` lands: absolute, its chain of symbolic links followed (at most 40), also
/// to a file not yet there. "." and ".." are left in.
std::string FollowLinks(const std::string& Path);

/// Fails with error 75 ("cannot write WHAT to PATH: reason") when `Path` could not be opened for
/// writing: a folder, a missing or read-only folder, an immutable or read-only file. Creates nothing,
/// so every output can be checked before any is opened. "-" (standard output) always passes.
void CheckWritable(const std::string& Path, const char* What);

/// Opens `Path` for writing (created, emptied) with close-on-exec. A FIFO is waited on until it has
/// a reader or a stop signal arrives; returns -1 in that last case. Fails with error 75 naming
/// `What` ("the trace", "the snapshot"), the path and the reason.
int OpenOutput(const std::string& Path, const char* What);

/// How WriteOutput ended.
enum class WriteEnd {
    Written,  ///< every byte
    Stalled,  ///< a stop is under way and the reader took nothing until the stop's deadline
    Broken,   ///< the reader went away (EPIPE)
    Failed,   ///< a write error, in the `Error` given
};

/// Writes `Size` bytes from `Data` to `Fd`, adding what was written to `Done`. Before a stop a
/// write may wait as long as the reader takes; once a stop signal has arrived (or `Bounded`), every
/// wait for room ends at the stop's deadline, half a second after the first such wait, shared by
/// all outputs so that stalled ones together cannot hold the arena longer.
WriteEnd WriteOutput(int Fd, const char* Data, std::size_t Size, std::size_t& Done, int& Error, bool Bounded = false);

/// Appends `Text` as a JSON string, quotes included: valid UTF-8 kept, control characters escaped,
/// and each byte that is not part of valid UTF-8 written as U+FFFD, so the result is valid JSON.
void AppendJsonString(std::string& Out, std::string_view Text);

/// `Text` for a terminal: control characters (C0, DEL, C1) and bytes that are not valid UTF-8
/// written as \xNN, and the backslash as \x5c, so no escape sequence reaches the terminal.
std::string Printable(std::string_view Text);

}  // namespace brakkenfel
