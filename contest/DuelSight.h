// What a gun sees of its foe under duel rules: the sight test and the reading of the foe list.
#pragma once

#include <cstdint>

#include "contest/Sprite.h"

namespace brakkenfel {

class clsSprites;

/// Half the width of a gun's sight, in angle steps.
inline constexpr std::int32_t SightSteps = 4;

/// Which side of the ray at angle `Ray` the offset (`Dx`, `Dy`) lies on: positive at a greater
/// angle (within half a turn), negative at a smaller one, zero on the line through the ray. The
/// sign of Dx * cos - Dy * sin, with cos and sin exact (0, 1, -1, or equal) at the multiples of 32
/// and the angle tables' values elsewhere, formed in double where both products are exact: the
/// same answer in every build.
int RaySide(std::uint8_t Ray, std::int32_t Dx, std::int32_t Dy);

/// True when the offset (`Dx`, `Dy`) from a gun pointing at `Angle` lies within SightSteps angle
/// steps either side, both edges included: not behind the ray at Angle - 4, not ahead of the ray
/// at Angle + 4. Needs the angle tables.
bool InSightOf(std::uint8_t Angle, std::int32_t Dx, std::int32_t Dy);

/// What the gun in slot `Own` sees now of the gun in slot `Foe`; SeenBefore is left false for the
/// caller, who keeps the history.
FoeReading ReadFoe(const clsSprites& Registry, std::int16_t Own, std::int16_t Foe);

}  // namespace brakkenfel
