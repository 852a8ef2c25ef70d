// The match file's lines: writing and strict, bounded reading of the header, moves and events.
#include "replay/MatchFile.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <memory>
#include <utility>

#include "app/Options.h"
#include "app/OutputFile.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

constexpr char Hex[] = "0123456789abcdef";
// Larger than any honest move gives, small enough that summing a whole file cannot overflow.
constexpr std::uint64_t MaxCountStep = 1'000'000'000;

constexpr int HexValue(char Char) {
    if (Char >= '0' && Char <= '9') return Char - '0';
    if (Char >= 'a' && Char <= 'f') return Char - 'a' + 10;
    return -1;
}

// Splits off the text up to the next single space; false when there is none.
bool TakeField(std::string_view& Rest, std::string_view& Field) {
    const std::size_t Space = Rest.find(' ');
    if (Space == std::string_view::npos) return false;
    Field = Rest.substr(0, Space);
    Rest.remove_prefix(Space + 1);
    return true;
}

template <class Integer>
bool ParseNumber(std::string_view Text, Integer Low, Integer High, Integer& Value) {
    if (Text.empty() || Text.size() > 20 || (Text.size() > 1 && Text[0] == '0')) return false;
    const auto [Ptr, Ec] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    return Ec == std::errc() && Ptr == Text.data() + Text.size() && Value >= Low && Value <= High;
}

// Undoes AppendEscaped; `Spaces` allows plain spaces in the text.
bool Unescape(std::string_view Text, bool Spaces, std::string& Out) {
    Out.clear();
    for (std::size_t At = 0; At < Text.size(); ++At) {
        const char Char = Text[At];
        if (Char == '\\') {
            if (Text.size() - At < 4 || Text[At + 1] != 'x') return false;
            const int High = HexValue(Text[At + 2]);
            const int Low = HexValue(Text[At + 3]);
            if (High < 0 || Low < 0) return false;
            Out += static_cast<char>(High * 16 + Low);
            At += 3;
        } else if ((Char > ' ' && Char < 0x7f) || (Spaces && Char == ' ')) {
            Out += Char;
        } else {
            return false;
        }
    }
    return true;
}

// Reads the gun field that starts at `Line[At]` and ends at the next space or the line's end;
// `At` is left there. One pass with no search for the space first: a jump reads a million of these.
bool ParseGun(std::string_view Line, std::size_t& At, GunMove& Gun, std::string& Why) {
    Gun.Orders.clear();
    Gun.Out = false;
    Gun.HasCounts = false;
    const auto Ends = [&Line](std::size_t Where) { return Where == Line.size() || Line[Where] == ' '; };
    if (Ends(At)) {
        Why = "a gun's field is empty";
        return false;
    }
    if (Line[At] == 'x' || Line[At] == '-') {
        Gun.Out = Line[At] == 'x';
        ++At;
    } else {
        // By hand rather than through ParseNumber: a jump parses a million of these in a blink.
        while (At < Line.size() && (Line[At] == 'r' || Line[At] == 's')) {
            if (Line[At++] == 's') {
                Gun.Orders.push_back({ProgramOrder::Kind::Shoot, 0});
                continue;
            }
            const std::size_t Digits = At;
            unsigned Angle = 0;
            while (At < Line.size() && At - Digits < 4 && static_cast<unsigned char>(Line[At] - '0') < 10) {
                Angle = Angle * 10 + static_cast<unsigned>(Line[At++] - '0');
            }
            const std::size_t Length = At - Digits;
            if (Length == 0 || Length > 3 || Angle > 255 || (Length > 1 && Line[Digits] == '0')) {
                Why = "a turn order needs an angle from 0 to 255";
                return false;
            }
            Gun.Orders.push_back({ProgramOrder::Kind::Rotate, static_cast<std::uint8_t>(Angle)});
        }
        if (Gun.Orders.empty()) {
            Why = "a gun's field is neither '-', 'x' nor orders";
            return false;
        }
    }
    if (Ends(At)) {
        Gun.Counts = UsualCounts(Gun.Out);
        return true;
    }
    if (Line[At] != '/') {
        Why = "unexpected '" + std::string(1, Line[At]) + "' in a gun's field";
        return false;
    }
    const std::size_t Space = std::min(Line.find(' ', At), Line.size());
    std::string_view Rest = Line.substr(At + 1, Space - At - 1);
    At = Space;
    std::uint64_t* Steps[] = {&Gun.Counts.Asked,     &Gun.Counts.InTime, &Gun.Counts.Late,
                              &Gun.Counts.Malformed, &Gun.Counts.Ahead,  &Gun.Counts.Ignored};
    const std::size_t Count = static_cast<std::size_t>(std::count(Rest.begin(), Rest.end(), '.')) + 1;
    for (std::size_t I = 0; I < Count; ++I) {
        const std::size_t Dot = I + 1 < Count ? Rest.find('.') : Rest.size();
        if ((Count != 4 && Count != 6) ||
            !ParseNumber<std::uint64_t>(Rest.substr(0, Dot), 0, MaxCountStep, *Steps[I])) {
            Why = "counts are four or six numbers joined by '.'";
            return false;
        }
        Rest.remove_prefix(I + 1 < Count ? Dot + 1 : Dot);
    }
    Gun.HasCounts = true;
    return true;
}

