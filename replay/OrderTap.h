// The seam through which a recording sees every order a contestant gives its gun.
#pragma once

#include <cstdint>

namespace brakkenfel {

/// Told of each order given through a SpriteActions, just before the registry carries it out.
class OrderTap {
public:
    virtual ~OrderTap() = default;
    /// The gun at registry slot `Index` was ordered to turn toward `Angle`.
    virtual void Rotate(std::int16_t Index, std::uint8_t Angle) = 0;
    /// The gun at registry slot `Index` was ordered to shoot (whether or not it has reloaded).
    virtual void Shoot(std::int16_t Index) = 0;
};

/// The tap of the run being recorded; null (no cost beyond a test) when nothing records.
extern OrderTap* ActiveOrderTap;

}  // namespace brakkenfel
