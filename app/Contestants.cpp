// Contestants by kind: the computer gunner, the idle human seat, the player at the keys, or an outside program.
#include "app/Contestants.h"

#include "app/Workbench.h"
#include "contest/clsAI.h"
#include "contest/clsHuman.h"
#include "contest/clsKeys.h"
#include "contest/clsProgram.h"

namespace brakkenfel {

ContestantRoster::WholeWrites::int_type ContestantRoster::WholeWrites::overflow(int_type Char) {
    if (!traits_type::eq_int_type(Char, traits_type::eof())) Pending.push_back(traits_type::to_char_type(Char));
    return traits_type::not_eof(Char);
}

std::streamsize ContestantRoster::WholeWrites::xsputn(const char* Text, std::streamsize Count) {
    Pending.append(Text, static_cast<std::size_t>(Count));
    return Count;
}

int ContestantRoster::WholeWrites::sync() {
    Target->write(Pending.data(), static_cast<std::streamsize>(Pending.size()));
    Target->flush();
    Pending.clear();
    return Target->good() ? 0 : -1;
}

ContestantRoster::ContestantRoster(const Options& Chosen, std::ostream& Diagnostics)
    : Chosen(Chosen), Buffer(Diagnostics), Diagnostics(&Buffer) {}

ContestantRoster::~ContestantRoster() { StopAll(false); }

std::shared_ptr<clsProgram> ContestantRoster::NewProgram(const std::string& GunName) {
    const ContestantKind& Kind = GunName == "Cannon" ? Chosen.Cannon : Chosen.Helicopter;
    auto Program = std::make_shared<clsProgram>(Kind.Command, Chosen.MoveBudgetMs, GunName, Diagnostics);
    if (Chosen.ReadyTimeMs) Program->SetReadyTime(*Chosen.ReadyTimeMs);
    Program->UseSandbox(Chosen.Sandbox);
    Programs.push_back(Program);
    return Program;
}

void ContestantRoster::StartPrograms() {
    auto Start = [this](const std::string& GunName, const ContestantKind& Kind) {
        if (Kind.Is != ContestantKind::Type::Program) return;
        auto Program = NewProgram(GunName);
        Started.emplace_back(GunName, Program);
        // One that could not be started is put out when it is greeted, as it would be unstarted.
        Program->Launch();
    };
    Start("Cannon", Chosen.Cannon);
    Start("Helicopter", Chosen.Helicopter);
}

std::shared_ptr<Sprite> ContestantRoster::Make(const std::string& GunName) {
    const ContestantKind& Kind = GunName == "Cannon" ? Chosen.Cannon : Chosen.Helicopter;
    if (!Chosen.ProtocolLogPath.empty() && !Log) Log = std::make_unique<ProtocolLog>(Chosen.ProtocolLogPath);
    switch (Kind.Is) {
    case ContestantKind::Type::Ai: return std::make_shared<clsAI>();
    case ContestantKind::Type::Human: return std::make_shared<clsHuman>();
    case ContestantKind::Type::Keys: return std::make_shared<clsKeys>(Bench.Keys);
    case ContestantKind::Type::Program: break;
    }
    std::shared_ptr<clsProgram> Program;
    for (auto Entry = Started.begin(); Entry != Started.end(); ++Entry) {
        if (Entry->first != GunName) continue;
        Program = Entry->second;
        Started.erase(Entry);
        break;
    }
    if (!Program) Program = NewProgram(GunName);
    Program->SetProtocolLog(Log.get());
    return Program;
}

void ContestantRoster::StopAll(bool Report) {
    // Each stop may wait out its grace periods; begun together, they overlap instead of adding up.
    for (const auto& Program : Programs) Program->BeginStop();
    // Stopped first, so that what they wrote last is relayed before the summaries that count it.
    for (const auto& Program : Programs) {
        Program->Stop();
        Program->SetProtocolLog(nullptr);
        Stopped.push_back(Program->Summary());
    }
    if (Report) {
        for (const auto& Program : Programs) {
            Diagnostics << "brakkenfel: " << Program->SummaryLine() << '\n' << std::flush;
        }
    }
    // The registry may still hold them after an error; stopped, they hold no process any more.
    Programs.clear();
    Started.clear();
}

void ContestantRoster::Finish() {
    StopAll(true);
    if (Log) Log->Finish();
}

void ContestantRoster::Release() { StopAll(false); }

}  // namespace brakkenfel
