// The human player's seat, with nothing behind it yet.
#include "contest/clsHuman.h"

namespace brakkenfel {

void clsHuman::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    (void)NewEnemies;
    Actions = NewActions;
}

void clsHuman::Update() {}

}  // namespace brakkenfel
