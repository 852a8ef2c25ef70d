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
};

/// What the hit rule has seen of the run. It outlives the registry, so a run's result can be
/// written after tear-down or after an error.
struct Scoreboard {
    std::int64_t Moves = 0;       ///< moves observed (one ScoreHits each)
    std::vector<GunScore> Guns;   ///< by registry slot
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

/// The gun with the most hits by name, or "draw" when no single gun leads.
std::string Winner(const Scoreboard& Board);

}  // namespace brakkenfel
