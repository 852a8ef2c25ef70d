// The fair seeded field of duel rules: where each gun stands and where it points at the first move.
#pragma once

#include <array>
#include <cstdint>

namespace brakkenfel {

/// The field the duel field is drawn for: the stored layout's picture box.
inline constexpr std::int32_t DuelFieldWidth = 373;
inline constexpr std::int32_t DuelFieldHeight = 285;
/// Each gun's square, as registered and drawn.
inline constexpr std::int32_t DuelGunSize = 16;
/// Least distance between the two centres, in pixels.
inline constexpr std::int32_t DuelMinDistance = 64;
/// A flight that has neither hit nor left after this many moves is given up (none comes close).
inline constexpr std::int32_t DuelLongestFlight = 100000;
/// What a flight that never hits counts: more than any real turn plus flight.
inline constexpr std::int32_t DuelNoHit = INT32_MAX;

/// One gun's place: its centre in whole pixels and its angle at the first move.
struct GunPlace {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::uint8_t Angle = 0;
};

/// A drawn field: the Cannon (index 0) and the Helicopter (1), and how many draws it took.
struct DuelField {
    std::array<GunPlace, 2> Guns{};
    std::int32_t PlaceDraws = 0;  ///< pairs of centres drawn until one was fair
    std::int32_t AngleDraws = 0;  ///< Cannon start angles drawn until the Helicopter had a match
};

/// Moves of flight until a bullet fired at `Angle` from the centre (`FromX`, `FromY`) strikes the
/// 16 x 16 square centred on (`AtX`, `AtY`) by the hit rule, in a field `Width` x `Height`; DuelNoHit
/// when it leaves the field first. The flight is the bullet pool's own step, float for float.
/// Needs the angle tables (BuildTrigTables).
std::int32_t FlightToHit(std::int32_t FromX, std::int32_t FromY, std::uint8_t Angle, std::int32_t AtX,
                         std::int32_t AtY, std::int32_t Width, std::int32_t Height);

/// For each start angle a0, the least over the angles a that hit of ((a - a0) mod 256) + the
/// flight to that hit: the moves a gun needs, at best, to land its first hit. `Flights` holds
/// FlightToHit for each angle.
std::array<std::int32_t, 256> FirstHitTimes(const std::array<std::int32_t, 256>& Flights);

/// The fair field of `Seed`, drawn with SplitMix64 seeded with it. The order of the draws is part
/// of the rules (docs/duel.md): the Cannon's X, its Y, the Helicopter's X, its Y, each uniform over
/// the centres whose square lies wholly inside the field, again until the centres are at least
/// DuelMinDistance apart, each gun can hit the other, and some pair of start angles is balanced;
/// then the Cannon's start angle, uniform over 0 to 255, and the Helicopter's, uniform among the
/// angles whose first-hit time equals the Cannon's, the Cannon's drawn again while none does.
/// Builds the angle tables itself.
DuelField DrawDuelField(std::uint32_t Seed, std::int32_t Width = DuelFieldWidth,
                        std::int32_t Height = DuelFieldHeight);

}  // namespace brakkenfel
