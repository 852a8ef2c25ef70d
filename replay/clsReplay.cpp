// The replay contestant and its source: recorded orders in, state hash checked after every move.
#include "replay/clsReplay.h"

#include <cstdio>

#include "app/Options.h"
#include "app/modMain.h"
#include "platform/Errors.h"
#include "replay/StateHash.h"

namespace brakkenfel {

ReplaySource::ReplaySource(std::unique_ptr<MatchReader> Reader) : Reader(std::move(Reader)) {
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) Counts[Gun].GunName = MatchGunNames[Gun];
    ReadAhead();
}

void ReplaySource::ReadAhead() {
    AtEnd = !Reader->Next(Next, NextEvents);
    NextLine = Reader->LineNumber();
    if (!AtEnd) return;
    // Events after the last move happened before the run ended: they belong to it.
    Apply(NextEvents);
    for (GunMove& Gun : Next.Guns) Gun.Orders.clear();
    if (Reader->EndedCut() && !Reader->Halted()) {
        std::fprintf(stderr, "brakkenfel: %s: the last line is cut short; the replay ends at move %llu\n",
                     Reader->Name().c_str(), static_cast<unsigned long long>(Played));
    }
}

void ReplaySource::Apply(const std::vector<OutEvent>& Events) {
    for (const OutEvent& Event : Events) {
        ProgramSummary& Gun = Counts[Event.Gun];
        Gun.Out = true;
        Gun.OutMove = Event.OutMove;
        Gun.OutReason = Event.Reason;
    }
}

void ReplaySource::AfterMove() {
    ++Played;
    if (AtEnd) {
        // Only a loop that ignores the stop request gets here: nothing recorded to compare with.
        throw RuntimeError(ErrBadFileFormat, Reader->Name() + ": replay goes on past the end of the file at move " +
                                                 std::to_string(Played));
    }
    const std::uint64_t Hash = StateHash();
    if (Hash != Next.Hash) {
        char Text[80];
        std::snprintf(Text, sizeof Text, " (state hash %016llx, recorded %016llx)",
                      static_cast<unsigned long long>(Hash), static_cast<unsigned long long>(Next.Hash));
        throw RuntimeError(ErrBadFileFormat, Reader->Name() + " line " + std::to_string(NextLine) +
                                                 ": replay diverges at move " + std::to_string(Played) + Text);
    }
    if (!NextEvents.empty()) Apply(NextEvents);
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        const CountStep& Step = Next.Guns[Gun].Counts;
        Counts[Gun].Moves += Step.Asked;
        Counts[Gun].InTime += Step.InTime;
        Counts[Gun].Late += Step.Late;
        Counts[Gun].Malformed += Step.Malformed;
        Counts[Gun].Ahead += Step.Ahead;
        Counts[Gun].Ignored += Step.Ignored;
    }
    ReadAhead();
    if (AtEnd) QuitRequested = -1;
}

std::vector<ProgramSummary> ReplaySource::Summaries() const {
    std::vector<ProgramSummary> Programs;
    for (std::size_t Gun = 0; Gun < MatchGuns; ++Gun) {
        if (Header().Kinds[Gun].Is == ContestantKind::Type::Program) Programs.push_back(Counts[Gun]);
    }
    return Programs;
}

void clsReplay::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    (void)NewEnemies;
    Actions = NewActions;
}

void clsReplay::Update() {
    for (const ProgramOrder& Order : Source->OrdersFor(Gun)) {
        if (Order.What == ProgramOrder::Kind::Rotate) {
            Actions->Rotate(Order.Angle);
        } else {
            Actions->Shoot();
        }
    }
}

}  // namespace brakkenfel
