// The sandbox's account of itself: what held, what did not and why, as the summary and result file say it.
#include <gtest/gtest.h>

#include <sched.h>

#include <cerrno>
#include <string>
#include <vector>

#include "backends/posix/Sandbox.h"

namespace brakkenfel {
namespace {

SandboxPlan Planned(unsigned Namespaces, bool Network = false, std::int64_t Cpu = 300) {
    SandboxPlan Plan;
    Plan.Namespaces = Namespaces;
    Plan.Network = Network;
    Plan.MemoryBytes = std::int64_t{2048} << 20;
    Plan.CpuSeconds = Cpu;
    Plan.Processes = 300;  // as the kernel counts it, the user's other processes added
    Plan.Settings.Processes = 256;
    Plan.ScratchMb = 64;
    return Plan;
}

constexpr std::uint32_t Limits = GuardMemory | GuardCpu | GuardProcessLimit;
constexpr std::uint32_t All =
    GuardNetwork | GuardFiles | GuardProcesses | GuardUser | GuardScratch | Limits | GuardProgram;

// `Whole`: the limits a cgroup holds for the program as a whole.
SandboxReport Held(std::uint32_t Guards, std::uint32_t Whole = Limits) {
    SandboxReport Report;
    Report.Held = Guards;
    Report.Whole = Whole;
    Report.Complete = true;
    return Report;
}
constexpr unsigned Namespaces = CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWNS;

TEST(SandboxTest, TheLineNamesWhatHeldThenEachMissingProtectionWithItsCause) {
    SandboxReport Fallback = Held(All & ~(GuardProcesses | GuardScratch));
    Fallback.ProcessesVisible = true;
    Fallback.Step[2] = SandboxStep::PidNamespace;
    Fallback.Error[2] = EPERM;
    Fallback.Step[4] = SandboxStep::Namespace;
    Fallback.Error[4] = EPERM;
    SandboxReport NoLimit = Held(All & ~GuardProcessLimit);
    NoLimit.Step[7] = SandboxStep::Rlimit;
    NoLimit.Error[7] = EINVAL;
    SandboxReport PerProcess = Held(All & ~GuardProgram, 0);
    PerProcess.Step[8] = SandboxStep::Cgroup;
    PerProcess.Error[8] = EACCES;
    SandboxReport SomeWhole = Held(All & ~GuardProgram, GuardMemory);
    SomeWhole.Step[8] = SandboxStep::CgroupNotDelegated;
    struct Case {
        const char* Name;
        SandboxReport Report;
        SandboxPlan Plan;
        std::string Line;
    };
    for (const Case& C : std::vector<Case>{
             {"everything", Held(All), Planned(Namespaces),
              "sandbox: no network, read-only files, own processes, unprivileged user, scratch 64 MB, memory 2048 MB, "
              "CPU 300 s, 256 processes"},
             {"fallback", Fallback, Planned(0),
              "sandbox: no network, read-only files, other processes out of reach, unprivileged user, memory 2048 MB, "
              "CPU 300 s, 256 processes; other processes visible: no PID namespace (Operation not permitted); "
              "scratch not size-capped: namespaces refused (Operation not permitted)"},
             {"a limit refused", NoLimit, Planned(Namespaces),
              "sandbox: no network, read-only files, own processes, unprivileged user, scratch 64 MB, memory 2048 MB, "
              "CPU 300 s; no process limit: setrlimit refused (Invalid argument)"},
             {"no cgroup: per process, and said", PerProcess, Planned(Namespaces),
              "sandbox: no network, read-only files, own processes, unprivileged user, scratch 64 MB, "
              "memory 2048 MB a process, CPU 300 s a process, 256 processes; no limits on the program as a whole: "
              "cgroups refused (Permission denied)"},
             {"only memory in a cgroup", SomeWhole, Planned(Namespaces),
              "sandbox: no network, read-only files, own processes, unprivileged user, scratch 64 MB, "
              "memory 2048 MB, CPU 300 s a process, 256 processes; no CPU or process limit on the program as a whole: "
              "the memory and pids controllers are not delegated"},
             // A limit lifted with 0 and a granted network are not asked for, so not missing.
             {"lifted and granted", Held(All & ~(GuardCpu | GuardNetwork)), Planned(0, true, 0),
              "sandbox: the machine's network (granted), read-only files, own processes, unprivileged user, scratch 64 MB, "
              "memory 2048 MB, 256 processes"},
             {"own loopback", Held(All & ~GuardCpu), Planned(Namespaces, true, 0),
              "sandbox: a loopback network of its own, read-only files, own processes, unprivileged user, scratch 64 MB, "
              "memory 2048 MB, 256 processes"},
         }) {
        EXPECT_EQ(DescribeSandbox(C.Report, C.Plan), C.Line) << C.Name;
    }
}

TEST(SandboxTest, OnlyWhatIsAskedForIsWanted) {
    EXPECT_EQ(WantedGuards(Planned(Namespaces)), All);
    EXPECT_EQ(WantedGuards(Planned(Namespaces, true, 0)), All & ~(GuardNetwork | GuardCpu));
    // With every limit lifted there is nothing for a cgroup to hold.
    SandboxPlan Unlimited = Planned(Namespaces, false, 0);
    Unlimited.MemoryBytes = Unlimited.Processes = 0;
    EXPECT_EQ(WantedGuards(Unlimited), All & ~(Limits | GuardProgram));
}

}  // namespace
}  // namespace brakkenfel
