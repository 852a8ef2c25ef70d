// The 64-bit hash of the whole simulated state after a move, which a replay checks move by move.
#pragma once

#include <cstdint>

namespace brakkenfel {

/// FNV-1a's offset basis and prime, applied to one 64-bit word per gun and per bullet slot.
inline constexpr std::uint64_t StateHashBasis = 0xcbf29ce484222325ULL;
/// The multiplier of each step.
inline constexpr std::uint64_t StateHashPrime = 0x100000001b3ULL;

/// The hash of the registry's guns and every bullet slot as they stand; the words and their order
/// are documented in docs/replays.md so that anyone can recompute it from a trace.
std::uint64_t StateHash();

}  // namespace brakkenfel