std::int64_t CoarseNowNs() {
    timespec Now{};
    // The coarse clock costs a few nanoseconds: cheap enough to read after every move.
    clock_gettime(CLOCK_MONOTONIC_COARSE, &Now);
    return static_cast<std::int64_t>(Now.tv_sec) * 1'000'000'000 + Now.tv_nsec;
}

// Eight hex digit values, one per byte, the first (most significant) in the lowest byte as a
// little-endian load sees them, back into 32 bits.
std::uint32_t GatherNibbles(std::uint64_t Bytes) {
    Bytes = __builtin_bswap64(Bytes);
    Bytes = (Bytes | Bytes >> 4) & 0x00ff'00ff'00ff'00ffULL;
    Bytes = (Bytes | Bytes >> 8) & 0x0000'ffff'0000'ffffULL;
    return static_cast<std::uint32_t>(Bytes | Bytes >> 16);
}

// Bytes (all below 0x80) that are at least `Low`, as their high bit: adding 0x80 - Low cannot
// carry into the next byte.
constexpr std::uint64_t AtLeast(std::uint64_t Bytes, std::uint8_t Low) {
    return (Bytes + (0x80 - Low) * 0x0101'0101'0101'0101ULL) & 0x8080'8080'8080'8080ULL;
}

// Eight lowercase hex digits at `Text`, as WriteHash writes them; false for anything else. All
// eight at once: a replay reads a hash every move, and a branch per random digit is mispredicted.
bool ReadHexWord(const char* Text, std::uint32_t& Value) {
    std::uint64_t Bytes;
    std::memcpy(&Bytes, Text, 8);
    if (Bytes & 0x8080'8080'8080'8080ULL) return false;
    const std::uint64_t Decimal = AtLeast(Bytes, '0') & ~AtLeast(Bytes, '9' + 1);
    const std::uint64_t Letter = AtLeast(Bytes, 'a') & ~AtLeast(Bytes, 'f' + 1);
    if ((Decimal | Letter) != 0x8080'8080'8080'8080ULL) return false;
    // '0'-'9' end in their value; 'a'-'f' end in 1 to 6 and have bit 6 set, which adds the 9 they lack.
    const std::uint64_t Values = (Bytes & 0x0f0f'0f0f'0f0f'0f0fULL) + ((Bytes >> 6) & 0x0101'0101'0101'0101ULL) * 9;
    Value = GatherNibbles(Values);
    return true;
}

}  // namespace

CountStep UsualCounts(bool Out) { return Out ? CountStep{} : CountStep{1, 1, 0, 0}; }

void AppendEscaped(std::string& Out, std::string_view Text, bool KeepSpaces) {
    for (const char Char : Text) {
        if ((Char > ' ' || (KeepSpaces && Char == ' ')) && Char < 0x7f && Char != '\\') {
            Out += Char;
        } else {
            const auto Byte = static_cast<unsigned char>(Char);
            Out += "\\x";
            Out += Hex[Byte >> 4];
            Out += Hex[Byte & 15];
        }
    }
}

// "00" to "ff": the two digits of every byte value, looked up a byte at a time. The eight lookups
// do not wait on each other, where spreading nibbles with shifts is a chain of dependent steps.
constexpr std::array<std::array<char, 2>, 256> HexPairs = [] {
    std::array<std::array<char, 2>, 256> Table{};
    constexpr char Digits[] = "0123456789abcdef";
    for (std::size_t Byte = 0; Byte < 256; ++Byte) Table[Byte] = {Digits[Byte >> 4], Digits[Byte & 15]};
    return Table;
}();

char* WriteHash(char* Out, std::uint64_t Hash) {
    // The recorder writes a hash every move: the loop's fixed eight steps unroll into straight code.
#pragma GCC unroll 8
    for (int Shift = 56; Shift >= 0; Shift -= 8) {
        std::memcpy(Out, HexPairs[(Hash >> Shift) & 0xff].data(), 2);
        Out += 2;
    }
    return Out;
}

void AppendHash(std::string& Out, std::uint64_t Hash) {
    char Digits[16];
    WriteHash(Digits, Hash);
    Out.append(Digits, 16);
}

std::string FormatHeader(const MatchHeader& Header) {
    std::string Line(MatchMagic);
    Line += ' ' + std::to_string(MatchFormatVersion) + ' ';
    AppendEscaped(Line, Header.ProgramVersion);
    Line += " seed=" + std::to_string(Header.Seed) + " budget=" + std::to_string(Header.MoveBudgetMs);
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        Line += Gun == 0 ? " cannon=" : " helicopter=";
        AppendEscaped(Line, Header.Kinds[Gun].Text());
    }
    // Only under duel rules: a plain match's header is as it always was.
    if (Header.Duel) Line += " rules=duel health=" + std::to_string(Header.Health);
    Line += '\n';
    return Line.size() <= MaxMatchLine ? Line : std::string();
}

bool ParseHeader(std::string_view Line, MatchHeader& Header, std::string& Why) {
    std::string_view Rest = Line;
    std::string_view Fields[7];
    for (std::size_t I = 0; I < 6; ++I) {
        if (!TakeField(Rest, Fields[I])) {
            Why = "the header has fewer than 7 fields";
            return false;
        }
    }
    Fields[6] = Rest;
    // The kinds are escaped, spaces too: a space after the Helicopter's starts the rules.
    std::string_view Rules;
    if (const std::size_t Space = Rest.find(' '); Space != std::string_view::npos) {
        Fields[6] = Rest.substr(0, Space);
        Rules = Rest.substr(Space + 1);
    }
    if (Fields[0] != MatchMagic) {
        Why = "not a match file (it does not start with \"" + std::string(MatchMagic) + "\")";
        return false;
    }
    if (Fields[1] != std::to_string(MatchFormatVersion)) {
        Why = "format version '" + std::string(Fields[1].substr(0, 20)) + "' (this program reads version " +
              std::to_string(MatchFormatVersion) + ")";
        return false;
    }
    if (Fields[2].empty() || !Unescape(Fields[2], false, Header.ProgramVersion)) {
        Why = "the program version is not printable text";
        return false;
    }
    const std::string_view Keys[] = {"seed=", "budget=", "cannon=", "helicopter="};
    for (std::size_t I = 0; I < 4; ++I) {
        if (!Fields[3 + I].starts_with(Keys[I])) {
            Why = "field " + std::to_string(4 + I) + " should start with '" + std::string(Keys[I]) + "'";
            return false;
        }
        Fields[3 + I].remove_prefix(Keys[I].size());
    }
    if (!ParseNumber<std::uint32_t>(Fields[3], 0, UINT32_MAX, Header.Seed)) {
        Why = "the seed is not a whole number from 0 to 4294967295";
        return false;
    }
    if (!ParseNumber<std::int32_t>(Fields[4], 0, INT32_MAX, Header.MoveBudgetMs)) {
        Why = "the move budget is not a whole number of milliseconds from 0 to 2147483647";
        return false;
    }
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        std::string Kind, Unused;
        if (!Unescape(Fields[5 + Gun], false, Kind) || !ContestantKind::Parse(Kind, Header.Kinds[Gun], Unused)) {
            Why = "the " + std::string(MatchGunNames[Gun]) + "'s kind is not ai, human or exec:COMMAND";
            return false;
        }
    }
    Header.Duel = false;
    Header.Health = 0;
    if (!Rules.empty()) {
        constexpr std::string_view Duel = "rules=duel health=";
        if (!Rules.starts_with(Duel) ||
            !ParseNumber<std::int32_t>(Rules.substr(Duel.size()), 1, INT32_MAX, Header.Health)) {
            Why = "after the kinds the header holds only 'rules=duel health=N', N from 1 to 2147483647";
            return false;
        }
        Header.Duel = true;
    }
    return true;
}

