// Starting, talking to and stopping one contestant program with plain POSIX calls.
#include "contest/ContestantProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstring>
#include <ctime>

namespace brakkenfel {

namespace {

constexpr std::int64_t NsPerSecond = 1'000'000'000;

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

// Runs in the child between fork and exec, so only async-signal-safe calls are allowed here.
[[noreturn]] void RunChild(const char* Command, int StdinFd, int StdoutFd, int StderrFd, pid_t Parent) {
    setpgid(0, 0);
#ifdef __linux__
    // The arena dying without its tear-down (a crash, SIGKILL) must not leave the program behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != Parent) _exit(127);
#else
    (void)Parent;
#endif
    // Ignored signals and the signal mask survive exec; the program gets a clean slate.
    struct sigaction Default {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    for (int Signal = 1; Signal < NSIG; ++Signal) {
        if (Signal != SIGKILL && Signal != SIGSTOP) sigaction(Signal, &Default, nullptr);
    }
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);

    if (dup2(StdinFd, 0) < 0 || dup2(StdoutFd, 1) < 0) _exit(127);
    if (StderrFd >= 0 && dup2(StderrFd, 2) < 0) _exit(127);
    // Whatever else the arena holds open (its window connection, the other program's pipes if
    // they lacked close-on-exec) stays out of the program's reach.
#if defined(__linux__) && defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    close_range(3, ~0U, 0);
#endif
    execl("/bin/sh", "sh", "-c", Command, static_cast<char*>(nullptr));
    _exit(127);
}

}  // namespace

std::int64_t ContestantProcess::NowNs() {
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return static_cast<std::int64_t>(Now.tv_sec) * NsPerSecond + Now.tv_nsec;
}

ContestantProcess::~ContestantProcess() { Stop(); }

bool ContestantProcess::Start(const std::string& Command, ChildStderr Stderr, std::string& Error) {
    if (Phase != StopPhase::NotStarted) {
        Error = "already started";
        return false;
    }
    int ToChild[2] = {-1, -1};
    int FromChild[2] = {-1, -1};
    int Null = -1;
    auto CloseAll = [&] {
        for (int Fd : {ToChild[0], ToChild[1], FromChild[0], FromChild[1], Null}) {
            if (Fd >= 0) close(Fd);
        }
    };
    if (!MakePipe(ToChild) || !MakePipe(FromChild)) {
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
    // What the program starts is orphaned when the program dies first; as a subreaper the arena
    // inherits those processes, so it can reap them and no zombie waits on a slow init.
    static const bool Subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    (void)Subreaper;
#endif
    struct sigaction Pipe {};
    sigaction(SIGPIPE, nullptr, &Pipe);
    SigpipeIgnored = Pipe.sa_handler == SIG_IGN;

    const pid_t Parent = getpid();
    const pid_t Child = fork();
    if (Child < 0) {
        Error = SystemError("fork");
        CloseAll();
        return false;
    }
    if (Child == 0) RunChild(Command.c_str(), ToChild[0], FromChild[1], Null, Parent);

    // Both sides set the group, so that signalling the group works whichever runs first.
    setpgid(Child, Child);
    ChildPid = Child;
    close(ToChild[0]);
    close(FromChild[1]);
    if (Null >= 0) close(Null);
    InputFd = ToChild[1];
    OutputFd = FromChild[0];
    fcntl(InputFd, F_SETFL, fcntl(InputFd, F_GETFL) | O_NONBLOCK);
    fcntl(OutputFd, F_SETFL, fcntl(OutputFd, F_GETFL) | O_NONBLOCK);
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
        if (Length + 1 > MaxProtocolLine) return ReadOutcome::TooLong;
        Text = std::string_view(Start, Length);
        return ReadOutcome::Line;
    }
    if (Begin == End) Begin = End = 0;
    return ReadOutcome::TimedOut;  // no complete line yet
}

bool ContestantProcess::Fill() {
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
            return true;
        }
        if (Got == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        return false;
    }
}

