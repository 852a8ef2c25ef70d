// One outside contestant program as a child process: start, line exchange within deadlines, stop.
//
// The child runs `/bin/sh -c COMMAND` in a process group of its own, with a pipe on its standard
// input and one on its standard output. Nothing here ever blocks past the deadline it is given:
// both pipe ends are non-blocking, every wait is a poll with a timeout, and the line buffer is a
// fixed array, so a program that floods, stalls or never reads costs the arena at most its budget.
// On Linux the first start makes the arena a child subreaper, so that whatever a program leaves
// behind is reaped here too, and the program is killed if the arena itself dies.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "contest/ProtocolLine.h"

namespace brakkenfel {

/// Where the child's standard error goes.
enum class ChildStderr : std::uint8_t {
    Inherit,  ///< The arena's own standard error: a program's crash report stays visible.
    Discard,  ///< /dev/null.
};

/// What one attempt to write a line came to.
enum class WriteOutcome : std::uint8_t {
    Written,  ///< The whole line is in the pipe.
    Full,     ///< The program has not read enough of its input; nothing was written.
    Closed,   ///< The program no longer reads its input (it closed it or exited).
};

/// What one wait for a line came to.
enum class ReadOutcome : std::uint8_t {
    Line,      ///< A complete line arrived.
    TooLong,   ///< A line passed MaxProtocolLine bytes; the rest of it will be skipped unseen.
    TimedOut,  ///< The deadline passed without a complete line.
    Closed,    ///< The program's output reached its end.
};

/// A running contestant program and the arena's two pipe ends to it.
class ContestantProcess {
public:
    /// A deadline meaning "wait without limit".
    static constexpr std::int64_t NoDeadline = -1;
    /// How long the stop sequence grants each step (after "quit", after SIGTERM), in nanoseconds.
    static constexpr std::int64_t StopStepNs = 200'000'000;

    /// Nothing started yet.
    ContestantProcess() = default;
    /// Stops the program if it still runs, blocking until it is reaped (at most about 0.6 s).
    ~ContestantProcess();
    /// Not copyable: one owner stops the child.
    ContestantProcess(const ContestantProcess&) = delete;
    /// Not assignable.
    ContestantProcess& operator=(const ContestantProcess&) = delete;

    /// Starts `/bin/sh -c Command`; false with a reason in `Error` when no process could be made.
    bool Start(const std::string& Command, ChildStderr Stderr, std::string& Error);

    /// Writes one line (at most MaxProtocolLine bytes, '\n' included) whole or not at all, never blocking.
    WriteOutcome WriteLine(std::string_view Text);
    /// Waits until `DeadlineNs` (NowNs() scale, or NoDeadline) for the next line. `Text` stays
    /// valid until the next call; it excludes the '\n'.
    ReadOutcome ReadLine(std::int64_t DeadlineNs, std::string_view& Text);

    /// Waits until `DeadlineNs` for the child to end and reaps it; true if it has ended.
    bool WaitForExit(std::int64_t DeadlineNs);
    /// How the child ended, e.g. "exited with status 3" or "was killed by signal 9".
    std::string ExitDescription() const;
    /// The child's process id, also its process group id; 0 before Start.
    pid_t Pid() const { return ChildPid; }

    /// Starts stopping without waiting: writes "quit" and closes both pipes.
    void BeginStop();
    /// Moves the stop sequence on as far as time allows, without blocking; true once it is over.
    bool PollStop();
    /// Finishes stopping: "quit", 200 ms, SIGTERM to the group, 200 ms, SIGKILL, reap.
    void Stop();

    /// The monotonic clock used for every deadline, in nanoseconds.
    static std::int64_t NowNs();

private:
    enum class StopPhase : std::uint8_t { NotStarted, Running, Quitting, Terminating, Killing, Done };

    ReadOutcome TakeLine(std::string_view& Text);
    bool Fill();
    bool TryReap();
    void ReapGroup();
    bool GroupAlive() const;
    void CloseInput();
    void CloseOutput();

    pid_t ChildPid = 0;
    int InputFd = -1;   // our write end of the child's standard input
    int OutputFd = -1;  // our read end of the child's standard output
    bool OutputEnded = false;
    bool Reaped = false;
    int Status = 0;
    bool SigpipeIgnored = false;
    StopPhase Phase = StopPhase::NotStarted;
    std::int64_t PhaseStartNs = 0;

    // Holds at most one partial line plus what one read brought; a line that outgrows
    // MaxProtocolLine is dropped and the rest of it skipped, so the buffer never grows.
    static constexpr std::size_t BufferSize = 4096;
    char Buffer[BufferSize];
    std::size_t Begin = 0;
    std::size_t End = 0;
    bool Skipping = false;
};

}  // namespace brakkenfel
