// The computer gunner's sweep.
#include "contest/clsAI.h"

#include "platform/Errors.h"

namespace brakkenfel {

void clsAI::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    (void)NewEnemies;
    Actions = NewActions;
}

void clsAI::Update() {
    if (!Actions) {
        throw RuntimeError(ErrInvalidProcedure, "clsAI.Update before Initialize");
    }
    if (!Actions->Rotating()) {
        // The angle is read again for the order instead of reusing the tested value: each read
        // is a registry call, and how many calls a move makes is part of how this gunner behaves.
        if (!SweepDown) {
            if (Actions->Angle() < 255) {
                Actions->Rotate(static_cast<std::uint8_t>(Actions->Angle() + 1));
            } else {
                SweepDown = true;
            }
        } else {
            if (Actions->Angle() > 0) {
                Actions->Rotate(static_cast<std::uint8_t>(Actions->Angle() - 1));
            } else {
                SweepDown = false;
            }
        }
    }
    Actions->Shoot();
}

}  // namespace brakkenfel