ReadOutcome ContestantProcess::ReadLine(std::int64_t DeadlineNs, std::string_view& Text) {
    for (;;) {
        const ReadOutcome Taken = TakeLine(Text);
        if (Taken != ReadOutcome::TimedOut) return Taken;
        if (OutputFd < 0 || OutputEnded) return ReadOutcome::Closed;

        pollfd Watch{OutputFd, POLLIN, 0};
        int Ready;
        if (DeadlineNs == NoDeadline) {
            Ready = ppoll(&Watch, 1, nullptr, nullptr);
        } else {
            // Checked before polling: a program that writes without pause always has data
            // ready, and must not hold the arena past the deadline with it.
            const std::int64_t Left = DeadlineNs - NowNs();
            if (Left <= 0) return ReadOutcome::TimedOut;
            const timespec Timeout{static_cast<time_t>(Left / NsPerSecond),
                                   static_cast<long>(Left % NsPerSecond)};
            Ready = ppoll(&Watch, 1, &Timeout, nullptr);
        }
        if (Ready < 0) {
            if (errno == EINTR) continue;
            OutputEnded = true;
            continue;
        }
        if (Ready == 0) return ReadOutcome::TimedOut;
        if (!Fill()) OutputEnded = true;  // a partial last line is dropped with the stream
    }
}

bool ContestantProcess::TryReap() {
    if (Reaped || ChildPid <= 0) return Reaped;
    for (;;) {
        const pid_t Done = waitpid(ChildPid, &Status, WNOHANG);
        if (Done == ChildPid) {
            Reaped = true;
        } else if (Done < 0 && errno == EINTR) {
            continue;
        } else if (Done < 0) {
            // Someone else reaped it (SIGCHLD set to SIG_IGN, for one); it is gone either way.
            Status = -1;
            Reaped = true;
        }
        return Reaped;
    }
}

void ContestantProcess::ReapGroup() {
    TryReap();
    // Members the arena inherited as a subreaper; the leader is reaped above with its status.
    int MemberStatus = 0;
    pid_t Member;
    while ((Member = waitpid(-ChildPid, &MemberStatus, WNOHANG)) > 0) {
        if (Member == ChildPid) {
            Status = MemberStatus;
            Reaped = true;
        }
    }
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
    if (WIFEXITED(Status)) return "exited with status " + std::to_string(WEXITSTATUS(Status));
    if (WIFSIGNALED(Status)) return "was killed by signal " + std::to_string(WTERMSIG(Status));
    return "ended";
}

bool ContestantProcess::GroupAlive() const {
    // The group outlives its leader while anything it started still runs.
    return kill(-ChildPid, 0) == 0 || errno == EPERM;
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
    ReapGroup();
    if (Reaped && !GroupAlive()) {
        Phase = StopPhase::Done;
        return true;
    }
    const std::int64_t Now = NowNs();
    if (Now - PhaseStartNs < StopStepNs) return false;
    switch (Phase) {
    case StopPhase::Quitting:
        kill(-ChildPid, SIGTERM);
        Phase = StopPhase::Terminating;
        break;
    case StopPhase::Terminating:
        kill(-ChildPid, SIGKILL);
        Phase = StopPhase::Killing;
        break;
    case StopPhase::Killing:
        // Killed members that someone else must reap (escaped to another parent) are not ours to wait on.
        if (Reaped) Phase = StopPhase::Done;
        break;
    default:
        break;
    }
    PhaseStartNs = Now;
    return Phase == StopPhase::Done;
}

void ContestantProcess::Stop() {
    while (!PollStop()) {
        if (Phase == StopPhase::Killing && !Reaped) {
            // After SIGKILL the end is certain; wait for it rather than poll.
            pid_t Done;
            while ((Done = waitpid(ChildPid, &Status, 0)) < 0 && errno == EINTR) {
            }
            if (Done < 0) Status = -1;
            Reaped = true;
            continue;
        }
        SleepNs(1'000'000);
    }
}

}  // namespace brakkenfel
