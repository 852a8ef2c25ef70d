// The text lines spoken with an outside contestant program: writing requests, judging replies.
//
// Every function here is pure: no input or output, no allocation, the same line always gets the
// same verdict. The process and timing side lives in ContestantProcess and clsProgram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace brakkenfel {

/// Longest line either side may send, its '\n' included.
inline constexpr std::size_t MaxProtocolLine = 256;

/// The protocol version this arena speaks, as it appears in the greeting.
inline constexpr int ProtocolVersion = 1;

/// One order of a reply: turn toward an angle, or shoot.
struct ProgramOrder {
    /// What the order asks for.
    enum class Kind : std::uint8_t { Rotate, Shoot };
    /// Rotate or Shoot.
    Kind What = Kind::Shoot;
    /// The target angle of a Rotate; 0 for a Shoot.
    std::uint8_t Angle = 0;

    /// Orders compare equal when they ask for the same thing.
    bool operator==(const ProgramOrder&) const = default;
};

/// How a reply line was judged against the move the arena is waiting on.
enum class ReplyVerdict : std::uint8_t {
    Valid,       ///< Names the current move; every order well formed.
    Earlier,     ///< Names an earlier move: a late reply, to be discarded.
    Later,       ///< Names a move not yet asked for.
    Malformed,   ///< Not "N" followed by " rotate A" and " shoot" orders.
    OutOfRange,  ///< Well formed, but a rotate angle is above 255.
};

/// A judged reply: the verdict, the move it named (when it named one) and its orders (when valid).
struct ProgramReply {
    /// How the line was judged.
    ReplyVerdict Verdict = ReplyVerdict::Malformed;
    /// The move number the line starts with; 0 when the line does not start with one.
    std::uint64_t Move = 0;
    /// How many entries of Orders are used.
    std::size_t OrderCount = 0;
    /// The orders in the order given; a line of at most MaxProtocolLine bytes holds fewer than 64.
    std::array<ProgramOrder, 64> Orders{};

    /// The used part of Orders.
    std::span<const ProgramOrder> OrderList() const { return {Orders.data(), OrderCount}; }
};

/// Judges one reply line (without its '\n'; one trailing '\r' is tolerated) for move `CurrentMove`.
ProgramReply ParseReply(std::string_view Line, std::uint64_t CurrentMove);

/// True when `Line` (without its '\n'; one trailing '\r' tolerated) is exactly "ready".
bool IsReadyLine(std::string_view Line);

/// Writes "brakkenfel 1 NAME\n" into `Out`; returns its length, or 0 if it does not fit.
std::size_t FormatGreeting(std::span<char> Out, std::string_view GunName);

/// Writes "move N ANGLE X Y ROTATING\n" into `Out`; returns its length, or 0 if it does not fit.
std::size_t FormatMove(std::span<char> Out, std::uint64_t Move, std::uint8_t Angle, std::int16_t X,
                       std::int16_t Y, bool Rotating);

}  // namespace brakkenfel
