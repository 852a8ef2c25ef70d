// A contestant's sandbox: the plan made in the arena, applied by the child before exec, and its report.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Sandbox.h"

namespace brakkenfel {

struct ChildPlan;
class ProgramCgroup;

/// One protection each; a report says which held and why the others did not.
enum SandboxProtection : std::uint32_t {
    GuardNetwork = 1U << 0,    ///< no way to the machine's network
    GuardFiles = 1U << 1,      ///< nothing written outside the scratch (and granted) folder
    GuardProcesses = 1U << 2,  ///< other processes out of sight (own PID namespace, fresh /proc)
    GuardUser = 1U << 3,       ///< not root on the machine, no privileges
    GuardScratch = 1U << 4,    ///< a size-capped scratch folder
    GuardMemory = 1U << 5,
    GuardCpu = 1U << 6,
    GuardProcessLimit = 1U << 7,
    GuardProgram = 1U << 8,    ///< the limits hold for the program as a whole (a cgroup), not per process
    GuardCount = 9,
};

/// Where a protection came from or failed; picks the words of the summary.
enum class SandboxStep : std::uint8_t {
    None,
    Namespace,      // clone refused the namespaces
    MountPrivate,   // the mount tree could not be made private
    ReadOnly,       // the read-only remount
    Tmpfs,          // the scratch tmpfs
    Proc,           // the fresh /proc
    Grant,          // the granted folder's bind
    Landlock,       // Landlock missing or refused
    Seccomp,        // the socket filter
    Loopback,       // bringing up lo
    Rlimit,         // setrlimit
    Ids,            // setgroups, setresgid, setresuid
    PidNamespace,   // no PID namespace
    Cgroup,         // no right to a cgroup
    CgroupMissing,  // no cgroup hierarchy to be seen
    CgroupNotDelegated,  // the memory and pids controllers not offered
    CgroupShared,   // the arena's cgroup has other processes in it
    CgroupLimit,    // a cgroup limit refused
};

/// What the child found; written whole to the report pipe before the program starts.
struct SandboxReport {
    std::uint32_t Held = 0;
    bool ProcessesVisible = false;  // no PID namespace, but Landlock keeps others' /proc out of reach
    std::uint32_t Whole = 0;        // the limits (GuardMemory, GuardCpu, GuardProcessLimit) held by a cgroup
    bool Complete = false;          // set last: a report cut short by a crash is not taken
    SandboxStep Step[GuardCount] = {};
    int Error[GuardCount] = {};
};

/// The go byte's bits: which limits the program's cgroup holds. Its memory limit then replaces
/// RLIMIT_DATA, and the per-process CPU and process limits stay as backstops set a little above
/// the group's, so that the group's hit, which the reason can name, always comes first.
inline constexpr char GoPlain = 1;
inline constexpr char GoCgroupMemory = 2;
inline constexpr char GoCgroupProcesses = 4;
inline constexpr char GoCgroupCpu = 8;
/// How far the per-process CPU backstop lies past a cgroup's CPU limit, which is checked once a second.
inline constexpr std::int64_t CpuBackstopSeconds = 2;

/// Where the scratch tmpfs is mounted: over the machine's shared-memory folder, which every Linux
/// has and which is better private anyway; /tmp stays visible (read-only), since programs live there too.
inline constexpr const char* ScratchMount = "/dev/shm";

/// Everything the child needs, fixed before the fork: no allocation happens there.
struct SandboxPlan {
    bool Require = false;
    bool Network = false;
    std::int64_t MemoryBytes = 0;
    std::int64_t CpuSeconds = 0;
    std::int64_t Processes = 0;      // the limit as the kernel counts it (the user's processes added)
    std::int64_t ScratchMb = 0;
    uid_t Uid = 0;                   // the unprivileged user to become; 0: stay who we are
    gid_t Gid = 0;
    std::string WorkDir;             // entered again once the file system is rebuilt
    std::string WriteDir;            // the granted folder, absolute; empty: none
    std::string ScratchDir;          // the scratch folder when no tmpfs can be had (no mount namespace)
    char* const* Environment = nullptr;  // the program's, with HOME and TMPDIR at the scratch folder
    unsigned Namespaces = 0;         // the CLONE_NEW* flags the child was made with
    SandboxSettings Settings;        // as asked, for the summary
};

/// The arena's side of one contestant's sandbox: the plan, its pipes and the folder it made.
class SandboxState {
public:
    SandboxState();
    /// Fills the plan from `Settings`; false with `Error` when a setting cannot be used.
    bool Prepare(const SandboxSettings& Settings, std::string& Error);
    /// Starts the child: the namespaces the system grants (init `Init` on `StackTop`), or else a
    /// plain fork running the group child; waits for its report. -1 with `Error` when it failed or
    /// the sandbox is required and something did not hold.
    pid_t Start(ChildPlan& Plan, int (*Init)(void*), void* StackTop, std::string& Error);
    /// "sandbox: no network, read-only files, ...; no process limit: setrlimit refused (...)".
    const std::string& Note() const { return Described; }
    /// The limit a program that ended with `Status` reached, as words to follow its exit
    /// (": its CPU limit of 300 s", " after reaching its limit of 256 processes"), or "".
    std::string LimitReached(int Status) const;
    /// Kills the whole program when its group is past its CPU limit, or lost a process to the
    /// memory limit where the kernel does not end the whole group itself; looks at most once a second.
    void Police(std::int64_t NowNs);
    /// SIGKILL to every process of the program's group, wherever it went.
    void KillProgram();
    /// Kills what is left of the program and removes its group.
    void EndProgram();
    /// Removes the scratch folder made for the fallback.
    ~SandboxState();

