// Contestants by kind: the computer gunner or the idle human seat.
#include "app/Contestants.h"

#include "contest/clsAI.h"
#include "contest/clsHuman.h"

namespace brakkenfel {

std::shared_ptr<Sprite> MakeContestant(const Options& Chosen, const std::string& GunName) {
    const std::string& kind = GunName == "Cannon" ? Chosen.Cannon : Chosen.Helicopter;
    if (kind == "human") return std::make_shared<clsHuman>();
    return std::make_shared<clsAI>();
}

}  // namespace brakkenfel
