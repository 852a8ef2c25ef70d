// A contestant's seat under duel rules: fills its foe list and reads the foe before each move.
#pragma once

#include <memory>

#include "contest/Sprite.h"

namespace brakkenfel {

/// Wraps any contestant: at registration it puts one SpriteEnemy, for the other gun, into the foe
/// list; before each Update it brings that entry up to date (after the gun's turning step, as the
/// contestant sees its own gun) and keeps the sight history that SeenBefore answers from.
class clsDuelSeat : public Sprite {
public:
    /// The seat of `Inner` on the Cannon (`IsCannon`) or on the Helicopter.
    clsDuelSeat(std::shared_ptr<Sprite> Inner, bool IsCannon) : Inner(std::move(Inner)), IsCannon(IsCannon) {}

    /// Fills the foe list, then hands it and the controls to the contestant.
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// Reads the foe, then lets the contestant move.
    void Update() override;

private:
    std::shared_ptr<Sprite> Inner;
    bool IsCannon;
    std::shared_ptr<SpriteEnemy> Foe;
    bool EverInSight = false;
};

}  // namespace brakkenfel
