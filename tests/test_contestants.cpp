// The idle human seat; the sweeping gunner and the controls are proved on the real program's trace.
#include <gtest/gtest.h>

#include <memory>

#include "contest/clsHuman.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

TEST(Contestants, AHumanSeatNeverTurnsOrFires) {
    FreshRegistry Registry;
    const auto Index = Sprites->AddSprite("Gun", 20, 20, 77, -1, std::make_shared<clsHuman>(), "", 16, 16, 16, 0, 29);
    Sprites->Rotate(Index, 77);
    for (int Move = 0; Move < 300; ++Move) Sprites->UpdateSprite(Index);
    EXPECT_EQ(Sprites->Angle(Index), 77);
    EXPECT_EQ(CountBullets(), 0);
}

}  // namespace
}  // namespace brakkenfel