bool ParseMoveLine(std::string_view Line, MoveLine& Move, std::string& Why) {
    std::size_t At = 0;
    for (GunMove& Gun : Move.Guns) {
        if (!ParseGun(Line, At, Gun, Why)) return false;
        if (At == Line.size()) {
            Why = "a move line is two gun fields and a hash, separated by single spaces";
            return false;
        }
        ++At;
    }
    const std::string_view Rest = Line.substr(At);
    if (Rest.size() != 16) {
        Why = "the state hash is not 16 hex digits";
        return false;
    }
    std::uint32_t High = 0, Low = 0;
    if (!ReadHexWord(Rest.data(), High) || !ReadHexWord(Rest.data() + 8, Low)) {
        Why = "the state hash is not 16 lowercase hex digits";
        return false;
    }
    const std::uint64_t Hash = static_cast<std::uint64_t>(High) << 32 | Low;
    Move.Hash = Hash;
    return true;
}

bool ParseEventLine(std::string_view Line, OutEvent& Event, std::string& Why) {
    std::string_view Rest = Line;
    std::string_view Bang, What, Gun, Move;
    if (!TakeField(Rest, Bang) || Bang != "!" || !TakeField(Rest, What) || What != "out" || !TakeField(Rest, Gun) ||
        !TakeField(Rest, Move)) {
        Why = "an event line is \"! out GUN MOVE REASON\"";
        return false;
    }
    Event.Gun = MatchGuns;
    for (std::size_t I = 0; I < MatchGuns; ++I) {
        if (Gun == MatchGunNames[I]) Event.Gun = I;
    }
    if (Event.Gun == MatchGuns) {
        Why = "an event names no gun of this arena";
        return false;
    }
    if (!ParseNumber<std::uint64_t>(Move, 0, INT64_MAX, Event.OutMove)) {
        Why = "an event's move is not a whole number";
        return false;
    }
    if (!Unescape(Rest, true, Event.Reason)) {
        Why = "an event's reason is not printable text";
        return false;
    }
    return true;
}

