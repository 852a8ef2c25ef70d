// The arena's own random generator: SplitMix64, the same numbers in every build, native or WebAssembly.
#pragma once

#include <cstdint>

namespace brakkenfel {

/// SplitMix64 (a 64-bit counter stepped by the golden ratio, then mixed): small, fast, and defined
/// by integer arithmetic only, so every build draws the same sequence from the same seed.
class SplitMix64 {
public:
    /// A generator whose state starts at `Seed`.
    explicit SplitMix64(std::uint64_t Seed) : State(Seed) {}

    /// The next 64 bits.
    std::uint64_t Next() {
        std::uint64_t Z = (State += 0x9e3779b97f4a7c15u);
        Z = (Z ^ (Z >> 30)) * 0xbf58476d1ce4e5b9u;
        Z = (Z ^ (Z >> 27)) * 0x94d049bb133111ebu;
        return Z ^ (Z >> 31);
    }

    /// A whole number from 0 to `Count` - 1, each equally likely (`Count` at least 1): a draw that
    /// lands in the incomplete last block of 2^64 is thrown away and drawn again, so that taking
    /// the remainder favours no value.
    std::uint64_t Below(std::uint64_t Count) {
        const std::uint64_t Leftover = (UINT64_MAX % Count + 1) % Count;  // 2^64 mod Count
        for (;;) {
            const std::uint64_t Drawn = Next();
            if (Leftover == 0 || Drawn < 0 - Leftover) return Drawn % Count;
        }
    }

private:
    std::uint64_t State;
};

}  // namespace brakkenfel
