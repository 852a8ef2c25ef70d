// The functions the page calls: one player per page, plain C types across the boundary.
//
// Texts are returned as pointers to NUL-terminated UTF-8 that stay valid until the next call of
// the same function; numbers of moves travel as doubles, exact up to 2^53.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "backends/web/WebPlayer.h"
#include "backends/web/WebProbe.h"

using brakkenfel::WebPlayer;
using brakkenfel::WindowCommand;

namespace {

WebPlayer& Player() {
    static WebPlayer Instance;
    return Instance;
}

// Why the last web_open failed before the player could say (the bytes could not even be held).
std::string OpenFailure;

const char* Held(std::string Text, std::string& Slot) {
    Slot = std::move(Text);
    return Slot.c_str();
}

}  // namespace

extern "C" {

/// Opens the match file `Match` (`MatchSize` bytes) with the picture strip `Strip`; the page keeps
/// ownership of both buffers. 1 on success, 0 with web_error() saying why.
int web_open(const char* Name, const char* Match, std::size_t MatchSize, const std::uint8_t* Strip,
             std::size_t StripSize) {
    OpenFailure.clear();
    try {
        return Player().Open(Name, std::vector<char>(Match, Match + MatchSize),
                             std::vector<std::uint8_t>(Strip, Strip + StripSize))
                   ? 1
                   : 0;
    } catch (const std::exception& Error) {
        // A file too large for the module's memory: nothing of it was opened.
        Player().Close();
        OpenFailure = std::string("cannot open ") + Name + ": " + Error.what();
        return 0;
    }
}

/// Runs the loop up to the page's time; the milliseconds until the next call, or -1 when it stands still.
double web_advance(double NowMs) {
    const std::int64_t Wait = Player().Advance(static_cast<std::int64_t>(NowMs * 1000.0));
    return Wait < 0 ? -1.0 : static_cast<double>(Wait) / 1000.0;
}

/// A key's command: the numbers of WindowCommand (0 P, 1 '.', 2 '+', 3 '-', 4 '0', 5 PageDown,
/// 6 PageUp, 7 Home, 8 V).
void web_command(int Command) {
    if (Command >= 0 && Command <= static_cast<int>(WindowCommand::ToggleView)) {
        Player().Command(static_cast<WindowCommand>(Command));
    }
}

void web_jump(double Move) {
    // Whatever number the page passes: clamped before the conversion, NaN to the first move.
    Player().JumpTo(Move > 9.0e15 ? static_cast<std::int64_t>(9.0e15) : Move >= 0 ? static_cast<std::int64_t>(Move) : 0);
}
void web_set_paused(int Paused) { Player().SetPaused(Paused != 0); }
/// 0 closed, 1 playing, 2 ended, 3 failed.
int web_state() { return static_cast<int>(Player().State()); }
double web_move() { return static_cast<double>(Player().Move()); }
double web_total() { return static_cast<double>(Player().TotalMoves()); }
unsigned web_frames() { return Player().FramesShown(); }
const std::uint8_t* web_pixels() { return Player().Pixels().data(); }

const char* web_error() {
    static std::string Slot;
    return Held(OpenFailure.empty() ? Player().Error() : OpenFailure, Slot);
}
const char* web_state_hash() {
    static std::string Slot;
    return Held(Player().StateHashText(), Slot);
}
const char* web_frame_hash() {
    static std::string Slot;
    return Held(Player().FrameHashText(), Slot);
}
const char* web_caption() {
    static std::string Slot;
    return Held(Player().Caption(), Slot);
}
const char* web_label() {
    static std::string Slot;
    return Held(Player().Label(), Slot);
}
const char* web_facts() {
    static std::string Slot;
    return Held(Player().Facts(), Slot);
}
/// What the core computes that must not differ between builds (see WebProbe.h), as text.
const char* web_probe() {
    static std::string Slot;
    return Held(brakkenfel::ProbeText(), Slot);
}

}  // extern "C"
