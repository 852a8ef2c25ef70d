// What a contestant may learn of a foe; no foe is ever described, so every answer is a constant.
#include "contest/Sprite.h"

namespace brakkenfel {

float SpriteEnemy::Distance() const { return 0.0f; }

bool SpriteEnemy::Friendly() const { return false; }

std::int32_t SpriteEnemy::Health() const { return 0; }

void SpriteEnemy::Initialize(std::int16_t Index) { SpriteIndex = Index; }

bool SpriteEnemy::InSight() const { return false; }

bool SpriteEnemy::SeenBefore() const { return false; }

std::int32_t SpriteEnemy::Strength() const { return 0; }

std::int32_t SpriteEnemy::WatchingAt() const { return 0; }

}  // namespace brakkenfel
