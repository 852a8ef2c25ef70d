// The match file: a header line, then one line per move with each gun's orders and the state hash.
//
// Reading is bounded everywhere: lines are at most MaxMatchLine bytes, numbers have ranges, and
// anything else is an error naming the file and the line. Writing goes through one buffer that is
// flushed often enough that a run killed at any moment leaves a file replayable to its last line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contest/ContestantKind.h"
#include "contest/ProtocolLine.h"

namespace brakkenfel {

/// The first word of every match file.
inline constexpr std::string_view MatchMagic = "brakkenfel-match";
/// The format version this program reads and writes.
inline constexpr int MatchFormatVersion = 1;
/// The longest line of a match file, its '\n' included.
inline constexpr std::size_t MaxMatchLine = 4096;
/// Guns per move line: the Cannon, then the Helicopter (registry slot order).
inline constexpr std::size_t MatchGuns = 2;
/// The gun names in the order their fields appear.
inline constexpr std::array<std::string_view, MatchGuns> MatchGunNames = {"Cannon", "Helicopter"};

/// What the header line says.
struct MatchHeader {
    std::string ProgramVersion;                     ///< the version of the program that recorded it
    std::uint32_t Seed = 0;                         ///< what seeded the process-wide random generator
    std::int32_t MoveBudgetMs = 0;                  ///< the move budget of its program contestants
    std::array<ContestantKind, MatchGuns> Kinds;    ///< each gun's contestant, as the command line named it
    bool Duel = false;                              ///< played under duel rules (" rules=duel health=N")
    std::int32_t Health = 0;                        ///< under duel rules, each gun's health at the start
};

/// How a program contestant's counts moved in one move; the usual move (asked, answered in time)
/// is not written.
struct CountStep {
    std::uint64_t Asked = 0, InTime = 0, Late = 0, Malformed = 0;
    /// Written only when either is not 0, so that files without them read as before.
    std::uint64_t Ahead = 0, Ignored = 0;
    bool operator==(const CountStep&) const = default;
};

/// One gun's part of a move line.
struct GunMove {
    std::vector<ProgramOrder> Orders;  ///< in the order given
    bool Out = false;                  ///< the gun's program is out (it gave nothing)
    bool HasCounts = false;            ///< Counts was written
    CountStep Counts;                  ///< meaningful when HasCounts
};

/// One move line.
struct MoveLine {
    std::array<GunMove, MatchGuns> Guns;
    std::uint64_t Hash = 0;
};

/// An event line: a gun's program went out.
struct OutEvent {
    std::size_t Gun = 0;         ///< index into MatchGunNames
    std::uint64_t OutMove = 0;   ///< the program's count of moves when it went out
    std::string Reason;
};

/// The counts a move gives by default: one move asked and answered, or nothing once out.
CountStep UsualCounts(bool Out);

/// The header line, '\n' included; empty when it would not fit in MaxMatchLine.
std::string FormatHeader(const MatchHeader& Header);
/// Reads a header line (without '\n'); on failure false with `Why` set.
bool ParseHeader(std::string_view Line, MatchHeader& Header, std::string& Why);
/// Reads a move line (without '\n'); on failure false with `Why` set.
bool ParseMoveLine(std::string_view Line, MoveLine& Move, std::string& Why);
/// Reads an event line (without '\n', starting with '!'); on failure false with `Why` set.
bool ParseEventLine(std::string_view Line, OutEvent& Event, std::string& Why);
/// Appends `Text` with every byte but printable ASCII and '\' written as \xNN; spaces too unless kept.
void AppendEscaped(std::string& Out, std::string_view Text, bool KeepSpaces = false);
/// Appends `Hash` as 16 lowercase hex digits.
void AppendHash(std::string& Out, std::uint64_t Hash);
/// Writes `Hash` as 16 lowercase hex digits at `Out`; returns the end.
char* WriteHash(char* Out, std::uint64_t Hash);

/// Reads a match file's bytes from wherever they come: fills up to `Size` bytes, returns how many
/// (0 at the end, MatchSourceStopped when a stop signal ended the wait for more); throws on a read error.
using MatchSource = std::function<std::size_t(char* Buffer, std::size_t Size)>;
/// What a MatchSource returns when a stop signal ended its wait.
inline constexpr std::size_t MatchSourceStopped = static_cast<std::size_t>(-1);

/// Reads a match file line by line: the header at construction, then each move with the events
/// before it. Every failure is RuntimeError 321 naming the file and the line.
class MatchReader {
public:
    /// Reads the header from `Source`; `Name` names the file in errors.
    MatchReader(std::string Name, MatchSource Source);
    /// The header.
    const MatchHeader& Header() const { return Head; }
    /// The next move and the event lines before it; false at the end of the file, with the events
    /// that stand after the last move in `Events`.
    bool Next(MoveLine& Move, std::vector<OutEvent>& Events);
    /// The number of the line last read (1 is the header).
    std::uint64_t LineNumber() const { return Line; }
    /// True when the file ended in a line without its '\n' (a recording cut short), which was ignored.
    bool EndedCut() const { return Cut; }
    /// True when a stop signal ended the wait for the next line: the file may go on, unread.
    bool Halted() const { return Stopped; }
    /// The file's name as given.
    const std::string& Name() const { return FileName; }
    /// Throws RuntimeError 321: "NAME line N: WHAT".
    [[noreturn]] void Fail(const std::string& What) const;

private:
    bool NextLine(std::string_view& Text);

