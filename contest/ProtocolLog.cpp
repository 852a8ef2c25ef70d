// The protocol log: escaped, one entry a line, written in large blocks.
#include "contest/ProtocolLog.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/OutputFile.h"
#include "platform/Errors.h"

namespace brakkenfel {

namespace {

constexpr std::size_t FlushAt = 1 << 16;

std::int64_t CoarseNowNs() {
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &Now);
    return static_cast<std::int64_t>(Now.tv_sec) * 1'000'000'000 + Now.tv_nsec;
}

void AppendNumber(std::string& Out, std::int64_t Value) {
    char Digits[24];
    Out.append(Digits, std::to_chars(Digits, Digits + sizeof Digits, Value).ptr);
}

}  // namespace

ProtocolLog::ProtocolLog(const std::string& Path) : Path(Path) {
    Fd = OpenOutput(Path, "the protocol log");
    if (Fd < 0) throw StoppedDuringStart();
    Pending.reserve(FlushAt + 4096);
    Pending = "# move gun direction microseconds text\n";
    LastFlushNs = CoarseNowNs();
}

ProtocolLog::~ProtocolLog() {
    Flush();
    close(Fd);
}

void ProtocolLog::Flush() {
    LastFlushNs = CoarseNowNs();
    if (Abandoned || Pending.empty()) {
        Pending.clear();
        return;
    }
    std::size_t Done = 0;
    const WriteEnd End = WriteOutput(Fd, Pending.data(), Pending.size(), Done, Error);
    Pending.clear();
    if (End == WriteEnd::Written) return;
    Abandoned = true;
    if (End == WriteEnd::Broken) Error = EPIPE;
    if (End == WriteEnd::Stalled) {
        std::fprintf(stderr, "brakkenfel: the protocol log's reader took nothing for half a second after the stop; "
                             "%s ends at the last whole write\n", Printable(Path).c_str());
    }
}

void ProtocolLog::Check() const {
    if (Error != 0) {
        throw RuntimeError(ErrPathFileAccess,
                           "cannot write the protocol log to " + Path + ": " + std::strerror(Error));
    }
}

void ProtocolLog::Write(std::uint64_t Move, std::string_view Gun, std::string_view Direction, std::string_view Text,
                        std::int64_t WaitedNs) {
    if (Text.ends_with('\n')) Text.remove_suffix(1);
    Entry.clear();
    AppendNumber(Entry, static_cast<std::int64_t>(Move));
    Entry += ' ';
    Entry += Gun;
    Entry += ' ';
    Entry += Direction;
    Entry += ' ';
    AppendNumber(Entry, WaitedNs / 1000);
    Entry += ' ';
    // A program's line may hold any byte; escaped, it can neither break the log's lines nor a terminal.
    static constexpr char Hex[] = "0123456789abcdef";
    for (const char Char : Text) {
        const auto Byte = static_cast<unsigned char>(Char);
        if (Byte >= 0x20 && Byte < 0x7f && Byte != '\\') {
            Entry += Char;
        } else {
            Entry += "\\x";
            Entry += Hex[Byte >> 4];
            Entry += Hex[Byte & 15];
        }
    }
    Entry += '\n';
    Pending += Entry;
    // Large blocks: a long run exchanges millions of lines, which must not cost a write each. The
    // clock is looked at too, so that a full disk is noticed within half a second.
    if (Pending.size() >= FlushAt || CoarseNowNs() - LastFlushNs >= 500'000'000) Flush();
}

void ProtocolLog::Finish() {
    Flush();
    Check();
}

}  // namespace brakkenfel
