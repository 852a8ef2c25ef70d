// Float-to-integer conversion as the whole program does it: nearest, halves to even, overflow checked.
#pragma once

#include <cmath>
#include <concepts>
#include <limits>
#include <string>

#include "platform/Errors.h"

namespace brakkenfel {

/// `Value` rounded to the nearest integer (2.5 gives 2, 3.5 gives 4); error 6, with `What` as its
/// detail, when the result does not fit `Integer` or `Value` is not a number.
template <std::signed_integral Integer, std::floating_point Real>
Integer RoundChecked(Real Value, const std::string& What = {}) {
    const Real Rounded = std::nearbyint(Value);
    // Both limits are powers of two, exact in any floating type; written so that NaN fails too.
    constexpr Real Lowest = static_cast<Real>(std::numeric_limits<Integer>::min());
    if (!(Rounded >= Lowest && Rounded < -Lowest)) throw RuntimeError(ErrOverflow, What);
    return static_cast<Integer>(Rounded);
}

}  // namespace brakkenfel
