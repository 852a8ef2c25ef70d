// Starting, talking to and stopping one contestant program with plain POSIX calls.
#include "platform/ContestantProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <vector>

#include "backends/posix/ChildStart.h"
#include "backends/posix/Sandbox.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

constexpr std::int64_t NsPerSecond = 1'000'000'000;
constexpr std::int64_t StopCheckNs = 100'000'000;

void SleepNs(std::int64_t Ns) {
    timespec Wait{static_cast<time_t>(Ns / NsPerSecond), static_cast<long>(Ns % NsPerSecond)};
    while (nanosleep(&Wait, &Wait) != 0 && errno == EINTR) {
    }
}

// Keeps descriptors 0 to 2 free so that the child's dup2 calls can never overwrite one of them.
bool MoveAboveStandard(int& Fd) {
    if (Fd > 2) return true;
    const int Moved = fcntl(Fd, F_DUPFD_CLOEXEC, 3);
    close(Fd);
    Fd = Moved;
    return Moved >= 0;
}

bool MakePipe(int (&Ends)[2]) {
    if (pipe2(Ends, O_CLOEXEC) != 0) return false;
    if (MoveAboveStandard(Ends[0]) && MoveAboveStandard(Ends[1])) return true;
    if (Ends[0] >= 0) close(Ends[0]);
    if (Ends[1] >= 0) close(Ends[1]);
    return false;
}

std::string SystemError(const char* What) { return std::string(What) + ": " + std::strerror(errno); }

// A descriptor that becomes readable when the process ends, whoever holds its pipes; -1 where the
// kernel has none (before Linux 5.3), and the waits then look for the end by waitpid instead.
int OpenExitFd(pid_t Pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
    const long Fd = syscall(SYS_pidfd_open, Pid, 0);
    if (Fd >= 0 && Fd <= 2) {
        int Moved = static_cast<int>(Fd);
        return MoveAboveStandard(Moved) ? Moved : -1;
    }
    return static_cast<int>(Fd);
#else
    (void)Pid;
    return -1;
#endif
}

// Process-wide: contestants' processes whose statuses ReapOrphans took on their owners' behalf.
struct KnownChild {
    pid_t Pid;
    bool Ended;
    int Status;
};
std::vector<KnownChild>& KnownChildren() {
    static std::vector<KnownChild> Children;
    return Children;
}

// Stop signals, blocked between looking at the flag and the wait that unblocks them, so that one
// arriving in between still ends the wait.
sigset_t StopSignalSet() {
    sigset_t Set;
    sigemptyset(&Set);
    for (int Number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&Set, Number);
    return Set;
}

}  // namespace

std::int64_t ContestantProcess::NowNs() {
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return static_cast<std::int64_t>(Now.tv_sec) * NsPerSecond + Now.tv_nsec;
}

ContestantProcess::ContestantProcess() = default;

ContestantProcess::~ContestantProcess() { Stop(); }

void ContestantProcess::UseSandbox(const SandboxSettings& Settings) {
    Sandbox = std::make_unique<SandboxState>();
    SandboxWanted = Settings;
}

std::string ContestantProcess::SandboxNote() const { return Sandbox && Sandbox->Active() ? Sandbox->Note() : ""; }

bool ContestantProcess::SandboxRefused() const { return Sandbox && Sandbox->Refused(); }

void ContestantProcess::RelayStderrAs(std::string NewLabel, int TargetFd) {
    Label = std::move(NewLabel);
    RelayFd = TargetFd;
}

