// Contestants by kind: the computer gunner, the idle human seat, or an outside program.
#include "app/Contestants.h"

#include <ostream>

#include "contest/clsAI.h"
#include "contest/clsHuman.h"
#include "contest/clsProgram.h"

namespace brakkenfel {

ContestantRoster::ContestantRoster(const Options& Chosen, std::ostream& Diagnostics)
    : Chosen(Chosen), Diagnostics(&Diagnostics) {}

ContestantRoster::~ContestantRoster() { StopAll(false); }

std::shared_ptr<Sprite> ContestantRoster::Make(const std::string& GunName) {
    const std::string& Kind = GunName == "Cannon" ? Chosen.Cannon : Chosen.Helicopter;
    if (Kind == "human") return std::make_shared<clsHuman>();
    const std::string Command = ProgramCommand(Kind);
    if (Command.empty()) return std::make_shared<clsAI>();
    auto Program = std::make_shared<clsProgram>(Command, Chosen.MoveBudgetMs, GunName, *Diagnostics);
    Programs.push_back(Program);
    return Program;
}

void ContestantRoster::StopAll(bool Report) {
    // Each stop may wait out its grace periods; begun together, they overlap instead of adding up.
    for (const auto& Program : Programs) Program->BeginStop();
    if (Report) {
        for (const auto& Program : Programs) *Diagnostics << "brakkenfel: " << Program->SummaryLine() << '\n';
        Diagnostics->flush();
    }
    for (const auto& Program : Programs) Program->Stop();
    // The registry may still hold them after an error; stopped, they hold no process any more.
    Programs.clear();
}

void ContestantRoster::Finish() { StopAll(true); }

void ContestantRoster::Release() { StopAll(false); }

}  // namespace brakkenfel
