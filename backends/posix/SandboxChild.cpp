// The child's side of a contestant's sandbox: mounts, Landlock, a socket filter, limits, the user; async-signal-safe.
#include "backends/posix/Sandbox.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#ifdef __linux__
#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace brakkenfel {

std::uint32_t WantedGuards(const SandboxPlan& Plan) {
    std::uint32_t Guards = GuardFiles | GuardProcesses | GuardUser | GuardScratch;
    if (!Plan.Network) Guards |= GuardNetwork;
    if (Plan.MemoryBytes > 0) Guards |= GuardMemory;
    if (Plan.CpuSeconds > 0) Guards |= GuardCpu;
    if (Plan.Processes > 0) Guards |= GuardProcessLimit;
    if (Guards & (GuardMemory | GuardCpu | GuardProcessLimit)) Guards |= GuardProgram;
    return Guards;
}

bool SandboxHolds(const SandboxReport& Report, const SandboxPlan& Plan) {
    const std::uint32_t Asked = WantedGuards(Plan);
    return (Report.Held & Asked) == Asked;
}

#ifdef __linux__
namespace {

void Fail(SandboxReport& Report, std::uint32_t Guard, SandboxStep Step, int Error) {
    for (unsigned I = 0; I < GuardCount; ++I) {
        if (Guard == (1U << I) && Report.Step[I] == SandboxStep::None) {
            Report.Step[I] = Step;
            Report.Error[I] = Error;
        }
    }
}

// The kernel's Landlock interface, spelled out here: Debian 12's headers predate its network rules.
struct LandlockRuleset {
    std::uint64_t HandledFs;
    std::uint64_t HandledNet;
};
struct __attribute__((packed)) LandlockPathBeneath {
    std::uint64_t Allowed;
    std::int32_t ParentFd;
};
constexpr std::uint64_t FsWriteFile = 1ULL << 1;
constexpr std::uint64_t FsTruncate = 1ULL << 14;  // ABI 3
// Every way of changing the file system that Landlock knows from ABI 1 on: writing, removing, making.
constexpr std::uint64_t FsWrites = FsWriteFile | (1ULL << 4) | (1ULL << 5) | (1ULL << 6) | (1ULL << 7) |
                                   (1ULL << 8) | (1ULL << 9) | (1ULL << 10) | (1ULL << 11) | (1ULL << 12);
constexpr std::uint64_t FsRefer = 1ULL << 13;  // ABI 2
constexpr std::uint64_t NetBindTcp = 1ULL << 0;
constexpr std::uint64_t NetConnectTcp = 1ULL << 1;
constexpr unsigned LandlockVersionFlag = 1U << 0;
constexpr int RulePathBeneath = 1;

bool AllowBeneath(int Ruleset, const char* Path, std::uint64_t Access) {
    const int Fd = open(Path, O_PATH | O_CLOEXEC);
    if (Fd < 0) return false;
    const LandlockPathBeneath Rule{Access, Fd};
    const bool Added = syscall(SYS_landlock_add_rule, Ruleset, RulePathBeneath, &Rule, 0) == 0;
    close(Fd);
    return Added;
}

// Writes only beneath the scratch and granted folders (and to devices such as /dev/null), and no
// TCP at all, for what the namespaces could not give. Landlock also keeps every process outside the
// domain (the arena, the other contestant) out of ptrace's reach, and so their /proc entries.
void ApplyLandlock(const SandboxPlan& Plan, SandboxReport& Report, std::uint32_t Wanted) {
    const long Abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LandlockVersionFlag);
    if (Abi < 1) {
        const int Error = errno;
        for (std::uint32_t Guard : {GuardFiles, GuardProcesses}) {
            if (Wanted & Guard) Fail(Report, Guard, SandboxStep::Landlock, Error);
        }
        return;
    }
    LandlockRuleset Attributes{};
    std::uint64_t Writes = FsWrites | (Abi >= 2 ? FsRefer : 0) | (Abi >= 3 ? FsTruncate : 0);
    Attributes.HandledFs = (Wanted & GuardFiles) ? Writes : 0;
    const bool NetRules = Abi >= 4 && (Wanted & GuardNetwork);
    if (NetRules) Attributes.HandledNet = NetBindTcp | NetConnectTcp;
    // A ruleset handling nothing still makes a domain, which is what keeps other processes out of reach.
    const std::size_t Size = Abi >= 4 ? sizeof Attributes : sizeof Attributes.HandledFs;
    const int Ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &Attributes, Size, 0));
    if (Ruleset < 0) {
        const int Error = errno;
        for (std::uint32_t Guard : {GuardFiles, GuardProcesses}) {
            if (Wanted & Guard) Fail(Report, Guard, SandboxStep::Landlock, Error);
        }
        return;
    }
    bool Rules = true;
    if (Attributes.HandledFs != 0) {
        if (!Plan.ScratchDir.empty()) Rules = AllowBeneath(Ruleset, Plan.ScratchDir.c_str(), Writes) && Rules;
        if (!Plan.WriteDir.empty()) Rules = AllowBeneath(Ruleset, Plan.WriteDir.c_str(), Writes) && Rules;
        // The devices every program may write; nothing can be made in /dev, and /dev/shm stays shut.
        for (const char* Device : {"/dev/null", "/dev/zero", "/dev/full", "/dev/tty"}) {
            AllowBeneath(Ruleset, Device, FsWriteFile | (Abi >= 3 ? FsTruncate : 0));
        }
    }
    const int Error = errno;
    const bool Restricted = Rules && syscall(SYS_landlock_restrict_self, Ruleset, 0) == 0;
    const int RestrictError = errno;
    close(Ruleset);
    if (!Restricted) {
        for (std::uint32_t Guard : {GuardFiles, GuardProcesses}) {
            if (Wanted & Guard) Fail(Report, Guard, SandboxStep::Landlock, Rules ? RestrictError : Error);
        }
        return;
    }
    if (Wanted & GuardFiles) Report.Held |= GuardFiles;
    if (Wanted & GuardProcesses) Report.ProcessesVisible = true;
    // The network is held by the socket filter; Landlock's TCP rules, where it has them, are a second lock.
}

