// The work the floating-point guard would do if it were switched on.
#include "bullets/modFloatingPointError.h"

#include <cfenv>
#include <cmath>
#include <cstdint>

namespace brakkenfel {

void AbsorbFloatingPointFault() {
    // The conversion only has to run, so that a fault still pending in the unit surfaces here
    // rather than in the caller's next calculation; its flags are then dropped with the rest.
    volatile double tenth = 0.1;
    volatile std::int32_t discarded = static_cast<std::int32_t>(std::nearbyint(tenth));
    static_cast<void>(discarded);
    std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace brakkenfel
