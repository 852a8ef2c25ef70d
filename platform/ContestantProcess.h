// One outside contestant program as a child process: start, line exchange within deadlines, stop.
//
// The child runs `/bin/sh -c COMMAND` with a pipe on each of its standard input, output and error.
// Where Linux allows, it runs in a PID namespace of its own under a small init of ours (PID 1
// there): when the command ends, or the init is killed, the kernel ends every process inside, so
// nothing a program starts can outlive it, whatever it does with groups, sessions or forks. Where
// namespaces are refused, the child leads a process group of its own instead, as the weaker
// containment, and the arena (a child subreaper) reaps what the program orphans.
// Nothing here ever blocks past the deadline it is given or a stop signal: every pipe end is
// non-blocking, every wait is a poll with a timeout, and every buffer is a fixed array, so a program
// that floods, stalls or never reads costs the arena at most its budget.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "contest/ProtocolLine.h"
#include "platform/Sandbox.h"

namespace brakkenfel {

class SandboxState;

/// Where the child's standard error goes.
enum class ChildStderr : std::uint8_t {
    Relay,    ///< A pipe of its own, relayed line by line, bounded, to the arena's standard error.
    Discard,  ///< /dev/null.
};

/// How strongly the child is kept apart; Best is for real use, the others test the fallbacks.
enum class Containment : std::uint8_t {
    Best,           ///< A PID namespace, with a user namespace only when the plain one is refused.
    UserNamespace,  ///< A user and PID namespace, even where a plain PID namespace would do.
    ProcessGroup,   ///< A process group only.
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
    Stopped,   ///< A stop signal arrived: the wait was given up, through no fault of the program.
};

/// A running contestant program and the arena's two pipe ends to it.
class ContestantProcess {
public:
    /// A deadline meaning "wait without limit".
    static constexpr std::int64_t NoDeadline = -1;
    /// How long the stop sequence grants each step (after "quit", after SIGTERM), in nanoseconds.
    static constexpr std::int64_t StopStepNs = 200'000'000;

    /// Nothing started yet.
    ContestantProcess();
    /// How long the stop sequence waits for the end after SIGKILL before it gives up, in nanoseconds.
    static constexpr std::int64_t KillWaitNs = 1'000'000'000;
    /// Longest line of standard error relayed whole; the rest of a longer one is dropped.
    static constexpr std::size_t MaxRelayLine = 512;
    /// Standard error relayed per second at most (after a first burst of as much); the rest is dropped.
    static constexpr std::int64_t RelayBytesPerSecond = 64 * 1024;

    /// Stops the program if it still runs, blocking until it is reaped (at most about 1.4 s).
    ~ContestantProcess();
    /// Not copyable: one owner stops the child.
    ContestantProcess(const ContestantProcess&) = delete;
    /// Not assignable.
    ContestantProcess& operator=(const ContestantProcess&) = delete;

    /// Starts `/bin/sh -c Command`; false with a reason in `Error` when no process could be made.
    bool Start(const std::string& Command, ChildStderr Stderr, std::string& Error,
               Containment How = Containment::Best);
    /// Relayed standard error lines start with `Label` and ": " and go to `TargetFd`; call before Start.
    void RelayStderrAs(std::string Label, int TargetFd = 2);
    /// Runs the program in a sandbox as `Settings` ask (none until called); call before Start.
    void UseSandbox(const SandboxSettings& Settings);
    /// Which protections held, e.g. "sandbox: no network, read-only files"; empty without a sandbox.
    std::string SandboxNote() const;
    /// True after a Start that --sandbox require refused because the sandbox did not wholly hold
    /// (Error then says what did not): the machine cannot give the sandbox, whatever the program.
    bool SandboxRefused() const;
    /// Relays what the program wrote on its standard error so far, never blocking.
    void DrainStderr();
    /// Bytes of standard error not relayed: over-long lines' tails, floods, a stalled target.
    std::uint64_t StderrDropped() const { return Dropped; }
    /// True when the program runs in a PID namespace of its own.
    bool Contained() const { return InNamespace; }
    /// Why the program is not contained, e.g. "no PID namespace"; empty when it is.
    const std::string& ContainmentNote() const { return Note; }
    /// Reaps every ended child the arena inherited from programs, keeping contestants' statuses for them.
    static void ReapOrphans();