bool ContestantProcess::Start(const std::string& Command, ChildStderr Stderr, std::string& Error, Containment How) {
    if (Phase != StopPhase::NotStarted) {
        Error = "already started";
        return false;
    }
    int ToChild[2] = {-1, -1};
    int FromChild[2] = {-1, -1};
    int ErrorPipe[2] = {-1, -1};
    int Status[2] = {-1, -1};
    int Null = -1;
    auto CloseAll = [&] {
        for (int Fd : {ToChild[0], ToChild[1], FromChild[0], FromChild[1], ErrorPipe[0], ErrorPipe[1], Status[0],
                       Status[1], Null}) {
            if (Fd >= 0) close(Fd);
        }
    };
    const bool Piped = MakePipe(ToChild) && MakePipe(FromChild) &&
                       (Stderr == ChildStderr::Discard || MakePipe(ErrorPipe)) &&
                       (How == Containment::ProcessGroup || MakePipe(Status));
    if (!Piped) {
        Error = SystemError("pipe");
        CloseAll();
        return false;
    }
    if (Stderr == ChildStderr::Discard) {
        Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (Null < 0 || !MoveAboveStandard(Null)) {
            Error = SystemError("/dev/null");
            CloseAll();
            return false;
        }
    }

#ifdef __linux__
    // What an uncontained program starts is orphaned when the program dies first; as a subreaper
    // the arena inherits those processes, so it can reap them and no zombie waits on a slow init.
    static const bool Subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    (void)Subreaper;
#endif
    struct sigaction Pipe {};
    sigaction(SIGPIPE, nullptr, &Pipe);
    SigpipeIgnored = Pipe.sa_handler == SIG_IGN;

    ChildPlan Plan;
    Plan.Command = Command.c_str();
    Plan.StdinFd = ToChild[0];
    Plan.StdoutFd = FromChild[1];
    Plan.StderrFd = Stderr == ChildStderr::Discard ? Null : ErrorPipe[1];
    Plan.StatusFd = Status[1];
    Plan.Parent = getpid();
    pid_t Child = -1;
    int Refused = 0;
    if (Sandbox && !Sandbox->Prepare(SandboxWanted, Error)) {
        CloseAll();
        return false;
    }
    const bool Sandboxed = Sandbox && Sandbox->Active();
#ifdef __linux__
    // The init's stack: a copy of it is the child's, the parent's is freed once clone returns.
    constexpr std::size_t StackSize = 256 * 1024;
    const auto Stack = std::make_unique<std::max_align_t[]>(StackSize / sizeof(std::max_align_t));
    void* const Top = Stack.get() + StackSize / sizeof(std::max_align_t);
    if (Sandboxed) {
        // The sandbox tries its namespaces in turn and falls back to a plain child by itself.
        Child = Sandbox->Start(Plan, RunInit, Top, Error);
        if (Child < 0) {
            CloseAll();
            return false;
        }
    } else if (How != Containment::ProcessGroup) {
        FormatIdMap(Plan.UidMap, geteuid());
        FormatIdMap(Plan.GidMap, getegid());
        // A plain PID namespace needs privilege; a user namespace gives it without any.
        if (How == Containment::Best) {
            Child = clone(RunInit, Top, CLONE_NEWPID | SIGCHLD, &Plan);
            Refused = errno;
        }
        if (Child < 0) {
            Plan.MapUser = true;
            Child = clone(RunInit, Top, CLONE_NEWUSER | CLONE_NEWPID | SIGCHLD, &Plan);
            Refused = errno;
        }
    }
#endif
    InNamespace = Sandboxed ? Sandbox->Plan().Namespaces != 0 : Child > 0;
    if (Sandboxed && !InNamespace) {
        Note = "no PID namespace";
        Plan.StatusFd = -1;
    } else if (!InNamespace) {
        if (How != Containment::ProcessGroup) {
            Note = std::string("no PID namespace: ") + std::strerror(Refused);
        } else {
            Note = "no PID namespace";
        }
        Plan.StatusFd = -1;
        Child = fork();
        if (Child < 0) {
            Error = SystemError("fork");
            CloseAll();
            return false;
        }
        if (Child == 0) RunGroupChild(Plan);
    }

    // Both sides set the group, so that signalling the group works whichever runs first.
    setpgid(Child, Child);
    ChildPid = Child;
    // Opened before anything could reap the child, so the number cannot belong to another process yet.
    ExitFd = OpenExitFd(Child);
    for (int Fd : {ToChild[0], FromChild[1], ErrorPipe[1], Status[1], Null}) {
        if (Fd >= 0) close(Fd);
    }
    KnownChildren().push_back({Child, false, 0});
    InputFd = ToChild[1];
    OutputFd = FromChild[0];
    ErrorFd = ErrorPipe[0];
    StatusFd = InNamespace ? Status[0] : -1;
    if (!InNamespace && Status[0] >= 0) close(Status[0]);
    for (int Fd : {InputFd, OutputFd, ErrorFd, StatusFd}) {
        if (Fd >= 0) fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) | O_NONBLOCK);
    }
    AllowanceNs = NowNs();
    Phase = StopPhase::Running;
    return true;
}

