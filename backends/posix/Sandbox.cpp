// The arena's side of a contestant's sandbox: the plan, the namespaces tried in turn, the child's report.
#include "backends/posix/Sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "backends/posix/Cgroup.h"
#include "backends/posix/SmallFile.h"
#include "backends/posix/ChildStart.h"

extern char** environ;

namespace brakkenfel {

namespace {

// How long the child may take to set its sandbox up (mounts, Landlock) before the start fails.
constexpr int ReportTimeoutMs = 5000;

std::string ErrorText(int Error) { return Error == 0 ? std::string() : std::string(" (") + std::strerror(Error) + ")"; }

// The uid a root arena's contestants run as: the first from 0x70000000 that no account has. One and
// the same for every match, so that what a program keeps in a granted folder stays its own.
uid_t UnusedId() {
    // Looked up once: every check and every contestant of the run asks for it.
    static const uid_t Found = [] {
        for (uid_t Candidate = 0x70000000U; Candidate < 0x70000000U + 4096; ++Candidate) {
            if (getpwuid(Candidate) == nullptr && getgrgid(Candidate) == nullptr) return Candidate;
        }
        return static_cast<uid_t>(0x7FFFFFF0U);
    }();
    return Found;
}

// Without a user namespace of its own a contestant's process limit is counted over its uid across
// the machine, so each contestant of each arena gets a uid of its own there.
uid_t PrivateId() {
    static unsigned Counter = 0;
    for (int Tries = 0; Tries < 64; ++Tries) {
        const auto Candidate = static_cast<uid_t>(0x70010000U + ((static_cast<unsigned>(getpid()) & 0xFFFFFU) << 4) +
                                                  (Counter++ & 15U));
        if (getpwuid(Candidate) == nullptr && getgrgid(Candidate) == nullptr) return Candidate;
    }
    return 0x7FFFFFF0U;
}

// Tasks (processes and threads) of the real user now: without a user namespace of its own the
// program's process limit counts them too.
std::int64_t TasksOfUser(uid_t User) {
    std::int64_t Count = 0;
    std::error_code Error;
    for (const auto& Entry : std::filesystem::directory_iterator("/proc", Error)) {
        const std::string Name = Entry.path().filename();
        if (Name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream Status(Entry.path() / "status");
        std::string Key;
        std::int64_t Threads = 0;
        long Real = -1;
        while (Status >> Key) {
            if (Key == "Uid:") Status >> Real;
            if (Key == "Threads:") Status >> Threads;
            Status.ignore(1 << 12, '\n');
        }
        if (Real == static_cast<long>(User)) Count += Threads;
    }
    return Count;
}

const char* StepWords(SandboxStep Step) {
    switch (Step) {
    case SandboxStep::None: return "not set up";
    case SandboxStep::Namespace: return "namespaces refused";
    case SandboxStep::MountPrivate: return "mounts refused";
    case SandboxStep::ReadOnly: return "read-only remount refused";
    case SandboxStep::Tmpfs: return "tmpfs refused";
    case SandboxStep::Proc: return "a fresh /proc refused";
    case SandboxStep::Grant: return "the --contestant-write folder could not be bound";
    case SandboxStep::Landlock: return "Landlock refused";
    case SandboxStep::Seccomp: return "the socket filter was refused";
    case SandboxStep::Loopback: return "the loopback network did not come up";
    case SandboxStep::Rlimit: return "setrlimit refused";
    case SandboxStep::Ids: return "the user could not be changed";
    case SandboxStep::PidNamespace: return "no PID namespace";
    case SandboxStep::Cgroup: return "cgroups refused";
    case SandboxStep::CgroupMissing: return "no cgroup hierarchy";
    case SandboxStep::CgroupNotDelegated: return "the memory and pids controllers are not delegated";
    case SandboxStep::CgroupShared: return "the arena's cgroup holds other processes";
    case SandboxStep::CgroupLimit: return "a cgroup limit was refused";
    }
    return "refused";
}

}  // namespace

std::string DescribeSandbox(const SandboxReport& Report, const SandboxPlan& Plan) {
    const std::uint32_t Asked = WantedGuards(Plan);
    std::string Held;
    auto Add = [&Held](const std::string& Words) { Held += (Held.empty() ? "" : ", ") + Words; };
    const auto Has = [&](std::uint32_t Guard) { return (Report.Held & Guard) != 0; };
    if (Plan.Network) {
        Add((Plan.Namespaces & CLONE_NEWNET) && Has(GuardNetwork) ? "a loopback network of its own"
                                                                  : "the machine's network (granted)");
    } else if (Has(GuardNetwork)) {
        Add("no network");
    }
    if (Has(GuardFiles)) Add(Plan.WriteDir.empty() ? "read-only files" : "read-only files but " + Plan.WriteDir);
    if (Has(GuardProcesses)) Add("own processes");
    if (!Has(GuardProcesses) && Report.ProcessesVisible) Add("other processes out of reach");
    if (Has(GuardUser)) Add("unprivileged user");
    if (Has(GuardScratch)) Add("scratch " + std::to_string(Plan.ScratchMb) + " MB");
    // A limit without a cgroup holds for each process alone, and says so.
    const auto Each = [&](std::uint32_t Guard) { return (Report.Whole & Guard) ? "" : " a process"; };
    if (Has(GuardMemory)) Add("memory " + std::to_string(Plan.MemoryBytes >> 20) + " MB" + Each(GuardMemory));
    if (Has(GuardCpu)) Add("CPU " + std::to_string(Plan.CpuSeconds) + " s" + Each(GuardCpu));
    if (Has(GuardProcessLimit)) Add(std::to_string(Plan.Settings.Processes) + " processes");
    std::string Line = "sandbox: " + (Held.empty() ? std::string("nothing held") : Held);
    static const char* const Missing[GuardCount] = {
        "network open",         "files writable", "other processes visible", "not an unprivileged user",
        "scratch not size-capped", "no memory limit", "no CPU limit",         "no process limit",
        "no limits on the program as a whole"};
    // Where only some limits are the program's, the others are named.
    std::string Partial;
    for (const auto& [Guard, Name] : {std::pair{GuardMemory, "memory"}, std::pair{GuardCpu, "CPU"},
                                      std::pair{GuardProcessLimit, "process"}}) {
        if ((Asked & Guard) && !(Report.Whole & Guard)) Partial += (Partial.empty() ? "no " : " or ") + std::string(Name);
    }
    const bool SomeWhole = (Report.Whole & Asked) != 0;
    for (unsigned I = 0; I < GuardCount; ++I) {
        if ((Asked & (1U << I)) == 0 || (Report.Held & (1U << I)) != 0) continue;
        const std::string What = (1U << I) == GuardProgram && SomeWhole ? Partial + " limit on the program as a whole"
                                                                       : Missing[I];
        Line += "; " + What + ": " + StepWords(Report.Step[I]) + ErrorText(Report.Error[I]);
    }
    return Line;
}

SandboxState::SandboxState() = default;

bool CheckWriteGrant(const SandboxSettings& Settings, std::string& Resolved, std::string& Error) {
    Resolved.clear();
    if (Settings.Mode == SandboxMode::Off || Settings.WriteDir.empty()) return true;
    char Path[PATH_MAX];
    struct stat Info {};
    if (realpath(Settings.WriteDir.c_str(), Path) == nullptr || stat(Path, &Info) != 0) {
        Error = "--contestant-write " + Settings.WriteDir + ": not a folder" + ErrorText(errno);
        return false;
    }
    if (!S_ISDIR(Info.st_mode)) {
        Error = "--contestant-write " + Settings.WriteDir + ": not a folder" + ErrorText(ENOTDIR);
        return false;
    }
    if (geteuid() == 0) {
        // As root the program is nobody on the machine: the folder must let that uid write, and
        // changing the owner or mode of the user's folder is not the arena's to do.
        const uid_t Uid = UnusedId();
        const bool Writable = (Info.st_mode & S_IWOTH) || (Info.st_uid == Uid && (Info.st_mode & S_IWUSR)) ||
                              (Info.st_gid == Uid && (Info.st_mode & S_IWGRP));
        if (!Writable) {
            Error = "--contestant-write " + Settings.WriteDir + ": as root the contestants run as uid " +
                    std::to_string(Uid) + ", which cannot write there (chown or chmod the folder)";
            return false;
        }
    } else if (access(Path, W_OK | X_OK) != 0) {
        // Otherwise the program is the arena's own user, inside its namespace or not.
        Error = "--contestant-write " + Settings.WriteDir + ": not writable" + ErrorText(errno);
        return false;
    }
    Resolved = Path;
    return true;
}

bool SandboxState::Prepare(const SandboxSettings& Chosen, std::string& Error) {
    Mode = Chosen.Mode;
    Settings = Chosen;
    RequireRefused = false;
    if (Mode == SandboxMode::Off) return true;
    Planned = SandboxPlan{};
    Planned.Settings = Chosen;
    Planned.Require = Mode == SandboxMode::Require;
    Planned.Network = Chosen.Network;
    Planned.MemoryBytes = Chosen.MemoryMb > 0 ? Chosen.MemoryMb << 20 : 0;
    Planned.CpuSeconds = Chosen.CpuSeconds;
    Planned.Processes = Chosen.Processes;
    Planned.ScratchMb = Chosen.ScratchMb;
    char Here[PATH_MAX];
    Planned.WorkDir = getcwd(Here, sizeof Here) ? Here : "/";
    if (geteuid() == 0) Planned.Uid = Planned.Gid = UnusedId();
    return CheckWriteGrant(Chosen, Planned.WriteDir, Error);
}

void SandboxState::SetEnvironment(const std::string& Scratch) {
    EnvironmentText.clear();
    for (char** Entry = environ; Entry && *Entry; ++Entry) {
        const std::string Text = *Entry;
        if (Text.rfind("HOME=", 0) == 0 || Text.rfind("TMPDIR=", 0) == 0) continue;
        EnvironmentText.push_back(Text);
    }
    EnvironmentText.push_back("HOME=" + Scratch);
    EnvironmentText.push_back("TMPDIR=" + Scratch);
    EnvironmentList.clear();
    for (std::string& Text : EnvironmentText) EnvironmentList.push_back(Text.data());
    EnvironmentList.push_back(nullptr);
    Planned.Environment = EnvironmentList.data();
}

pid_t SandboxState::Start(ChildPlan& Plan, int (*Init)(void*), void* StackTop, std::string& Error) {
    int Report[2] = {-1, -1};
    int Go[2] = {-1, -1};
    if (pipe2(Report, O_CLOEXEC) != 0 || pipe2(Go, O_CLOEXEC) != 0) {
        Error = std::string("pipe: ") + std::strerror(errno);
        for (int Fd : {Report[0], Report[1], Go[0], Go[1]}) {
            if (Fd >= 0) close(Fd);
        }
        return -1;
    }
    Plan.Sandbox = &Planned;
    Plan.ReportFd = Report[1];
    if (Planned.MemoryBytes > 0 || Planned.CpuSeconds > 0 || Planned.Processes > 0) {
        static std::atomic<unsigned> Made{0};
        Group = std::make_unique<ProgramCgroup>();
        Group->Create(ArenaCgroupHome(), "brakkenfel-" + std::to_string(getpid()) + "-" + std::to_string(++Made),
                      Planned.MemoryBytes, Settings.Processes);
    }
    pid_t Child = -1;
    int Refused = 0;
#ifdef __linux__
    const int Others = CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWUTS;
    // A user namespace first: as root it maps the program to an unused uid; without root it is what
    // makes the others possible. Root without one (a chroot refuses them) still has the others.
    const uid_t Shared = Planned.Uid;
    for (const int Flags : {CLONE_NEWUSER | Others, Others}) {
        Planned.Namespaces = static_cast<unsigned>(Flags);
        if (Shared != 0) Planned.Uid = Planned.Gid = (Flags & CLONE_NEWUSER) ? Shared : PrivateId();
        SetEnvironment(ScratchMount);
        Plan.GoFd = Go[0];
        Child = clone(Init, StackTop, Flags | SIGCHLD, &Plan);
        if (Child < 0) {
            Refused = errno;
            continue;
        }
        if (Flags & CLONE_NEWUSER) {
            // Written from here: only a process outside the namespace may map a uid other than its own.
            const uid_t Outside = Planned.Uid != 0 ? Planned.Uid : geteuid();
            const gid_t OutsideGroup = Planned.Uid != 0 ? Planned.Gid : getegid();
            const std::string Proc = "/proc/" + std::to_string(Child) + "/";
            int Unmapped = geteuid() == 0 ? 0 : WriteSmall(Proc + "setgroups", "deny");
            if (Unmapped == 0) {
                Unmapped = WriteSmall(Proc + "uid_map", std::to_string(Outside) + " " + std::to_string(Outside) + " 1\n");
            }
            if (Unmapped == 0) {
                Unmapped = WriteSmall(Proc + "gid_map",
                                      std::to_string(OutsideGroup) + " " + std::to_string(OutsideGroup) + " 1\n");
            }
            if (Unmapped != 0) {
                Refused = Unmapped;
                kill(Child, SIGKILL);
                while (waitpid(Child, nullptr, 0) < 0 && errno == EINTR) {
                }
                Child = -1;
                continue;
            }
        }
        break;
    }
#endif
    if (Child < 0) {
        // No namespaces at all: Landlock, the socket filter and the limits in a plain child.
        Planned.Namespaces = 0;
        Plan.GoFd = Go[0];
        Plan.StatusFd = -1;
        if (Planned.Uid != 0) Planned.Uid = Planned.Gid = PrivateId();
        std::error_code Ignored;
        std::string Template = (std::filesystem::temp_directory_path(Ignored) / "brakkenfel-scratch-XXXXXX").string();
        if (mkdtemp(Template.data()) != nullptr) {
            MadeScratch = Template;
            if (Planned.Uid != 0 && chown(MadeScratch.c_str(), Planned.Uid, Planned.Gid) != 0) chmod(MadeScratch.c_str(), 0777);
        }
        Planned.ScratchDir = MadeScratch;
        SetEnvironment(MadeScratch.empty() ? "/nonexistent" : MadeScratch);
        if (Planned.Uid == 0 && Planned.Processes > 0) Planned.Processes = Settings.Processes + TasksOfUser(getuid());
        Child = fork();
        if (Child == 0) RunGroupChild(Plan);
        if (Child < 0) {
            Error = std::string("fork: ") + std::strerror(errno);
            for (int Fd : {Report[0], Report[1], Go[0], Go[1]}) close(Fd);
            return -1;
        }
    }
    RefusedError = Refused;
    close(Report[1]);
    close(Go[0]);
    // In its group before the go byte, so that nothing the command does escapes the group's limits.
    Placed = Group && Group->Made() && Group->Place(Child);
    // The go byte: the maps are written, the child may set its sandbox up.
    char Byte = GoPlain;
    if (Placed && Group->MemoryHeld && Planned.MemoryBytes > 0) Byte |= GoCgroupMemory;
    if (Placed && Group->ProcessesHeld && Planned.Processes > 0) Byte |= GoCgroupProcesses;
    if (Placed && Group->CpuHeld && Planned.CpuSeconds > 0) Byte |= GoCgroupCpu;
    const ssize_t Sent = write(Go[1], &Byte, 1);
    (void)Sent;
    close(Go[1]);
    const bool Reported = AwaitReport(Report[0], Error);
    close(Report[0]);
    // Required, a sandbox that could not even be set up is one that did not hold.
    if (!Reported && Planned.Require) RequireRefused = true;
    if (!Reported) {
        kill(Child, SIGKILL);
        while (waitpid(Child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return Child;
}

bool SandboxState::AwaitReport(int Fd, std::string& Error) {
    std::size_t Got = 0;
    auto* Bytes = reinterpret_cast<char*>(&Report);
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReportTimeoutMs);
    while (Got < sizeof Report) {
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
        pollfd Watch{Fd, POLLIN, 0};
        if (Left.count() <= 0 || poll(&Watch, 1, static_cast<int>(Left.count())) == 0) {
            Error = "the sandbox was not set up within " + std::to_string(ReportTimeoutMs) + " ms";
            return false;
        }
        const ssize_t Read = read(Fd, Bytes + Got, sizeof Report - Got);
        if (Read < 0 && errno == EINTR) continue;
        if (Read <= 0) break;
        Got += static_cast<std::size_t>(Read);
    }
    if (Got < sizeof Report || !Report.Complete) {
        Error = "the sandbox could not be set up: its child ended first";
        return false;
    }
    for (unsigned I = 0; I < GuardCount; ++I) {
        if (Report.Step[I] == SandboxStep::Namespace || Report.Step[I] == SandboxStep::PidNamespace) {
            Report.Error[I] = RefusedError;
        }
    }
    AddProgramLimits();
    Described = DescribeSandbox(Report, Planned);
    if (Planned.Require && !SandboxHolds(Report, Planned)) {
        RequireRefused = true;
        Error = "not everything held (" + Described + ")";
        return false;
    }
    return true;
}

void SandboxState::AddProgramLimits() {
    // What the group holds the child noted itself from the go byte; why it holds no more is known here.
    if (!(WantedGuards(Planned) & GuardProgram) || (Report.Held & GuardProgram)) return;
    const CgroupFault Fault = Group ? Group->Fault : CgroupFault::Missing;
    const auto At = static_cast<unsigned>(std::countr_zero(static_cast<std::uint32_t>(GuardProgram)));
    Report.Step[At] = Fault == CgroupFault::Missing        ? SandboxStep::CgroupMissing
                      : Fault == CgroupFault::NotDelegated ? SandboxStep::CgroupNotDelegated
                      : Fault == CgroupFault::Shared       ? SandboxStep::CgroupShared
                      : Fault == CgroupFault::Limit        ? SandboxStep::CgroupLimit
                                                           : SandboxStep::Cgroup;
    Report.Error[At] = Group ? Group->Error : 0;
}

void SandboxState::Police(std::int64_t NowNs) {
    if (!Placed || NowNs < NextCheckNs) return;
    NextCheckNs = NowNs + 1'000'000'000;
    if ((Report.Whole & GuardCpu) && Group->CpuNs() >= Planned.CpuSeconds * 1'000'000'000) {
        CpuKilled = true;
        Group->KillAll();
        return;
    }
    // v2 ends the whole group itself (memory.oom.group); v1 ends one process, and the rest go here.
    if ((Report.Whole & GuardMemory) && ArenaCgroupHome().Version == 1 && Group->OomKills() > 0) {
        Group->KillAll();
    }
}

void SandboxState::KillProgram() {
    if (Group) Group->KillAll();
}

void SandboxState::EndProgram() {
    if (Group) Group->Remove();
}

std::string SandboxState::LimitReached(int Status) const {
    if (Mode == SandboxMode::Off || Status == -1) return {};
    const std::string Cpu = "its CPU limit of " + std::to_string(Planned.CpuSeconds) + " s";
    if (CpuKilled) return ": " + Cpu;
    if (WIFSIGNALED(Status) && WTERMSIG(Status) == SIGXCPU && (Report.Held & GuardCpu)) return ": " + Cpu;
    if (!Placed) return {};
    const CgroupEvents Events = Group->Events();
    const std::string Memory = "its memory limit of " + std::to_string(Planned.MemoryBytes >> 20) + " MB";
    if ((Report.Whole & GuardMemory) && Events.OomKills > 0) {
        const bool Killed = WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL;
        return Killed ? ": " + Memory : " after " + Memory + " ended one of its processes";
    }
    if ((Report.Whole & GuardMemory) && Events.MemoryHits > 0) return " after reaching " + Memory;
    if ((Report.Whole & GuardProcessLimit) && Events.ProcessHits > 0) {
        return " after reaching its limit of " + std::to_string(Planned.Settings.Processes) + " processes";
    }
    return {};
}

SandboxState::~SandboxState() {
    EndProgram();
    if (MadeScratch.empty()) return;
    std::error_code Ignored;
    std::filesystem::remove_all(MadeScratch, Ignored);
}

}  // namespace brakkenfel
