// The protocol log: escaped, one entry a line, written in large blocks.
#include "contest/ProtocolLog.h"

#include <charconv>

#include "platform/Errors.h"

namespace brakkenfel {

namespace {

void AppendNumber(std::string& Out, std::int64_t Value) {
    char Digits[24];
    Out.append(Digits, std::to_chars(Digits, Digits + sizeof Digits, Value).ptr);
}

}  // namespace

ProtocolLog::ProtocolLog(const std::string& Path) : Path(Path) {
    Stream = std::fopen(Path.c_str(), "wb");
    if (!Stream) throw RuntimeError(ErrPathFileAccess, Path);
    // Large blocks: a long run exchanges millions of lines, which must not cost a write each.
    std::setvbuf(Stream, nullptr, _IOFBF, 1 << 16);
    std::fputs("# move gun direction microseconds text\n", Stream);
}

ProtocolLog::~ProtocolLog() { std::fclose(Stream); }

void ProtocolLog::Write(std::uint64_t Move, std::string_view Gun, char Direction, std::string_view Text,
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
    std::fwrite(Entry.data(), 1, Entry.size(), Stream);
}

void ProtocolLog::Finish() {
    if (std::fflush(Stream) != 0 || std::ferror(Stream)) throw RuntimeError(ErrPathFileAccess, Path);
}

}  // namespace brakkenfel
