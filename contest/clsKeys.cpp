// The player at the keys: held keys become orders, one move at a time.
#include "contest/clsKeys.h"

#include <cstdint>

namespace brakkenfel {

void clsKeys::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    (void)NewEnemies;
    Actions = NewActions;
}

void clsKeys::Update() {
    // The turning step of the next move reaches this target; ordered anew each move, the gun keeps
    // turning one step a move for as long as the key is held.
    if (Keys->Turn || Keys->TurnTapped) Actions->Rotate(static_cast<std::uint8_t>(Actions->Angle() + 1));
    if (Keys->Shoot || Keys->ShootTapped) Actions->Shoot();
}

}  // namespace brakkenfel
