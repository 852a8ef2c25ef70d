// Contestants by kind, as the command line names them.
#pragma once

#include <memory>
#include <string>

#include "app/Options.h"
#include "contest/Sprite.h"

namespace brakkenfel {

/// A new contestant of the kind `Chosen` names for `GunName` ("Cannon" or "Helicopter").
std::shared_ptr<Sprite> MakeContestant(const Options& Chosen, const std::string& GunName);

}  // namespace brakkenfel