MatchReader::MatchReader(std::string Name, MatchSource Source)
    : FileName(std::move(Name)), Source(std::move(Source)), Buffer(16 * MaxMatchLine) {
    std::string_view Text;
    if (!NextLine(Text)) Fail(Cut ? "the header is cut short" : "the file is empty: no header");
    std::string Why;
    if (!ParseHeader(Text, Head, Why)) Fail(Why);
}

void MatchReader::Fail(const std::string& What) const {
    throw RuntimeError(ErrBadFileFormat, FileName + " line " + std::to_string(Line + (Line == 0)) + ": " + What);
}

bool MatchReader::NextLine(std::string_view& Text) {
    for (;;) {
        const char* Start = Buffer.data() + Begin;
        if (const void* Newline = std::memchr(Start, '\n', End - Begin)) {
            const auto Length = static_cast<std::size_t>(static_cast<const char*>(Newline) - Start);
            ++Line;
            if (Length + 1 > MaxMatchLine) Fail("longer than " + std::to_string(MaxMatchLine) + " bytes");
            Text = {Start, Length};
            Begin += Length + 1;
            return true;
        }
        if (End - Begin >= MaxMatchLine) {
            ++Line;
            Fail("longer than " + std::to_string(MaxMatchLine) + " bytes");
        }
        if (Exhausted) {
            // A last line without its '\n' is a write a crash cut short: the file ends before it.
            Cut = End > Begin;
            return false;
        }
        std::memmove(Buffer.data(), Start, End - Begin);
        End -= Begin;
        Begin = 0;
        const std::size_t Got = this->Source(Buffer.data() + End, Buffer.size() - End);
        if (Got == MatchSourceStopped) {
            Stopped = true;
            return false;
        }
        if (Got == 0) Exhausted = true;
        End += Got;
    }
}

