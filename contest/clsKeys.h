// The player at the keys: a contestant steered by the keys a person holds down in the window.
#pragma once

#include <memory>

#include "contest/Sprite.h"
#include "display/WindowInput.h"

namespace brakkenfel {

/// Orders, each move, what the held keys ask: a one-step turn (guns turn only toward higher
/// angles) and a shot, which the registry carries out whenever the gun has reloaded.
class clsKeys : public Sprite {
public:
    /// Reads `Keys` on every move; it must outlive the contestant.
    explicit clsKeys(const KeyState& Keys) : Keys(&Keys) {}
    /// Keeps the controls.
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// The orders the keys held at this move give.
    void Update() override;

private:
    const KeyState* Keys;
    std::shared_ptr<SpriteActions> Actions;
};

}  // namespace brakkenfel
