// Replaying a match file: one source shared by both guns' replay contestants, checking every move.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contest/Sprite.h"
#include "contest/clsProgram.h"
#include "replay/MatchFile.h"

namespace brakkenfel {

/// The match file being replayed: hands each gun its recorded orders for the move under way and,
/// after the move, compares the state hash with the recorded one.
class ReplaySource {
public:
    /// Reads the header and the first move of `Reader`'s file.
    explicit ReplaySource(std::unique_ptr<MatchReader> Reader);
    /// The header.
    const MatchHeader& Header() const { return Reader->Header(); }
    /// The orders gun `Gun` (0 Cannon, 1 Helicopter) gave in the move under way; none past the end.
    const std::vector<ProgramOrder>& OrdersFor(std::size_t Gun) const { return Next.Guns[Gun].Orders; }
    /// After each move: checks the state hash (RuntimeError 321 "replay diverges at move N" when it
    /// differs), counts the programs' replies, reads the next move and, at the end of the file,
    /// asks the loop to stop as a closed window does.
    void AfterMove();
    /// True once the file has no further move.
    bool Ended() const { return AtEnd; }
    /// What each program contestant's counts were in the recorded run, up to the moves replayed.
    std::vector<ProgramSummary> Summaries() const;

private:
    void ReadAhead();
    void Apply(const std::vector<OutEvent>& Events);

    std::unique_ptr<MatchReader> Reader;
    MoveLine Next;
    std::vector<OutEvent> NextEvents;
    std::uint64_t NextLine = 0;
    bool AtEnd = false;
    std::uint64_t Played = 0;
    std::array<ProgramSummary, MatchGuns> Counts;
};

/// A contestant that gives, each move, the orders recorded for its gun.
class clsReplay : public Sprite {
public:
    /// Replays gun `Gun` (0 Cannon, 1 Helicopter) from `Source`.
    clsReplay(std::shared_ptr<ReplaySource> Source, std::size_t Gun) : Source(std::move(Source)), Gun(Gun) {}
    /// Keeps the controls.
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// Gives the recorded orders, in their recorded order.
    void Update() override;

private:
    std::shared_ptr<ReplaySource> Source;
    std::size_t Gun;
    std::shared_ptr<SpriteActions> Actions;
};

}  // namespace brakkenfel