bool MatchReader::Next(MoveLine& Move, std::vector<OutEvent>& Events) {
    Events.clear();
    std::string_view Text;
    std::string Why;
    while (NextLine(Text)) {
        if (!Text.starts_with('!')) {
            if (!ParseMoveLine(Text, Move, Why)) Fail(Why);
            return true;
        }
        OutEvent Event;
        if (!ParseEventLine(Text, Event, Why)) Fail(Why);
        // A program goes out once: this also bounds how many events can pile up before a move.
        if (OutSeen[Event.Gun]) Fail(std::string(MatchGunNames[Event.Gun]) + " goes out a second time");
        OutSeen[Event.Gun] = true;
        Events.push_back(std::move(Event));
    }
    return false;
}

MatchSource OpenMatchFile(const std::string& Path) {
    int Fd = -1;
    // A FIFO's open waits for its writer; a stop signal ends that wait (handlers do not restart it).
    while ((Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
        if (StopSignalPending()) throw StoppedDuringStart();
    }
    if (Fd < 0) throw RuntimeError(ErrFileNotFound, Path + ": " + std::strerror(errno));
    // Shared, so the descriptor closes with the last copy of the source.
    auto Owned = std::shared_ptr<int>(new int(Fd), [](int* Held) {
        close(*Held);
        delete Held;
    });
    return [Owned, Path](char* Buffer, std::size_t Size) -> std::size_t {
        for (;;) {
            const ssize_t Got = read(*Owned, Buffer, Size);
            if (Got >= 0) return static_cast<std::size_t>(Got);
            if (errno != EINTR) throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(errno));
            // A writer that pauses holds the replay only until a stop signal.
            if (StopSignalPending()) return MatchSourceStopped;
        }
    };
}

MatchWriter::MatchWriter(std::string Path) : Path(std::move(Path)) {
    Fd = OpenOutput(this->Path, "the match");
    if (Fd < 0) throw StoppedDuringStart();
    LastFlushNs = CoarseNowNs();
}

MatchWriter::~MatchWriter() {
    if (Fd < 0) return;
    try {
        Flush();
    } catch (const RuntimeError&) {
        // Reported by Close on the way out of a normal run; after an error there is no one to tell.
    }
    close(Fd);
}

void MatchWriter::Write(std::string_view Lines) {
    while (!Lines.empty()) {
        const std::size_t Part = std::min(Lines.size(), BufferSize - Used);
        std::memcpy(Buffer.get() + Used, Lines.data(), Part);
        Used += Part;
        Lines.remove_prefix(Part);
        if (Used >= FlushAt) Flush();
    }
    if (EveryLine || ClockSaysFlush()) Flush();
}

bool MatchWriter::ClockSaysFlush() const { return CoarseNowNs() - LastFlushNs >= 10'000'000; }

void MatchWriter::Flush() {
    LastFlushNs = CoarseNowNs();
    if (Abandoned) {
        Used = 0;
        return;
    }
    std::size_t Done = 0;
    int Error = 0;
    const WriteEnd End = WriteOutput(Fd, Buffer.get(), Used, Done, Error);
    Used = 0;
    if (End == WriteEnd::Stalled) {
        // After a stop, a reader that takes nothing loses the rest; a later write would leave a gap.
        Abandoned = true;
        std::fprintf(stderr, "brakkenfel: the match's reader took nothing for half a second after the stop; "
                             "%s ends at the last whole write\n", Printable(Path).c_str());
    } else if (End != WriteEnd::Written) {
        throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(End == WriteEnd::Broken ? EPIPE : Error));
    }
}

void MatchWriter::Close() {
    if (Fd < 0) return;
    Flush();
    const int Closing = Fd;
    Fd = -1;
    if (close(Closing) != 0) throw RuntimeError(ErrPathFileAccess, Path + ": " + std::strerror(errno));
}

}  // namespace brakkenfel
