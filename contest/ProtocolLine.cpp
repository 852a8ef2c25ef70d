// Judging reply lines and writing request lines of the contestant program protocol.
#include "contest/ProtocolLine.h"

#include <charconv>
#include <cstring>

namespace brakkenfel {

namespace {

// Drops the one '\r' a program written for another platform's line ends may leave.
std::string_view WithoutCarriageReturn(std::string_view Line) {
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    return Line;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

// Reads a run of decimal digits at Pos; false when there is none. Values beyond Limit saturate
// at Limit + 1 so that any length of digits stays cheap and cannot overflow.
bool ReadNumber(std::string_view Text, std::size_t& Pos, std::uint64_t Limit, std::uint64_t& Value) {
    const std::size_t Start = Pos;
    Value = 0;
    while (Pos < Text.size() && IsDigit(Text[Pos])) {
        const std::uint64_t Digit = static_cast<std::uint64_t>(Text[Pos] - '0');
        Value = Value > (Limit - Digit) / 10 ? Limit + 1 : Value * 10 + Digit;
        ++Pos;
    }
    return Pos > Start;
}

// True, and Pos moved past it, when Word starts at Pos and ends at a space or the line's end.
bool ReadWord(std::string_view Text, std::size_t& Pos, std::string_view Word) {
    if (Text.substr(Pos, Word.size()) != Word) return false;
    const std::size_t End = Pos + Word.size();
    if (End != Text.size() && Text[End] != ' ') return false;
    Pos = End;
    return true;
}

template <typename Integer>
std::size_t AppendNumber(std::span<char> Out, std::size_t Used, Integer Value) {
    if (Used > Out.size()) return Used;
    const auto [End, Error] = std::to_chars(Out.data() + Used, Out.data() + Out.size(), Value);
    if (Error != std::errc{}) return Out.size() + 1;
    return static_cast<std::size_t>(End - Out.data());
}

std::size_t AppendText(std::span<char> Out, std::size_t Used, std::string_view Text) {
    if (Used > Out.size() || Text.size() > Out.size() - Used) return Out.size() + 1;
    std::memcpy(Out.data() + Used, Text.data(), Text.size());
    return Used + Text.size();
}

// A finished line counts only if it fits, its '\n' included, within both Out and the line limit.
std::size_t Finish(std::span<char> Out, std::size_t Used) {
    Used = AppendText(Out, Used, "\n");
    return Used <= Out.size() && Used <= MaxProtocolLine ? Used : 0;
}

}  // namespace

namespace {

ProgramReply Judge(std::string_view Line, std::uint64_t CurrentMove) {
    ProgramReply Reply;
    Line = WithoutCarriageReturn(Line);
    if (Line.size() >= MaxProtocolLine) return Reply;

    std::size_t Pos = 0;
    std::uint64_t Move = 0;
    constexpr std::uint64_t MoveLimit = 9'999'999'999'999'999'999ULL;
    if (!ReadNumber(Line, Pos, MoveLimit, Move) || Move > MoveLimit) return Reply;
    if (Pos != Line.size() && Line[Pos] != ' ') return Reply;
    Reply.Move = Move;
    if (Move < CurrentMove) {
        Reply.Verdict = ReplyVerdict::Earlier;
        return Reply;
    }
    if (Move > CurrentMove) {
        Reply.Verdict = ReplyVerdict::Later;
        return Reply;
    }

    bool AngleTooLarge = false;
    while (Pos < Line.size()) {
        ++Pos;  // the one space before each order
        if (Reply.OrderCount == Reply.Orders.size()) return Reply;
        ProgramOrder& Order = Reply.Orders[Reply.OrderCount];
        if (ReadWord(Line, Pos, "shoot")) {
            Order = {ProgramOrder::Kind::Shoot, 0};
        } else if (ReadWord(Line, Pos, "rotate")) {
            std::uint64_t Angle = 0;
            if (Pos == Line.size()) return Reply;
            ++Pos;
            if (!ReadNumber(Line, Pos, 255, Angle)) return Reply;
            if (Pos != Line.size() && Line[Pos] != ' ') return Reply;
            if (Angle > 255) AngleTooLarge = true;
            Order = {ProgramOrder::Kind::Rotate, static_cast<std::uint8_t>(Angle & 0xFF)};
        } else {
            return Reply;
        }
        ++Reply.OrderCount;
    }
    if (AngleTooLarge) {
        Reply.Verdict = ReplyVerdict::OutOfRange;
        return Reply;
    }
    Reply.Verdict = ReplyVerdict::Valid;
    return Reply;
}

}  // namespace

ProgramReply ParseReply(std::string_view Line, std::uint64_t CurrentMove) {
    ProgramReply Reply = Judge(Line, CurrentMove);
    // A refused line gives nothing, not even the orders read before its fault.
    if (Reply.Verdict != ReplyVerdict::Valid) Reply.OrderCount = 0;
    return Reply;
}

bool IsReadyLine(std::string_view Line) { return WithoutCarriageReturn(Line) == "ready"; }

std::size_t FormatGreeting(std::span<char> Out, std::string_view GunName, int Version) {
    std::size_t Used = AppendText(Out, 0, "brakkenfel ");
    Used = AppendNumber(Out, Used, Version);
    Used = AppendText(Out, Used, " ");
    Used = AppendText(Out, Used, GunName);
    return Finish(Out, Used);
}

std::size_t FormatMove(std::span<char> Out, std::uint64_t Move, std::uint8_t Angle, std::int16_t X,
                       std::int16_t Y, bool Rotating) {
    std::size_t Used = AppendText(Out, 0, "move ");
    Used = AppendNumber(Out, Used, Move);
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, static_cast<unsigned>(Angle));
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, X);
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Y);
    Used = AppendText(Out, Used, Rotating ? " 1" : " 0");
    return Finish(Out, Used);
}

std::size_t FormatDuelMove(std::span<char> Out, std::uint64_t Move, std::uint8_t Angle, std::int16_t X,
                           std::int16_t Y, bool Rotating, const DuelMoveFields& Duel) {
    const std::size_t Plain = FormatMove(Out, Move, Angle, X, Y, Rotating);
    if (Plain == 0) return 0;
    std::size_t Used = Plain - 1;  // over the '\n'
    const auto Flag = [](bool Value) { return Value ? " 1" : " 0"; };
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Duel.Health);
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Duel.Reload);
    Used = AppendText(Out, Used, " ");
    // Shortest round trip: the program reads back the very float the arena computed.
    Used = AppendNumber(Out, Used, Duel.Distance);
    Used = AppendText(Out, Used, Flag(Duel.Friendly));
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Duel.FoeHealth);
    Used = AppendText(Out, Used, Flag(Duel.InSight));
    Used = AppendText(Out, Used, Flag(Duel.SeenBefore));
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Duel.Strength);
    Used = AppendText(Out, Used, " ");
    Used = AppendNumber(Out, Used, Duel.WatchingAt);
    return Finish(Out, Used);
}

}  // namespace brakkenfel
