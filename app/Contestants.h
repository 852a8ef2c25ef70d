// Contestants by kind, as the command line names them, and the outside programs among them.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "contest/Sprite.h"

namespace brakkenfel {

class clsProgram;

/// Makes each gun's contestant as `Chosen` names it. The outside programs it starts are kept here
/// as well as in the registry, so the end of a run can stop them together and report on each, and
/// a failed start-up can stop them before the error is reported.
class ContestantRoster {
public:
    /// Contestants as `Chosen` names them; programs' notices and summaries go to `Diagnostics`.
    ContestantRoster(const Options& Chosen, std::ostream& Diagnostics);
    /// Stops the programs still running, all at once.
    ~ContestantRoster();
    /// Not copyable: one roster stops its programs.
    ContestantRoster(const ContestantRoster&) = delete;
    /// Not assignable.
    ContestantRoster& operator=(const ContestantRoster&) = delete;

    /// A new contestant for `GunName` ("Cannon" or "Helicopter").
    std::shared_ptr<Sprite> Make(const std::string& GunName);
    /// For a run's normal end: stops every program at once, then one summary line each.
    void Finish();
    /// For a way out by error: stops every program at once, without a summary.
    void Release();

private:
    void StopAll(bool Report);

    Options Chosen;
    std::ostream* Diagnostics;
    std::vector<std::shared_ptr<clsProgram>> Programs;
};

}  // namespace brakkenfel