WriteOutcome ContestantProcess::WriteLine(std::string_view Text) {
    if (InputFd < 0) return WriteOutcome::Closed;
    // A write to a pipe whose reader is gone raises SIGPIPE, which would end the whole arena.
    // Blocking it for just this write keeps the process's own signal setup untouched.
    sigset_t PipeOnly, Previous;
    bool Masked = false;
    if (!SigpipeIgnored) {
        sigemptyset(&PipeOnly);
        sigaddset(&PipeOnly, SIGPIPE);
        Masked = pthread_sigmask(SIG_BLOCK, &PipeOnly, &Previous) == 0;
    }
    ssize_t Written;
    do {
        Written = write(InputFd, Text.data(), Text.size());
    } while (Written < 0 && errno == EINTR);
    const int WriteError = errno;
    if (Masked) {
        if (Written < 0 && WriteError == EPIPE) {
            const timespec Zero{0, 0};
            sigtimedwait(&PipeOnly, nullptr, &Zero);
        }
        pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
    }
    // Lines are far below PIPE_BUF, so a non-blocking pipe takes each whole or not at all.
    if (Written == static_cast<ssize_t>(Text.size())) return WriteOutcome::Written;
    if (Written >= 0 || WriteError == EAGAIN || WriteError == EWOULDBLOCK) return WriteOutcome::Full;
    CloseInput();
    return WriteOutcome::Closed;
}

ReadOutcome ContestantProcess::TakeLine(std::string_view& Text) {
    while (Begin < End) {
        char* Start = Buffer + Begin;
        char* NewLine = static_cast<char*>(std::memchr(Start, '\n', End - Begin));
        if (Skipping) {
            if (NewLine == nullptr) {
                Begin = End = 0;
                return ReadOutcome::TimedOut;
            }
            Skipping = false;
            Begin = static_cast<std::size_t>(NewLine - Buffer) + 1;
            continue;
        }
        if (NewLine == nullptr) {
            if (End - Begin >= MaxProtocolLine) {
                Skipping = true;
                Begin = End = 0;
                return ReadOutcome::TooLong;
            }
            break;
        }
        const std::size_t Length = static_cast<std::size_t>(NewLine - Start);
        Begin += Length + 1;
        LastLineEnd = TotalRead - End + Begin;
        if (Length + 1 > MaxProtocolLine) return ReadOutcome::TooLong;
        Text = std::string_view(Start, Length);
        return ReadOutcome::Line;
    }
    if (Begin == End) Begin = End = 0;
    return ReadOutcome::TimedOut;  // no complete line yet
}

