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

/// The protocol version this arena speaks under plain rules, as it appears in the greeting.
inline constexpr int ProtocolVersion = 1;
/// The version spoken under duel rules: each move line also tells health, reload and the foe.
inline constexpr int DuelProtocolVersion = 2;

/// What a version 2 move line adds after the version 1 fields, in this order.
struct DuelMoveFields {
    std::int32_t Health = 0;       ///< the gun's own health
    std::int16_t Reload = 0;       ///< moves until the gun may fire again
    float Distance = 0.0f;         ///< the foe's Distance, then its other values in the foe list's order
    bool Friendly = false;
    std::int32_t FoeHealth = 0;
    bool InSight = false;
    bool SeenBefore = false;
    std::int32_t Strength = 0;
    std::int32_t WatchingAt = 0;
};

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

/// Writes "brakkenfel VERSION NAME\n" into `Out`; returns its length, or 0 if it does not fit.
std::size_t FormatGreeting(std::span<char> Out, std::string_view GunName, int Version = ProtocolVersion);

/// Writes "move N ANGLE X Y ROTATING\n" into `Out`; returns its length, or 0 if it does not fit.
std::size_t FormatMove(std::span<char> Out, std::uint64_t Move, std::uint8_t Angle, std::int16_t X,
                       std::int16_t Y, bool Rotating);

/// Writes the version 2 move line into `Out`: "move N ANGLE X Y ROTATING" and then HEALTH RELOAD
/// DISTANCE FRIENDLY FOE_HEALTH IN_SIGHT SEEN_BEFORE STRENGTH WATCHING_AT, flags as 0 or 1 and the
/// distance as the shortest decimal that reads back as the same 32-bit float. Returns its length,
/// or 0 if it does not fit.
std::size_t FormatDuelMove(std::span<char> Out, std::uint64_t Move, std::uint8_t Angle, std::int16_t X,
                           std::int16_t Y, bool Rotating, const DuelMoveFields& Duel);

}  // namespace brakkenfel
