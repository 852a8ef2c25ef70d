// The floating-point guard called after every allocated-or-empty test of a growable array.
#pragma once

namespace brakkenfel {

/// Whether FloatingPointGuard does anything; it never does, so the guard costs nothing.
inline bool FloatingPointGuardEnabled() { return false; }

/// Clears pending floating-point exception flags after a throw-away conversion of 0.1.
void AbsorbFloatingPointFault();

/// Absorbs a pending floating-point fault before the next calculation, when enabled; it is not.
inline void FloatingPointGuard() {
    if (FloatingPointGuardEnabled()) AbsorbFloatingPointFault();
}

/// `Test`, the outcome of an is-it-allocated check, after running the guard that follows every such check.
inline bool Guarded(bool Test) {
    FloatingPointGuard();
    return Test;
}

}  // namespace brakkenfel