    /// Writes one line (at most MaxProtocolLine bytes, '\n' included) whole or not at all, never blocking.
    WriteOutcome WriteLine(std::string_view Text);
    /// Waits until `DeadlineNs` (NowNs() scale, or NoDeadline) for the next line, relaying standard
    /// error meanwhile; a stop signal ends the wait at once. `Text` stays valid until the next call;
    /// it excludes the '\n'. Once the child itself has ended, what it wrote is still read, and then
    /// the output counts as closed even if something it left behind holds the pipe open.
    ReadOutcome ReadLine(std::int64_t DeadlineNs, std::string_view& Text);
    /// Notes how much of the program's output is already written, before a request is sent; a
    /// line from that part was waiting before the request (see LastLineWasWaiting). One ioctl.
    void NoteWaitingOutput();
    /// True when the line ReadLine gave last had been written before NoteWaitingOutput was called.
    bool LastLineWasWaiting() const { return LastLineEnd <= WaitingUpTo; }

    /// Waits until `DeadlineNs` for the child to end and reaps it; true if it has ended.
    bool WaitForExit(std::int64_t DeadlineNs);
    /// How the child ended, e.g. "exited with status 3" or "was killed by signal 9".
    std::string ExitDescription() const;
    /// The child's process id (the namespace's init when contained), also its process group id; 0 before Start.
    pid_t Pid() const { return ChildPid; }

    /// Starts stopping without waiting: writes "quit" and closes both pipes.
    void BeginStop();
    /// Moves the stop sequence on as far as time allows, without blocking; true once it is over.
    bool PollStop();
    /// Finishes stopping: "quit", 200 ms, SIGTERM, 200 ms, SIGKILL, reap (given up after KillWaitNs).
    void Stop();

    /// The monotonic clock used for every deadline, in nanoseconds.
    static std::int64_t NowNs();

private:
    enum class StopPhase : std::uint8_t { NotStarted, Running, Quitting, Terminating, Killing, Done };

    ReadOutcome TakeLine(std::string_view& Text);
    int Fill();  // 1: bytes came, 0: none for now, -1: the output ended
    bool TryReap();
    bool GroupAlive() const;
    void Police();
    void Signal(int Number);
    void CloseInput();
    void CloseOutput();
    void CloseStderr();
    void TakeStderr(const char* Bytes, std::size_t Count);
    void RelayLine(bool Cut);

    pid_t ChildPid = 0;
    std::unique_ptr<SandboxState> Sandbox;
    SandboxSettings SandboxWanted;
    int InputFd = -1;   // our write end of the child's standard input
    int OutputFd = -1;  // our read end of the child's standard output
    int ErrorFd = -1;   // our read end of the child's standard error, when relayed
    int StatusFd = -1;  // where the namespace's init leaves the command's exact wait status
    int ExitFd = -1;    // a pidfd of the child, readable once it has ended; -1 where the kernel has none
    bool ChildEnded = false;
    bool InNamespace = false;
    std::string Note;
    bool OutputEnded = false;
    bool Reaped = false;
    int Status = 0;
    bool SigpipeIgnored = false;
    StopPhase Phase = StopPhase::NotStarted;
    std::int64_t PhaseStartNs = 0;
    // Reads between looks at the program's CPU time: a countdown keeps the clock off most moves.
    static constexpr int PoliceEvery = 16;
    int PoliceCountdown = PoliceEvery;

    // Holds at most one partial line plus what one read brought; a line that outgrows
    // MaxProtocolLine is dropped and the rest of it skipped, so the buffer never grows.
    static constexpr std::size_t BufferSize = 4096;
    char Buffer[BufferSize];
    std::size_t Begin = 0;
    std::size_t End = 0;
    bool Skipping = false;
    // Offsets in the whole output stream: bytes read so far, the end of the last line taken, and
    // how far the output reached when the last request was about to be sent.
    std::uint64_t TotalRead = 0;
    std::uint64_t LastLineEnd = 0;
    std::uint64_t WaitingUpTo = 0;

    // Standard error: one line being gathered, the relay's byte allowance, what was dropped.
    std::string Label = "contestant";
    int RelayFd = 2;
    char ErrorLine[MaxRelayLine];
    std::size_t ErrorLength = 0;
    bool ErrorSkipping = false;
    std::int64_t Allowance = RelayBytesPerSecond;
    std::int64_t AllowanceNs = 0;
    std::uint64_t Dropped = 0;
};

}  // namespace brakkenfel