int ContestantProcess::Fill() {
    if (Begin > 0) {
        // What is left is a partial line shorter than MaxProtocolLine: a cheap move.
        std::memmove(Buffer, Buffer + Begin, End - Begin);
        End -= Begin;
        Begin = 0;
    }
    for (;;) {
        const ssize_t Got = read(OutputFd, Buffer + End, BufferSize - End);
        if (Got > 0) {
            End += static_cast<std::size_t>(Got);
            TotalRead += static_cast<std::uint64_t>(Got);
            return 1;
        }
        if (Got == 0) return -1;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

void ContestantProcess::NoteWaitingOutput() {
    int Pending = 0;
    if (OutputFd < 0 || ioctl(OutputFd, FIONREAD, &Pending) != 0 || Pending < 0) Pending = 0;
    WaitingUpTo = TotalRead + static_cast<std::uint64_t>(Pending);
}

ReadOutcome ContestantProcess::ReadLine(std::int64_t DeadlineNs, std::string_view& Text) {
    const sigset_t Stops = StopSignalSet();
    sigset_t Unblocked;
    bool Blocked = false;
    auto Finish = [&](ReadOutcome Outcome) {
        if (Blocked) pthread_sigmask(SIG_SETMASK, &Unblocked, nullptr);
        return Outcome;
    };
    // The whole program's CPU time is looked at now and then, never more than once a second.
    if (--PoliceCountdown <= 0) Police();
    for (;;) {
        const ReadOutcome Taken = TakeLine(Text);
        if (Taken != ReadOutcome::TimedOut) return Finish(Taken);
        if (OutputFd < 0 || OutputEnded) return Finish(ReadOutcome::Closed);
        if (ChildEnded) {
            // What the program wrote before it ended is in the pipe by now. Whatever still holds the
            // pipe open (a process it left behind) is not the program, so the output ends here.
            if (Fill() <= 0) OutputEnded = true;
            continue;
        }
        if (!Blocked) Blocked = pthread_sigmask(SIG_BLOCK, &Stops, &Unblocked) == 0;
        if (StopSignalPending()) return Finish(ReadOutcome::Stopped);

        // A negative fd is skipped.
        pollfd Watch[3] = {{OutputFd, POLLIN, 0}, {ErrorFd, POLLIN, 0}, {ExitFd, POLLIN, 0}};
        // A stop signal handled by another thread of the process does not interrupt this wait,
        // so no slice of it is longer than StopCheckNs.
        std::int64_t Slice = StopCheckNs;
        if (DeadlineNs != NoDeadline) {
            // Checked before polling: a program that writes without pause always has data
            // ready, and must not hold the arena past the deadline with it.
            const std::int64_t Left = DeadlineNs - NowNs();
            if (Left <= 0) return Finish(ReadOutcome::TimedOut);
            Slice = std::min(Slice, Left);
        }
        const timespec Timeout{static_cast<time_t>(Slice / NsPerSecond), static_cast<long>(Slice % NsPerSecond)};
        // The stop signals are unblocked only inside the wait: one that came since the flag was
        // looked at ends it at once instead of being noticed after it.
        const int Ready = ppoll(Watch, 3, &Timeout, Blocked ? &Unblocked : nullptr);
        if (Ready < 0) {
            if (errno == EINTR) continue;
            OutputEnded = true;
            continue;
        }
        if (Ready == 0) {
            // Without a pidfd the end of the child is looked for whenever the output stays quiet.
            if (ExitFd < 0 && TryReap()) ChildEnded = true;
            Police();
            if (ChildEnded || DeadlineNs == NoDeadline || NowNs() < DeadlineNs) continue;
            return Finish(ReadOutcome::TimedOut);
        }
        if (Watch[1].revents != 0) DrainStderr();
        if (Watch[2].revents != 0) ChildEnded = true;
        if (Watch[0].revents != 0 && Fill() < 0) OutputEnded = true;  // a partial last line is dropped with the stream
    }
}

void ContestantProcess::DrainStderr() {
    // A bounded amount each time, so that a flood costs a move microseconds; the rest waits in the pipe.
    char Chunk[4096];
    for (int Round = 0; Round < 16 && ErrorFd >= 0; ++Round) {
        const ssize_t Got = read(ErrorFd, Chunk, sizeof Chunk);
        if (Got > 0) {
            TakeStderr(Chunk, static_cast<std::size_t>(Got));
        } else if (Got == 0) {
            CloseStderr();
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) CloseStderr();
            return;
        }
    }
}

void ContestantProcess::TakeStderr(const char* Bytes, std::size_t Count) {
    for (std::size_t I = 0; I < Count; ++I) {
        const char Byte = Bytes[I];
        if (Byte == '\n') {
            if (ErrorSkipping) {
                ErrorSkipping = false;
            } else {
                RelayLine(false);
            }
            ErrorLength = 0;
            continue;
        }
        if (ErrorSkipping) {
            ++Dropped;
            continue;
        }
        if (ErrorLength == MaxRelayLine) {
            RelayLine(true);
            ErrorLength = 0;
            ErrorSkipping = true;
            ++Dropped;
            continue;
        }
        // Control characters could drive the terminal the arena's standard error goes to.
        const auto Code = static_cast<unsigned char>(Byte);
        ErrorLine[ErrorLength++] = (Code < 0x20 && Byte != '\t') || Code == 0x7f ? '?' : Byte;
    }
}

void ContestantProcess::RelayLine(bool Cut) {
    const std::int64_t Now = NowNs();
    Allowance = std::min<std::int64_t>(RelayBytesPerSecond,
                                       Allowance + (Now - AllowanceNs) * RelayBytesPerSecond / NsPerSecond);
    AllowanceNs = Now;
    const auto Cost = static_cast<std::int64_t>(ErrorLength + 1);
    // A whole line or nothing; and nothing when the arena's standard error would make it wait
    // (a pipe nobody reads): the arena's own messages block there, a program's never do.
    pollfd Target{RelayFd, POLLOUT, 0};
    if (Cost > Allowance || poll(&Target, 1, 0) != 1 || (Target.revents & POLLOUT) == 0) {
        Dropped += static_cast<std::uint64_t>(Cost);
        return;
    }
    Allowance -= Cost;
    char Line[MaxRelayLine + 64];
    const std::size_t Prefix = std::min<std::size_t>(Label.size(), 32);
    std::size_t Length = 0;
    std::memcpy(Line, Label.data(), Prefix);
    Length += Prefix;
    std::memcpy(Line + Length, ": ", 2);
    Length += 2;
    std::memcpy(Line + Length, ErrorLine, ErrorLength);
    Length += ErrorLength;
    if (Cut) {
        std::memcpy(Line + Length, " [cut]", 6);
        Length += 6;
    }
    Line[Length++] = '\n';
    ssize_t Written;
    while ((Written = write(RelayFd, Line, Length)) < 0 && errno == EINTR) {
    }
    if (Written < 0) Dropped += static_cast<std::uint64_t>(Cost);
}

void ContestantProcess::ReapOrphans() {
    int Status = 0;
    pid_t Ended;
    while ((Ended = waitpid(-1, &Status, WNOHANG)) > 0) {
        for (KnownChild& Child : KnownChildren()) {
            if (Child.Pid == Ended && !Child.Ended) {
                Child.Ended = true;
                Child.Status = Status;
            }
        }
    }
}

bool ContestantProcess::TryReap() {
    if (Reaped || ChildPid <= 0) return Reaped;
    auto& Known = KnownChildren();
    const auto Mine = std::find_if(Known.begin(), Known.end(), [this](const KnownChild& C) { return C.Pid == ChildPid; });
    if (Mine != Known.end() && Mine->Ended) {
        Status = Mine->Status;
        Reaped = true;
    }
    while (!Reaped) {
        const pid_t Done = waitpid(ChildPid, &Status, WNOHANG);
        if (Done == ChildPid) {
            Reaped = true;
        } else if (Done < 0 && errno == EINTR) {
            continue;
        } else if (Done < 0) {
            // Someone else reaped it (SIGCHLD set to SIG_IGN, for one); it is gone either way.
            Status = -1;
            Reaped = true;
        } else {
            return false;
        }
    }
    if (Mine != Known.end()) Known.erase(Mine);
    if (StatusFd >= 0) {
        // The init left the command's own status before it exited; a killed init left none.
        int Exact = 0;
        if (read(StatusFd, &Exact, sizeof Exact) == static_cast<ssize_t>(sizeof Exact)) Status = Exact;
        close(StatusFd);
        StatusFd = -1;
    }
    return true;
}

bool ContestantProcess::WaitForExit(std::int64_t DeadlineNs) {
    // Exits are checked often at first, then less often, so a quick exit costs microseconds.
    std::int64_t Step = 50'000;
    while (!TryReap()) {
        if (DeadlineNs != NoDeadline) {
            const std::int64_t Left = DeadlineNs - NowNs();
            if (Left <= 0) return false;
            if (Step > Left) Step = Left;
        }
        SleepNs(Step);
        if (Step < 2'000'000) Step *= 2;
    }
    return true;
}

std::string ContestantProcess::ExitDescription() const {
    if (!Reaped) return "is still running";
    if (Status == -1) return "ended";
    const std::string Limit = Sandbox ? Sandbox->LimitReached(Status) : "";
    if (WIFEXITED(Status)) return "exited with status " + std::to_string(WEXITSTATUS(Status)) + Limit;
    if (WIFSIGNALED(Status)) return "was killed by signal " + std::to_string(WTERMSIG(Status)) + Limit;
    return "ended";
}

bool ContestantProcess::GroupAlive() const {
    // A namespace ends with its init; a group outlives its leader while anything it started still runs.
    if (InNamespace) return !Reaped;
    return kill(-ChildPid, 0) == 0 || errno == EPERM;
}

void ContestantProcess::Signal(int Number) {
    // The init passes SIGTERM on inside and takes the namespace down with it on SIGKILL. An
    // uncontained leader may have left its group, so it is signalled by its own id as well, and
    // its cgroup (where it has one) holds whatever left the group.
    if (!Reaped) kill(ChildPid, Number);
    if (!InNamespace) kill(-ChildPid, Number);
    if (Number == SIGKILL && Sandbox) Sandbox->KillProgram();
}

void ContestantProcess::Police() {
    PoliceCountdown = PoliceEvery;
    if (Sandbox && !Reaped) Sandbox->Police(NowNs());
}

void ContestantProcess::CloseInput() {
    if (InputFd >= 0) close(InputFd);
    InputFd = -1;
}

void ContestantProcess::CloseOutput() {
    if (OutputFd >= 0) close(OutputFd);
    OutputFd = -1;
    Begin = End = 0;
    Skipping = false;
}

void ContestantProcess::CloseStderr() {
    if (ErrorFd < 0) return;
    close(ErrorFd);
    ErrorFd = -1;
    // A last line without its '\n' still says something.
    if (ErrorLength > 0 && !ErrorSkipping) RelayLine(false);
    ErrorLength = 0;
    ErrorSkipping = false;
}

void ContestantProcess::BeginStop() {
    if (Phase != StopPhase::Running) return;
    WriteLine("quit\n");
    CloseInput();
    CloseOutput();
    Phase = StopPhase::Quitting;
    PhaseStartNs = NowNs();
}

bool ContestantProcess::PollStop() {
    if (Phase == StopPhase::NotStarted || Phase == StopPhase::Done) return true;
    if (Phase == StopPhase::Running) BeginStop();
    DrainStderr();
    ReapOrphans();
    TryReap();
    const std::int64_t Now = NowNs();
    const bool Over = Reaped && !GroupAlive();
    // Killed members that someone else must reap (escaped to another parent) are not ours to wait on,
    // and a process that even SIGKILL does not end soon (stuck in the kernel) is not waited on for ever.
    if (Over || (Phase == StopPhase::Killing && (Reaped || Now - PhaseStartNs >= KillWaitNs))) {
        DrainStderr();
        CloseStderr();
        if (StatusFd >= 0) close(StatusFd);
        StatusFd = -1;
        if (ExitFd >= 0) close(ExitFd);
        ExitFd = -1;
        // Given up on, it is an orphan like any other for ReapOrphans.
        auto& Known = KnownChildren();
        Known.erase(std::remove_if(Known.begin(), Known.end(), [this](const KnownChild& C) { return C.Pid == ChildPid; }),
                    Known.end());
        if (Sandbox) Sandbox->EndProgram();
        Phase = StopPhase::Done;
        return true;
    }
    if (Now - PhaseStartNs < StopStepNs || Phase == StopPhase::Killing) return false;
    if (Phase == StopPhase::Quitting) {
        Signal(SIGTERM);
        Phase = StopPhase::Terminating;
    } else {
        Signal(SIGKILL);
        Phase = StopPhase::Killing;
    }
    PhaseStartNs = Now;
    return false;
}

void ContestantProcess::Stop() {
    while (!PollStop()) SleepNs(1'000'000);
}

}  // namespace brakkenfel
