// What the core computes that must come out the same in every build, written out for comparison.
#pragma once

#include <string>

namespace brakkenfel {

/// Seeds whose duel fields the probe draws: 0 to ProbeSeeds - 1.
inline constexpr unsigned ProbeSeeds = 1000;

/// The angle tables' 512 floats as 8-hex-digit bit patterns, one line per angle step ("STEP SIN
/// COS"), then the duel field of each seed below ProbeSeeds ("seed N CANNON_X Y ANGLE HELICOPTER_X
/// Y ANGLE PLACE_DRAWS ANGLE_DRAWS"). The native build and the WebAssembly build must give the
/// same text.
std::string ProbeText();

}  // namespace brakkenfel
