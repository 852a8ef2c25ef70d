// What a person's keys in the window ask of the run, as plain data a backend hands to the core.
#pragma once

#include <cstdint>

namespace brakkenfel {

/// What a key pressed in the window asks for.
enum class WindowCommand : std::uint8_t {
    Pause,        ///< P: pause or resume the moves
    Step,         ///< .: one move, while paused
    Faster,       ///< +: double the move rate
    Slower,       ///< -: halve the move rate
    NormalRate,   ///< 0: back to 90 moves a second
    JumpForward,  ///< PageDown: a replay runs on 900 moves at once
    JumpBack,     ///< PageUp: a replay goes back 900 moves
    JumpToStart,  ///< Home: a replay goes back to its first move
    ToggleView,   ///< V: the analysis view on or off
};

/// The keys held down in the window, for the player at the keys.
struct KeyState {
    bool Turn = false;   ///< Right or Up arrow: turn one step per move
    bool Shoot = false;  ///< Space: order a shot every move
    /// Pressed since the last move ran, held or not: a tap shorter than a move still counts once.
    bool TurnTapped = false;
    bool ShootTapped = false;  ///< as TurnTapped, for Space
};

}  // namespace brakkenfel