    std::string FileName;
    MatchSource Source;
    MatchHeader Head;
    std::vector<char> Buffer;
    std::size_t Begin = 0, End = 0;
    bool Exhausted = false;
    bool Cut = false;
    bool Stopped = false;
    std::uint64_t Line = 0;
    std::array<bool, MatchGuns> OutSeen{};
};

/// A MatchSource over a file opened for reading; RuntimeError 53 when it cannot be opened,
/// StoppedDuringStart when a stop signal ends the wait for a FIFO's writer.
MatchSource OpenMatchFile(const std::string& Path);

/// Writes a match file through one buffer: flushed when full, when asked, and once 10 ms have
/// passed since the last flush (looked at every ClockEvery lines), so a killed run loses at most
/// the last moments.
class MatchWriter {
public:
    /// Creates (or empties) `Path`, waiting for a FIFO's reader; RuntimeError 75 when it cannot,
    /// StoppedDuringStart when a stop signal ends the wait.
    explicit MatchWriter(std::string Path);
    /// Flushes what is left, without reporting a failure (Close reports it).
    ~MatchWriter();
    MatchWriter(const MatchWriter&) = delete;
    MatchWriter& operator=(const MatchWriter&) = delete;

    /// Appends whole lines of any length; may flush.
    void Write(std::string_view Lines);
    /// Room for one line of at most MaxMatchLine bytes, written in place: the recorder formats each
    /// move straight into the buffer rather than copying it there. Commit ends the line.
    char* LineRoom() { return Buffer.get() + Used; }
    /// Takes the bytes from LineRoom() up to `End` as written; may flush.
    void Commit(const char* End) {
        Used = static_cast<std::size_t>(End - Buffer.get());
        // The clock is read every ClockEvery lines only: a read costs as much as formatting a line.
        if (EveryLine || Used >= FlushAt || (++Lines % ClockEvery == 0 && ClockSaysFlush())) Flush();
    }
    /// Writes out the buffer now; RuntimeError 75 on failure. After a stop, a reader that takes
    /// nothing for half a second loses what is left, with a notice on stderr.
    void Flush();
    /// Flushes and closes; RuntimeError 75 on failure.
    void Close();
    /// Writes out lines that have waited since the last flush (10 ms or more); for a paced loop's
    /// frames, so that a paused or slow match still reaches the disk at once.
    void FlushWaiting() {
        if (Used > 0 && ClockSaysFlush()) Flush();
    }
    /// Flush after every line from now on (a program may keep the next move waiting without limit).
    void FlushEveryLine() { EveryLine = true; }

    /// At the paced 90 moves a second, 16 lines take under 0.2 s: a line waits at most that long.
    static constexpr std::uint64_t ClockEvery = 16;

private:
    bool ClockSaysFlush() const;

    // Flushed once this full; a line always fits behind it. Large, because the kernel's page-cache
    // write costs less per byte in large writes: a 60 kB buffer cost recording a tenth more time.
    static constexpr std::size_t FlushAt = 1 << 20;

    static constexpr std::size_t BufferSize = FlushAt + MaxMatchLine;

    std::string Path;
    int Fd = -1;
    // Left unfilled at the start: only the bytes up to Used are ever read.
    std::unique_ptr<char[]> Buffer{new char[BufferSize]};
    std::size_t Used = 0;
    std::uint64_t Lines = 0;
    std::int64_t LastFlushNs = 0;
    bool EveryLine = false;
    bool Abandoned = false;  // its reader stalled after a stop: nothing more is written
};

}  // namespace brakkenfel