// Sockets of any family but AF_UNIX are refused (EACCES): UDP, raw and packet sockets are what
// Landlock's TCP rules do not cover. Raw BPF: one comparison is not worth a library.
bool FilterSockets() {
#if defined(__x86_64__)
    constexpr std::uint32_t Arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t Arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
#if defined(__x86_64__) || defined(__aarch64__)
    constexpr std::uint32_t Refuse = SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA);
    sock_filter Program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),  // another ABI could call socket by another number
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
#if defined(__x86_64__)
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000U, 0, 1),  // x32 calls
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
#endif
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_UNIX, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, Refuse),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog Filter{static_cast<unsigned short>(sizeof Program / sizeof Program[0]), Program};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &Filter) == 0;
#endif
}

// In a network namespace of its own, lo starts down; a program granted the network gets it up.
bool LoopbackUp() {
    const int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (Socket < 0) return false;
    ifreq Request{};
    std::memcpy(Request.ifr_name, "lo", 3);
    bool Up = ioctl(Socket, SIOCGIFFLAGS, &Request) == 0;
    Request.ifr_flags = static_cast<short>(Request.ifr_flags | IFF_UP);
    Up = Up && ioctl(Socket, SIOCSIFFLAGS, &Request) == 0;
    close(Socket);
    return Up;
}

// Writes the scratch size option ("size=64m,...") without snprintf, which is not async-signal-safe.
void TmpfsOptions(char (&Text)[64], std::int64_t Mb) {
    char Digits[24];
    int Count = 0;
    do {
        Digits[Count++] = static_cast<char>('0' + Mb % 10);
        Mb /= 10;
    } while (Mb > 0 && Count < 20);
    std::size_t At = 0;
    for (const char* Part = "size="; *Part; ++Part) Text[At++] = *Part;
    while (Count > 0) Text[At++] = Digits[--Count];
    for (const char* Part = "m,mode=1777,nr_inodes=16384"; *Part; ++Part) Text[At++] = *Part;
    Text[At] = '\0';
}

