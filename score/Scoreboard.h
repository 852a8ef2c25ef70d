// The hit rule, an observer of the field: which gun's bullets struck the other gun, and who leads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brakkenfel {

/// One gun's tally over a run.
struct GunScore {
    std::string Name;        ///< the gun's name when the scoreboard first saw its slot
    std::int64_t Shots = 0;  ///< bullets it fired
    std::int64_t Hits = 0;   ///< hits its bullets scored on other guns
    // Under duel rules only; 0 and empty otherwise.
    std::int32_t Health = 0;       ///< what it has left: one less per hit it takes, never below 0
    std::int32_t StartX = 0;       ///< its centre at the first move
    std::int32_t StartY = 0;
    std::int32_t StartAngle = 0;   ///< its angle at the first move
    std::int64_t DestroyedAt = 0;  ///< the move its health reached 0; 0 while it stands
    std::int16_t DestroyedBy = -1; ///< registry slot of the gun whose hit took its last health
};

/// What the hit rule has seen of the run. It outlives the registry, so a run's result can be
/// written after tear-down or after an error.
struct Scoreboard {
    std::int64_t Moves = 0;       ///< moves observed (one ScoreHits each)
    std::vector<GunScore> Guns;   ///< by registry slot
    bool Duel = false;            ///< duel rules: hits take health, the winner has the most left
    std::uint32_t Seed = 0;       ///< under duel rules, the seed the field was drawn from
    std::int32_t StartHealth = 0; ///< under duel rules, each gun's health at the first move
};

/// The run's scoreboard; set-up resets it.
extern Scoreboard Score;

/// Forgets every tally: a new run starts from nothing.
void ResetScore();

/// The hit rule, called after each move's bullet flight. A flying bullet that has scored nothing
/// yet scores one hit for its owner when its drawn pixel (position rounded halves to even, only
/// while Y >= 0) lies inside another gun's drawn picture: left = X - Width / 2 and top =
/// Y - Height / 2, rounded the same way, Width x Height pixels. Nothing in the field changes but
/// the bullet's Scored mark.
void ScoreHits();

/// Hits scored so far by the gun in registry slot `Slot`; 0 for a slot not seen yet.
std::int64_t HitsOf(std::int16_t Slot);

/// Duel rules for the guns now in the registry: each starts with `Health`, and its start place is
/// noted for the result. From then on a hit takes one health from the gun struck; the move that
/// takes a gun's last one ends the match (QuitRequested) after that move.
void StartDuel(std::int32_t Health, std::uint32_t Seed);

/// The health of the gun in registry slot `Slot`: always 0 under plain rules and for a slot not
/// seen yet. What SpriteActions.Health answers, and what a view of the match shows.
std::int32_t HealthOf(std::int16_t Slot);

/// The name of the gun that destroyed `Gun`; empty while it stands.
std::string DestroyerOf(const Scoreboard& Board, const GunScore& Gun);

/// The gun with the most hits by name (under duel rules the most health), or "draw" when no single
/// gun leads.
std::string Winner(const Scoreboard& Board);

}  // namespace brakkenfel