    bool Active() const { return Mode != SandboxMode::Off; }
    /// True after a Start that --sandbox require refused: the sandbox did not wholly hold, or could
    /// not be set up at all. The machine's fault, not the program's.
    bool Refused() const { return RequireRefused; }
    const SandboxPlan& Plan() const { return Planned; }

private:
    bool AwaitReport(int Fd, std::string& Error);
    void SetEnvironment(const std::string& Scratch);
    void AddProgramLimits();

    SandboxMode Mode = SandboxMode::Off;
    SandboxSettings Settings;
    SandboxPlan Planned;
    std::vector<std::string> EnvironmentText;
    std::vector<char*> EnvironmentList;
    std::string MadeScratch;
    SandboxReport Report;
    std::string Described;
    int RefusedError = 0;  // why the namespaces were refused, when they were
    bool RequireRefused = false;
    std::unique_ptr<ProgramCgroup> Group;  // the program's cgroup, when one could be made
    bool Placed = false;                  // the program is in it
    bool CpuKilled = false;               // the arena killed it for its CPU time
    std::int64_t NextCheckNs = 0;
};

/// Describes what held as one line; used for the summary and the result file.
std::string DescribeSandbox(const SandboxReport& Report, const SandboxPlan& Plan);

/// The protections `Plan` asks for: limits set to 0 and a granted network are not asked.
std::uint32_t WantedGuards(const SandboxPlan& Plan);
/// Whether every protection `Plan` asks for held: what --sandbox require decides on, in the child
/// and in the arena alike. Async-signal-safe.
bool SandboxHolds(const SandboxReport& Report, const SandboxPlan& Plan);

/// The child's side: applies the plan as far as the system allows, filling `Report`. Only
/// async-signal-safe calls. With the namespaces of `Plan.Namespaces`; none for the group child.
/// `LaterMemory`: the memory limit is left for LimitMemory, once the program is started. `Go`: the
/// go byte, saying which limits the cgroup holds.
void ApplySandbox(const SandboxPlan& Plan, SandboxReport& Report, bool LaterMemory, char Go = GoPlain);

/// Puts the plan's memory limit on `Process` and notes it in `Report`.
void LimitMemory(pid_t Process, const SandboxPlan& Plan, SandboxReport& Report);

}  // namespace brakkenfel
