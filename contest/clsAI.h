// The computer gunner: sweeps its gun up to 255 and back down to 0 and fires on every move.
#pragma once

#include <memory>

#include "contest/Sprite.h"

namespace brakkenfel {

/// Orders a one-step turn whenever its gun has no turning delay, reversing at 255 and at 0,
/// and orders a shot on every move.
class clsAI : public Sprite {
public:
    /// Keeps `NewActions`; the foe list is not kept.
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// One sweep step and a shot order.
    void Update() override;

private:
    std::shared_ptr<SpriteActions> Actions;
    bool SweepDown = false;
};

}  // namespace brakkenfel
