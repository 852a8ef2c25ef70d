// The match session: the seed, the recorder or the replay source, and their hooks into a run.
#include "replay/MatchSession.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "app/OutputFile.h"
#include "platform/Errors.h"
#include "replay/MatchFile.h"
#include "replay/MatchRecorder.h"
#include "replay/clsReplay.h"

namespace brakkenfel {

MatchSession::MatchSession(const Options& Chosen) : Chosen(Chosen) {}

MatchSession::~MatchSession() = default;

void MatchSession::Open() {
    if (!Chosen.ReplayPath.empty()) {
        Rewind();
        const MatchHeader& Header = Replay->Header();
        Seed = Header.Seed;
        // The commands are the file's, not the user's: escaped, they cannot drive the terminal.
        std::fprintf(stderr, "brakkenfel: replaying %s (recorded by version %s, seed %u, move budget %d ms%s): "
                             "Cannon %s, Helicopter %s; no program is started\n",
                     Printable(Chosen.ReplayPath).c_str(), Printable(Header.ProgramVersion).c_str(), Header.Seed,
                     Header.MoveBudgetMs,
                     Header.Duel ? (", duel rules, health " + std::to_string(Header.Health)).c_str() : "",
                     Printable(Header.Kinds[0].Text()).c_str(),
                     Printable(Header.Kinds[1].Text()).c_str());
        if (Header.Duel) DuelHealth = Header.Health;
        if (Chosen.FromMove || !Chosen.Headless) CountMoves();
        if (Chosen.FromMove && Total && *Chosen.FromMove > *Total) {
            throw RuntimeError(ErrInvalidProcedure, "--from-move " + std::to_string(*Chosen.FromMove) +
                                                        " is past the end: " + Printable(Chosen.ReplayPath) +
                                                        " ends at move " + std::to_string(*Total));
        }
        // A file without a single move ends the run as soon as it starts.
        if (Replay->Ended()) QuitRequested = -1;
    } else {
        // The clock, as without a seed; decided before set-up so that programs can be told.
        Seed = Chosen.Seed ? *Chosen.Seed
                           : static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        if (Chosen.Duel) {
            DuelHealth = Chosen.Health.value_or(DefaultDuelHealth);
            // Told at once, so that a field worth seeing again can be asked for by its seed.
            std::fprintf(stderr, "brakkenfel: duel rules, seed %u, health %d\n", Seed, *DuelHealth);
        }
    }
    setenv("BRAKKENFEL_SEED", std::to_string(Seed).c_str(), 1);
    // Checked here, before any output is created: a refused recording must leave the file as it was.
    if (!Chosen.RecordPath.empty() && FormatHeader(RecordHeader()).empty()) {
        throw RuntimeError(ErrPathFileAccess,
                           Chosen.RecordPath + ": the contestants' commands do not fit in its header");
    }
}

MatchHeader MatchSession::RecordHeader() const {
    MatchHeader Header;
    Header.ProgramVersion = BRAKKENFEL_VERSION;
    Header.Seed = Seed;
    Header.MoveBudgetMs = Chosen.MoveBudgetMs;
    Header.Kinds = {Chosen.Cannon, Chosen.Helicopter};
    Header.Duel = DuelHealth.has_value();
    Header.Health = DuelHealth.value_or(0);
    return Header;
}

void MatchSession::OpenRecording() {
    if (!Chosen.RecordPath.empty() && !Recorder) Recorder = std::make_unique<MatchRecorder>(Chosen.RecordPath, RecordHeader());
}

void MatchSession::CountMoves() {
    // Only a plain file can be read twice: a FIFO's moves come once, to the replay.
    struct stat Info {};
    if (stat(Chosen.ReplayPath.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode)) return;
    MatchReader Reader(Chosen.ReplayPath, OpenMatchFile(Chosen.ReplayPath));
    MoveLine Move;
    std::vector<OutEvent> Events;
    std::int64_t Moves = 0;
    try {
        while (Reader.Next(Move, Events)) ++Moves;
    } catch (const RuntimeError&) {
        return;  // the replay meets the bad line in its turn and says where
    }
    Total = Moves;
}

void MatchSession::Rewind() {
    Replay = std::make_shared<ReplaySource>(
        std::make_unique<MatchReader>(Chosen.ReplayPath, OpenMatchFile(Chosen.ReplayPath)));
}

std::shared_ptr<Sprite> MatchSession::MakeReplay(const std::string& GunName) {
    return std::make_shared<clsReplay>(Replay, GunName == "Cannon" ? 0 : 1);
}

void MatchSession::Install(ContestHost& Host) {
    Host.Seed = Seed;
    Host.DuelHealth = DuelHealth;
    if (Replay) {
        Host.JumpMoves = Chosen.FromMove.value_or(0);
        if (Chosen.Moves) Host.JumpMoves = std::min(Host.JumpMoves, *Chosen.Moves);
        // Through the session, not a copy of the pointer: a jump back replaces the source.
        Host.AfterMove = [this] { Replay->AfterMove(); };
        Host.Rewind = [this] { Rewind(); };
    } else if (Recorder) {
        Host.AfterMove = [Writing = Recorder.get()] { Writing->AfterMove(); };
    }
}

Options MatchSession::HeadlessOptions(const Options& Chosen) const {
    Options Run = Chosen;
    if (!Replay || Run.Seconds) return Run;
    // The jump's moves come first and count toward --moves; without it the file's end stops the run.
    const std::int64_t Jump = Run.FromMove.value_or(0);
    Run.Moves = Run.Moves ? *Run.Moves - std::min(Jump, *Run.Moves) : std::numeric_limits<std::int64_t>::max();
    return Run;
}

Options MatchSession::ResultOptions(const Options& Chosen) const {
    Options Described = Chosen;
    if (Replay) {
        Described.Cannon = Replay->Header().Kinds[0];
        Described.Helicopter = Replay->Header().Kinds[1];
        Described.Duel = Replay->Header().Duel;
    }
    return Described;
}

std::vector<ProgramSummary> MatchSession::Summaries(const std::vector<ProgramSummary>& Live) const {
    return Replay ? Replay->Summaries() : Live;
}

void MatchSession::FlushWaiting() {
    if (Recorder) Recorder->FlushWaiting();
}

void MatchSession::Finish() {
    if (Recorder) Recorder->Finish();
}

}  // namespace brakkenfel
