// A contestant's controls: each one forwards to the registry for the sprite it is bound to.
#include "contest/Sprite.h"

#include "app/modMain.h"
#include "platform/Errors.h"
#include "replay/OrderTap.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

/// The one registry; a contestant acting after it is gone gets an error, not a crash.
clsSprites& Registry() {
    if (!Sprites) {
        throw RuntimeError(ErrInvalidProcedure, "there is no sprite registry");
    }
    return *Sprites;
}

}  // namespace

std::uint8_t SpriteActions::Angle() const { return Registry().Angle(SpriteIndex); }

// The scoreboard keeps health: 0 for every gun under plain rules.
std::int32_t SpriteActions::Health() const { return HealthOf(SpriteIndex); }

void SpriteActions::Initialize(std::int16_t Index) { SpriteIndex = Index; }

void SpriteActions::Rotate(std::uint8_t Angle) {
    if (ActiveOrderTap) ActiveOrderTap->Rotate(SpriteIndex, Angle);
    Registry().Rotate(SpriteIndex, Angle);
}

bool SpriteActions::Rotating() const {
    return std::get<std::uint8_t>(Registry().RotateLeft(SpriteIndex)) > 0;
}

void SpriteActions::Shoot() {
    if (ActiveOrderTap) ActiveOrderTap->Shoot(SpriteIndex);
    Registry().Shoot(SpriteIndex);
}

std::int16_t SpriteActions::X() const { return Registry().X(SpriteIndex); }

std::int16_t SpriteActions::Y() const { return Registry().Y(SpriteIndex); }

std::int16_t SpriteActions::ReloadLeft() const { return Registry().ReloadLeft(SpriteIndex); }

}  // namespace brakkenfel
