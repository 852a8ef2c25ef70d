// The match player behind the web page: a replay on the core's own loop, run a slice at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/modMain.h"
#include "backends/web/WebClock.h"
#include "backends/web/WebForm.h"
#include "display/WindowInput.h"

namespace brakkenfel {

class ReplaySource;

/// Plays one match file as `--replay` does, checking the state hash after every move: the page
/// calls Advance whenever the last slice's sleep is over, and reads back what to show.
class WebPlayer {
public:
    /// Where the match stands.
    enum class Standing { Closed, Playing, Ended, Failed };

    WebPlayer();
    ~WebPlayer();
    WebPlayer(const WebPlayer&) = delete;
    WebPlayer& operator=(const WebPlayer&) = delete;

    /// Opens the match in `Match` (the file's bytes, named `Name` in errors) with the guns' picture
    /// strip `Strip`, and sets the arena up at its first move, running. False with Error() set when
    /// the file or the picture cannot be read.
    bool Open(std::string Name, std::vector<char> Match, std::vector<std::uint8_t> Strip);
    /// Runs loop passes from the page's time `NowMicroseconds` until the scheduler would sleep.
    /// Returns the microseconds until the next call is due, or -1 when the loop stands still (the
    /// match ended or failed).
    std::int64_t Advance(std::int64_t NowMicroseconds);
    /// Carries out a key's command at once; a jump is run (checked move by move) before it returns.
    void Command(WindowCommand Command);
    /// Goes to move `Target` (0 to the file's end), checking every move on the way, and shows it.
    void JumpTo(std::int64_t Target);
    /// Pauses or resumes the moves.
    void SetPaused(bool Paused);

    Standing State() const { return Now; }
    /// Moves played so far.
    std::int64_t Move() const;
    /// Move lines in the file (a last line cut short is not one).
    std::int64_t TotalMoves() const { return Total; }
    /// What stopped the match: a divergence names its move; empty while it plays or at its end.
    const std::string& Error() const { return Failure; }
    /// The state hash now, as the match file writes it.
    std::string StateHashText() const;
    /// FNV-1a 64 of the field as the window shows it (R, G, B bytes, rows top down), 16 hex digits.
    const std::string& FrameHashText() const { return FrameHash; }
    /// The field as R, G, B, A bytes for the page's canvas, from the last frame composed.
    const std::vector<std::uint8_t>& Pixels() const { return Rgba; }
    /// Frames composed so far: the page repaints when it changes.
    std::uint32_t FramesShown() const { return Frames; }
    /// The window's caption and label texts.
    std::string Caption() const;
    std::string Label() const;
    /// The watcher's facts as one JSON object (guns, shots, hits, leader, move, total, state, rate);
    /// under duel rules `duel` is true and each gun has its `health`.
    std::string Facts() const;

    /// Tears the arena down; the player is closed, as before Open.
    void Close();

private:
    void Fail(const std::string& Why);
    void ShowFrame();
    void CopyOut();
    template <class Body>
    void Guarded(Body body);

    WebClock PageClock;
    std::shared_ptr<WebForm> Form;
    ContestHost Host;
    std::string Name;
    std::shared_ptr<const std::vector<char>> Match;
    std::shared_ptr<ReplaySource> Replay;
    std::vector<std::string> Kinds;
    std::int64_t Total = 0;
    Standing Now = Standing::Closed;
    std::string Failure;
    std::string FrameHash = "0000000000000000";
    std::vector<std::uint8_t> Rgba;
    std::uint32_t Frames = 0;
};

/// FNV-1a 64 over `Bitmap`'s pixels as R, G, B bytes, rows top to bottom, left to right.
std::uint64_t FrameHashOf(const GdiBitmap& Bitmap);

}  // namespace brakkenfel