// A read-only copy of the whole file system, a tmpfs scratch folder, a fresh /proc, the granted folder
// writable again. Inside a chroot the root is no mount of its own: the tree is first bound onto
// /proc (a mount whose propagation can be cut, so nothing of ours reaches the host) and entered.
void RebuildFiles(const SandboxPlan& Plan, SandboxReport& Report) {
    auto FailAll = [&](SandboxStep Step, int Error) {
        Fail(Report, GuardFiles, Step, Error);
        Fail(Report, GuardScratch, Step, Error);
        if (Plan.Namespaces & CLONE_NEWPID) Fail(Report, GuardProcesses, Step, Error);
    };
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        if (mount(nullptr, "/proc", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("/", "/proc", nullptr, MS_BIND | MS_REC, nullptr) != 0 || chdir("/proc") != 0 || chroot(".") != 0 ||
            chdir("/") != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            FailAll(SandboxStep::MountPrivate, errno);
            return;
        }
    }
    mount_attr ReadOnly{};
    ReadOnly.attr_set = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID;
    if (syscall(SYS_mount_setattr, AT_FDCWD, "/", AT_RECURSIVE, &ReadOnly, sizeof ReadOnly) == 0) {
        Report.Held |= GuardFiles;
    } else {
        Fail(Report, GuardFiles, SandboxStep::ReadOnly, errno);
    }
    char Options[64];
    TmpfsOptions(Options, Plan.ScratchMb);
    if (mount("tmpfs", ScratchMount, "tmpfs", MS_NOSUID | MS_NODEV, Options) == 0) {
        Report.Held |= GuardScratch;
    } else {
        Fail(Report, GuardScratch, SandboxStep::Tmpfs, errno);
    }
    if (Plan.Namespaces & CLONE_NEWPID) {
        if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0) {
            Report.Held |= GuardProcesses;
        } else {
            Fail(Report, GuardProcesses, SandboxStep::Proc, errno);
        }
    }
    // A bind copies the read-only flag of the mount it comes from: cleared on the copy alone.
    mount_attr Writable{};
    Writable.attr_clr = MOUNT_ATTR_RDONLY;
    if (!Plan.WriteDir.empty() && (Report.Held & GuardFiles) &&
        (mount(Plan.WriteDir.c_str(), Plan.WriteDir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
         syscall(SYS_mount_setattr, AT_FDCWD, Plan.WriteDir.c_str(), 0, &Writable, sizeof Writable) != 0)) {
        Report.Held &= ~GuardFiles;  // what was granted must work: refusing it is no sandbox either
        Fail(Report, GuardFiles, SandboxStep::Grant, errno);
    }
    if (chdir(Plan.WorkDir.c_str()) != 0) chdir("/");
}

bool Limit(int Resource, std::int64_t Soft, std::int64_t Hard) {
    const rlimit Value{static_cast<rlim_t>(Soft), static_cast<rlim_t>(Hard)};
    return setrlimit(Resource, &Value) == 0;
}

}  // namespace

void LimitMemory(pid_t Process, const SandboxPlan& Plan, SandboxReport& Report) {
    if (Plan.MemoryBytes <= 0) return;
    const rlimit Value{static_cast<rlim_t>(Plan.MemoryBytes), static_cast<rlim_t>(Plan.MemoryBytes)};
    if (prlimit(Process, RLIMIT_DATA, &Value, nullptr) == 0) {
        Report.Held |= GuardMemory;
    } else {
        Fail(Report, GuardMemory, SandboxStep::Rlimit, errno);
    }
}

