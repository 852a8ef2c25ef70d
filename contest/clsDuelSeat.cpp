// The duel seat: the foe list's one entry, read afresh before every move of the contestant.
#include "contest/clsDuelSeat.h"

#include "app/modMain.h"
#include "contest/DuelSight.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

void clsDuelSeat::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    Foe = std::make_shared<SpriteEnemy>();
    NewEnemies.push_back(Foe);
    Inner->Initialize(NewActions, NewEnemies);
}

void clsDuelSeat::Update() {
    // Looked up each move: the Helicopter is not registered yet when the Cannon's seat is made.
    const std::int16_t Own = IsCannon ? CannonIndex : HelicopterIndex;
    const std::int16_t Other = IsCannon ? HelicopterIndex : CannonIndex;
    Foe->Initialize(Other);
    FoeReading Now = ReadFoe(*Sprites, Own, Other);
    Now.SeenBefore = EverInSight;
    EverInSight = EverInSight || Now.InSight;
    Foe->See(Now);
    Inner->Update();
}

}  // namespace brakkenfel
