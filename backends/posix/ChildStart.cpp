// The child's side of starting a contestant: only async-signal-safe calls, no allocation.
#include "backends/posix/ChildStart.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <csignal>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "backends/posix/Sandbox.h"

namespace brakkenfel {

namespace {

// Async-signal-safe text output for the child, which must not touch stdio or the allocator.
void SayInChild(const char* Text) {
    const ssize_t Ignored = write(2, Text, std::strlen(Text));
    (void)Ignored;
}

bool WriteFileInChild(const char* Path, const char* Text) {
    const int Fd = open(Path, O_WRONLY | O_CLOEXEC);
    if (Fd < 0) return false;
    const auto Length = static_cast<ssize_t>(std::strlen(Text));
    const bool Done = write(Fd, Text, static_cast<std::size_t>(Length)) == Length;
    close(Fd);
    return Done;
}

// Every signal at its default, none blocked: ignored signals and the mask survive exec.
void DefaultSignals() {
    struct sigaction Default {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    for (int Signal = 1; Signal < NSIG; ++Signal) {
        if (Signal != SIGKILL && Signal != SIGSTOP) sigaction(Signal, &Default, nullptr);
    }
}

// Standard descriptors from the plan, the status pipe (if any) at 3, the sandbox's go and report
// pipes after it (their numbers in `GoAt` and `ReportAt`), and nothing else of the arena.
bool ArrangeDescriptors(const ChildPlan& Plan, int& GoAt, int& ReportAt) {
    // Out of the way first, so that no dup2 below lands on one of them.
    const int Go = Plan.GoFd >= 0 ? fcntl(Plan.GoFd, F_DUPFD_CLOEXEC, 64) : -1;
    const int Report = Plan.ReportFd >= 0 ? fcntl(Plan.ReportFd, F_DUPFD_CLOEXEC, 64) : -1;
    if (dup2(Plan.StdinFd, 0) < 0 || dup2(Plan.StdoutFd, 1) < 0) return false;
    if (Plan.StderrFd >= 0 && dup2(Plan.StderrFd, 2) < 0) return false;
    int Keep = 3;
    if (Plan.StatusFd >= 0) {
        if (dup2(Plan.StatusFd, 3) < 0) return false;
        fcntl(3, F_SETFD, FD_CLOEXEC);  // the init's alone, not the command's
        Keep = 4;
    }
    GoAt = ReportAt = -1;
    for (const auto& [From, At] : {std::pair{Go, &GoAt}, std::pair{Report, &ReportAt}}) {
        if (From < 0) continue;
        if (dup3(From, Keep, O_CLOEXEC) < 0) return false;
        *At = Keep++;
    }
    // Whatever else the arena holds open (its window connection, the other program's pipes)
    // stays out of the program's reach, and out of the init, which never execs.
#if defined(__linux__) && defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    close_range(static_cast<unsigned>(Keep), ~0U, 0);
#else
    for (int Fd = Keep; Fd < 1024; ++Fd) close(Fd);
#endif
    return true;
}

// Tells the arena what held, and ends here (killing `Started`, if any) when it requires more.
void ReportSandbox(const SandboxPlan& Sandbox, const SandboxReport& Report, int ReportAt, pid_t Started) {
    const ssize_t Ignored = write(ReportAt, &Report, sizeof Report);
    (void)Ignored;
    close(ReportAt);
    if (!Sandbox.Require || SandboxHolds(Report, Sandbox)) return;
    if (Started > 0) kill(Started, SIGKILL);
    _exit(125);
}

}  // namespace

// The child outside any namespace: between fork and exec, so only async-signal-safe calls here.
[[noreturn]] void RunGroupChild(const ChildPlan& Plan) {
    setpgid(0, 0);
#ifdef __linux__
    // The arena dying without its tear-down (a crash, SIGKILL) must not leave the program behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != Plan.Parent) _exit(127);
#endif
    DefaultSignals();
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);
    int GoAt = -1, ReportAt = -1;
    if (!ArrangeDescriptors(Plan, GoAt, ReportAt)) _exit(127);
    if (Plan.Sandbox) {
        // The arena puts this child in its cgroup first; a closed pipe without the byte means it gave up.
        char Go = 0;
        if (GoAt >= 0 && read(GoAt, &Go, 1) != 1) _exit(127);
        if (GoAt >= 0) close(GoAt);
        SandboxReport Report;
        ApplySandbox(*Plan.Sandbox, Report, false, Go);
        ReportSandbox(*Plan.Sandbox, Report, ReportAt, 0);
        execle("/bin/sh", "sh", "-c", Plan.Command, static_cast<char*>(nullptr), Plan.Sandbox->Environment);
    } else {
        execl("/bin/sh", "sh", "-c", Plan.Command, static_cast<char*>(nullptr));
    }
    _exit(127);
}

#ifdef __linux__
namespace {

// Signals the init passes on to every process of its namespace; one flag each, set by its handler.
constexpr int Forwarded[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t ForwardPending[std::size(Forwarded)] = {};

extern "C" void OnInitSignal(int Number) {
    for (std::size_t I = 0; I < std::size(Forwarded); ++I) {
        if (Forwarded[I] == Number) ForwardPending[I] = 1;
    }
    // SIGCHLD needs no flag: its only task is to end the init's wait.
}

}  // namespace

// PID 1 of the program's namespace, a copy of the arena made by clone. A PID 1 ignores every
// signal it has no handler for, so the command cannot run here itself: this init starts it, passes
// SIGTERM (and SIGINT, SIGHUP) on to everything in the namespace, reaps what is orphaned there, and
// exits as soon as the command ends, which makes the kernel kill whatever is left inside. It also
// exits when the arena is gone (its end of the status pipe reports an error). Only
// async-signal-safe calls: the arena may have had other threads, and no fork handler ran.
int RunInit(void* Argument) {
    const ChildPlan& Plan = *static_cast<const ChildPlan*>(Argument);
    SandboxReport SandboxDone;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t All;
    sigfillset(&All);
    sigprocmask(SIG_SETMASK, &All, nullptr);
    DefaultSignals();
    if (Plan.MapUser) {
        // The user maps to itself, so the program runs as the same user and its files keep their owner.
        if (!WriteFileInChild("/proc/self/setgroups", "deny") || !WriteFileInChild("/proc/self/uid_map", Plan.UidMap) ||
            !WriteFileInChild("/proc/self/gid_map", Plan.GidMap)) {
            SayInChild("brakkenfel: cannot map the user into the contestant's namespace\n");
            _exit(126);
        }
    }
    int GoAt = -1, ReportAt = -1;
    if (!ArrangeDescriptors(Plan, GoAt, ReportAt)) _exit(127);
    // The arena may have died before PDEATHSIG was set; its read end closing shows it either way.
    pollfd Arena{3, 0, 0};
    if (poll(&Arena, 1, 0) > 0) _exit(127);
    char Go = 0;
    if (Plan.Sandbox) {
        // The arena writes the uid map and places the init in its cgroup first; a closed pipe
        // without the byte means it gave up.
        if (read(GoAt, &Go, 1) != 1) _exit(127);
        close(GoAt);
        ApplySandbox(*Plan.Sandbox, SandboxDone, true, Go);
    }

    struct sigaction Handler {};
    Handler.sa_handler = OnInitSignal;
    sigfillset(&Handler.sa_mask);
    for (int Number : Forwarded) sigaction(Number, &Handler, nullptr);
    sigaction(SIGCHLD, &Handler, nullptr);

    // posix_spawn, not fork: no fork handlers run (they might wait on locks held by threads that
    // are not here), and unlike a hand-made vfork it is safe under the sanitizers' interceptors.
    // The command starts with every signal at its default and none blocked.
    posix_spawnattr_t Attributes;
    posix_spawnattr_init(&Attributes);
    sigset_t None;
    sigemptyset(&None);
    posix_spawnattr_setsigmask(&Attributes, &None);
    sigset_t Every;
    sigfillset(&Every);
    posix_spawnattr_setsigdefault(&Attributes, &Every);
    posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char Shell[] = "sh";
    char Flag[] = "-c";
    char* const Arguments[] = {Shell, Flag, const_cast<char*>(Plan.Command), nullptr};
    pid_t Command = 0;
    char* const* Environment = Plan.Sandbox ? Plan.Sandbox->Environment : environ;
    if (posix_spawn(&Command, "/bin/sh", nullptr, &Attributes, Arguments, Environment) != 0) _exit(127);
    if (Plan.Sandbox) {
        // The memory limit goes on the command alone: set here, it would count the init's copy of
        // the arena (and a sanitizer's shadow) and refuse posix_spawn its stack. posix_spawn returns
        // once the command has exec'd, microseconds before the shell can start anything.
        if (!(Go & GoCgroupMemory)) LimitMemory(Command, *Plan.Sandbox, SandboxDone);
        ReportSandbox(*Plan.Sandbox, SandboxDone, ReportAt, Command);
    }
    // Holding the command's pipes would hide its closing them from the arena.
    close(0);
    close(1);

    sigset_t Waiting;
    sigfillset(&Waiting);
    for (int Number : Forwarded) sigdelset(&Waiting, Number);
    sigdelset(&Waiting, SIGCHLD);
    for (;;) {
        int Status = 0;
        pid_t Ended;
        while ((Ended = waitpid(-1, &Status, WNOHANG)) > 0) {
            if (Ended != Command) continue;
            // The exact status for the arena; the exit status alone cannot say "killed by signal".
            const ssize_t Ignored = write(3, &Status, sizeof Status);
            (void)Ignored;
            _exit(WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status));
        }
        for (std::size_t I = 0; I < std::size(Forwarded); ++I) {
            if (ForwardPending[I] == 0) continue;
            ForwardPending[I] = 0;
            kill(-1, Forwarded[I]);  // every process of the namespace but this one
        }
        Arena = {3, 0, 0};
        if (ppoll(&Arena, 1, nullptr, &Waiting) > 0) _exit(127);
    }
}

// Runs in the arena before the start, where allocating is allowed.
void FormatIdMap(char (&Line)[32], unsigned long Id) {
    const std::string Text = std::to_string(Id) + " " + std::to_string(Id) + " 1\n";
    std::memcpy(Line, Text.c_str(), Text.size() + 1);
}
#endif

}  // namespace brakkenfel
