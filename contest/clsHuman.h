// A seat for a human player: it keeps its controls and does nothing on its moves.
#pragma once

#include <memory>

#include "contest/Sprite.h"

namespace brakkenfel {

/// Reads no input and orders neither turns nor shots; its gun stands still and never fires.
class clsHuman : public Sprite {
public:
    /// Keeps `NewActions`; the foe list is not kept.
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// Does nothing.
    void Update() override;

private:
    std::shared_ptr<SpriteActions> Actions;
};

}  // namespace brakkenfel
