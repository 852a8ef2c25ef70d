// The protocol log: every line exchanged with the contestant programs, for their authors to read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brakkenfel {

/// One text line per event, "MOVE GUN DIRECTION MICROSECONDS TEXT": DIRECTION is `>` for a line
/// the arena sent, `<` for a line it received and `!` for what came instead of a line (a timeout,
/// an over-long line, the end of the program's output); MICROSECONDS is the time since the arena
/// sent the request being answered (0 for a sent line). Bytes outside printable ASCII and the
/// backslash are written as \xNN, so every entry is one line of at most about 1 KiB.
class ProtocolLog {
public:
    /// Creates or truncates `Path`; RuntimeError 75 when it cannot be opened.
    explicit ProtocolLog(const std::string& Path);
    /// Closes the file (Finish reports write errors; this does not).
    ~ProtocolLog();
    ProtocolLog(const ProtocolLog&) = delete;
    ProtocolLog& operator=(const ProtocolLog&) = delete;

    /// One entry; `Text` loses one trailing "\n" if it has one.
    void Write(std::uint64_t Move, std::string_view Gun, char Direction, std::string_view Text, std::int64_t WaitedNs);
    /// Flushes; RuntimeError 75 when anything could not be written.
    void Finish();

private:
    std::string Path;
    std::FILE* Stream = nullptr;
    std::string Entry;
};

}  // namespace brakkenfel
