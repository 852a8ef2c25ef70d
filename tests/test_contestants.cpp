// The computer gunner's orders, driven through the registry that turns its gun.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

// Each move the registry first turns the gun one step up (wrapping) toward its target, then asks
// the gunner, who orders the angle one past the gun's (one below once sweeping down), except on
// the move it reverses: at 255 going up, at 0 going down. The registry never turns downward, so a
// downward order sends the gun up through 255 to 0, where the gunner turns up again.
TEST(ComputerGunner, OrdersOneStepAMoveReversingAtTheEndsAndAShotEveryMove) {
    struct Case {
        std::uint8_t Start;
        std::vector<std::pair<int, int>> AngleAndTarget;  // after each move
    };
    for (const Case& Each : std::vector<Case>{
             {10, {{10, 11}, {11, 12}, {12, 13}}},
             {0, {{0, 1}, {1, 2}}},
             {254, {{254, 255}, {255, 255}, {255, 254}, {0, 254}, {1, 2}, {2, 3}}},
             {255, {{255, 255}, {255, 254}, {0, 254}, {1, 2}}}}) {
        FreshRegistry Registry;
        const auto Gun = Sprites->AddSprite("Gun", 20, 20, Each.Start, -1, std::make_shared<clsAI>(), "", 16, 16, 16, 0, 0);
        std::vector<std::pair<int, int>> Seen;
        for (std::size_t Move = 0; Move < Each.AngleAndTarget.size(); ++Move) {
            Sprites->UpdateSprite(Gun);
            Seen.emplace_back(Sprites->Angle(Gun), Sprites->Data(Gun).TargetAngle);
        }
        EXPECT_EQ(Seen, Each.AngleAndTarget) << "from " << int{Each.Start};
        // Reload time 0: every ordered shot fires.
        EXPECT_EQ(Sprites->ShotsFired(Gun), static_cast<std::int64_t>(Seen.size())) << "from " << int{Each.Start};
    }
}

}  // namespace
}  // namespace brakkenfel
