// The contestant's whole view of the arena: what a contestant implements and what it may use.
//
// A contestant is a class derived from Sprite. The arena calls Initialize once when the gun is
// registered, then Update once per move (90 moves a second). Inside Update the contestant reads
// its own gun through the SpriteActions it was given and orders turns and shots; the arena turns
// the gun one step per move toward the ordered angle and fires when the gun has reloaded.
//
// Angles: 0 to 255 for a full turn; 0 points down (+Y), 64 right (+X), 128 up, 192 left.
// Positions: pixels of the field, origin at its top-left corner, X right, Y down.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace brakkenfel {

/// A contestant's controls, bound to one gun: read its state, order a turn, order a shot.
class SpriteActions {
public:
    /// The gun's current angle (0 to 255).
    std::uint8_t Angle() const;
    /// The gun's health: under duel rules what it has left; always 0 under plain rules.
    std::int32_t Health() const;
    /// Binds these controls to the gun at registry slot `Index`; the arena calls it, not contestants.
    void Initialize(std::int16_t Index);
    /// Orders the gun to turn toward `Angle`, one step per move, always by increasing angle.
    void Rotate(std::uint8_t Angle);
    /// True while the gun waits out a turning delay (not whether its angle differs from the target).
    bool Rotating() const;
    /// Orders a shot; the gun fires only if it has reloaded, otherwise the order is dropped.
    void Shoot();
    /// The gun's horizontal position, rounded to a whole pixel.
    std::int16_t X() const;
    /// The gun's vertical position, rounded to a whole pixel.
    std::int16_t Y() const;
    /// Moves until the gun may fire again; 0 means ready (a contestant could count it itself).
    std::int16_t ReloadLeft() const;

private:
    std::int16_t SpriteIndex = 0;
};

/// What the arena saw of a foe at the start of a contestant's Update (docs/duel.md defines each).
struct FoeReading {
    float Distance = 0.0f;       ///< between the two centres, in pixels
    std::int32_t Health = 0;     ///< the foe's health
    bool InSight = false;        ///< the foe's centre lies within 4 angle steps of where the gun points
    bool SeenBefore = false;     ///< InSight was true at some earlier move
    std::int32_t Strength = 0;   ///< the foe's bullets in flight
    std::int32_t WatchingAt = 0; ///< the foe's angle
};

/// What a contestant may learn of a foe. Under plain rules no foe is ever described; under duel
/// rules the foe list holds one, brought up to date before each of the contestant's moves. An
/// entry nothing has described answers zero or false.
class SpriteEnemy {
public:
    /// Between the two centres, in pixels.
    float Distance() const;
    /// Always false: the only foe is the other gun.
    bool Friendly() const;
    /// The foe's health.
    std::int32_t Health() const;
    /// Records the index of the sprite this entry describes.
    void Initialize(std::int16_t Index);
    /// The foe's centre lies within 4 angle steps either side of where the gun points.
    bool InSight() const;
    /// InSight was true at some earlier move.
    bool SeenBefore() const;
    /// The foe's bullets in flight.
    std::int32_t Strength() const;
    /// The foe's angle.
    std::int32_t WatchingAt() const;
    /// The arena's update before each move of the contestant; contestants do not call it.
    void See(const FoeReading& Now) { Seen = Now; }

private:
    std::int16_t SpriteIndex = 0;
    FoeReading Seen;
};

/// The foe list handed to a contestant: empty under plain rules, the other gun under duel rules.
using SpriteEnemyList = std::vector<std::shared_ptr<SpriteEnemy>>;

/// What every contestant implements.
class Sprite {
public:
    virtual ~Sprite() = default;
    /// Called once at registration with the gun's controls and the foe list. The gun's
    /// position and angle are stored only after this returns, so queries here read the slot's old state.
    virtual void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) = 0;
    /// Called once per move, after the gun has taken this move's turning step and reload countdown.
    virtual void Update() = 0;
};

}  // namespace brakkenfel