void ApplySandbox(const SandboxPlan& Plan, SandboxReport& Report, bool LaterMemory, char Go) {
    Report = SandboxReport{};
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    std::uint32_t Landlocked = 0;
    if (Plan.Namespaces & CLONE_NEWNS) {
        RebuildFiles(Plan, Report);
    } else {
        Fail(Report, GuardScratch, SandboxStep::Namespace, 0);
        Fail(Report, GuardProcesses, SandboxStep::PidNamespace, 0);
    }
    if (!(Report.Held & GuardFiles)) Landlocked |= GuardFiles;
    if (!(Report.Held & GuardProcesses)) Landlocked |= GuardProcesses;
    if (Plan.Namespaces & CLONE_NEWNET) {
        if (!Plan.Network || LoopbackUp()) {
            Report.Held |= GuardNetwork;
        } else {
            Fail(Report, GuardNetwork, SandboxStep::Loopback, errno);
        }
    } else if (!Plan.Network) {
        if (FilterSockets()) {
            Report.Held |= GuardNetwork;
            Landlocked |= GuardNetwork;
        } else {
            Fail(Report, GuardNetwork, SandboxStep::Seccomp, errno);
        }
    }
    if (Landlocked != 0) {
        // What Landlock did not take over keeps the reason it failed for first.
        ApplyLandlock(Plan, Report, Landlocked);
    }

    auto Apply = [&](std::uint32_t Guard, int Resource, std::int64_t Soft, std::int64_t Hard) {
        if (Soft <= 0) return;
        if (Limit(Resource, Soft, Hard)) {
            Report.Held |= Guard;
        } else {
            Fail(Report, Guard, SandboxStep::Rlimit, errno);
        }
    };
    // Writable private memory, not address space: runtimes reserve far more address space than they use.
    if (!LaterMemory && !(Go & GoCgroupMemory)) Apply(GuardMemory, RLIMIT_DATA, Plan.MemoryBytes, Plan.MemoryBytes);
    // SIGXCPU at the limit names it; SIGKILL a second later for a program that catches it.
    const std::int64_t Cpu = Plan.CpuSeconds > 0 && (Go & GoCgroupCpu) ? Plan.CpuSeconds + CpuBackstopSeconds
                                                                        : Plan.CpuSeconds;
    Apply(GuardCpu, RLIMIT_CPU, Cpu, Cpu + 1);
    // The process limit counts every process of the user; with the group's limit first, twice it.
    const std::int64_t Processes = Plan.Processes + ((Go & GoCgroupProcesses) ? Plan.Settings.Processes : 0);
    Apply(GuardProcessLimit, RLIMIT_NPROC, Processes, Processes);
    Limit(RLIMIT_CORE, 0, 0);  // a program killed for its CPU would otherwise try to dump core

    // The kernel ignores RLIMIT_NPROC for root, and a root program could undo everything above.
    if (Plan.Uid != 0) {
        if (setgroups(0, nullptr) == 0 && setresgid(Plan.Gid, Plan.Gid, Plan.Gid) == 0 &&
            setresuid(Plan.Uid, Plan.Uid, Plan.Uid) == 0) {
            Report.Held |= GuardUser;
        } else {
            Fail(Report, GuardUser, SandboxStep::Ids, errno);
        }
    } else if (geteuid() != 0 || (Plan.Namespaces & CLONE_NEWUSER)) {
        Report.Held |= GuardUser;
    } else {
        Fail(Report, GuardUser, SandboxStep::Ids, EPERM);
    }
    // What the arena's cgroup holds for the program as a whole, as the go byte said.
    const std::uint32_t Limits = WantedGuards(Plan) & (GuardMemory | GuardCpu | GuardProcessLimit);
    const std::uint32_t Whole = ((Go & GoCgroupMemory) ? GuardMemory : 0U) | ((Go & GoCgroupCpu) ? GuardCpu : 0U) |
                                ((Go & GoCgroupProcesses) ? GuardProcessLimit : 0U);
    Report.Whole = Whole & Limits;
    Report.Held |= Report.Whole;
    if (Limits != 0 && Report.Whole == Limits) Report.Held |= GuardProgram;
    // Changing the user clears these; the program must neither be traced by its peers nor outlive the arena.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    Report.Complete = true;
}
#else
void ApplySandbox(const SandboxPlan&, SandboxReport& Report, bool, char) {
    Report = SandboxReport{};
    Report.Complete = true;
}
void LimitMemory(pid_t, const SandboxPlan&, SandboxReport&) {}
#endif

}  // namespace brakkenfel
