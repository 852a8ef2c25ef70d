// What a contestant may learn of a foe: the arena's last reading of it, zero until there is one.
#include "contest/Sprite.h"

namespace brakkenfel {

float SpriteEnemy::Distance() const { return Seen.Distance; }

bool SpriteEnemy::Friendly() const { return false; }

std::int32_t SpriteEnemy::Health() const { return Seen.Health; }

void SpriteEnemy::Initialize(std::int16_t Index) { SpriteIndex = Index; }

bool SpriteEnemy::InSight() const { return Seen.InSight; }

bool SpriteEnemy::SeenBefore() const { return Seen.SeenBefore; }

std::int32_t SpriteEnemy::Strength() const { return Seen.Strength; }

std::int32_t SpriteEnemy::WatchingAt() const { return Seen.WatchingAt; }

}  // namespace brakkenfel
