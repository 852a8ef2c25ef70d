// The protocol log: every line exchanged with the contestant programs, for their authors to read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brakkenfel {

/// One text line per event, "MOVE GUN DIRECTION MICROSECONDS TEXT": DIRECTION is `>` for a line
/// the arena sent, `<` for a line it received and took, `<late`, `<ahead`, `<refused` or `<ignored`
/// for one it received and gave nothing for, and `!` for what came instead of a line (a timeout,
/// an over-long line, the end of the program's output); MICROSECONDS is the time since the arena
/// sent the request being answered (0 for a sent line). Bytes outside printable ASCII and the
/// backslash are written as \xNN, so every entry is one line of at most about 1 KiB.
class ProtocolLog {
public:
    /// Creates or truncates `Path`, waiting for a FIFO's reader; RuntimeError 75 when it cannot be
    /// opened, StoppedDuringStart when a stop signal ends the wait.
    explicit ProtocolLog(const std::string& Path);
    /// Writes what is left and closes the file (Finish reports write errors; this does not).
    ~ProtocolLog();
    ProtocolLog(const ProtocolLog&) = delete;
    ProtocolLog& operator=(const ProtocolLog&) = delete;

    /// One entry; `Text` loses one trailing "\n" if it has one. Written out in large blocks, and at
    /// least every half second; never throws (it may be called while programs are stopped on the
    /// way out): a write error is kept for Check.
    void Write(std::uint64_t Move, std::string_view Gun, std::string_view Direction, std::string_view Text,
               std::int64_t WaitedNs);
    /// RuntimeError 75 naming the file and the reason when a write has failed; the run checks after every move.
    void Check() const;
    /// Writes what is left; RuntimeError 75 when anything could not be written.
    void Finish();

private:
    void Flush();

    std::string Path;
    int Fd = -1;
    std::string Entry;
    std::string Pending;
    std::int64_t LastFlushNs = 0;
    int Error = 0;           // the first write error, kept for Check
    bool Abandoned = false;  // a write failed, or the reader stalled after a stop: nothing more is written
};

}  // namespace brakkenfel
