// Limits on a contestant program as a whole: where cgroups can be made, one group per program, its end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brakkenfel {

/// One line of /proc/self/cgroup, "ID:CONTROLLERS:PATH"; the unified hierarchy has no controllers.
struct CgroupMembership {
    std::string Controllers;  // "memory", "cpu,cpuacct", "name=systemd"; empty for v2
    std::string Path;         // as the arena's cgroup namespace shows it
};

/// One cgroup file system from /proc/self/mountinfo.
struct CgroupMount {
    bool Unified = false;     // cgroup2
    std::string Root;         // the group the mount shows at its mount point
    std::string Point;        // the mount point
    std::string Controllers;  // v1: the super options, e.g. "rw,cpu,cpuacct"
};

std::vector<CgroupMembership> ParseProcCgroup(std::string_view Text);
std::vector<CgroupMount> ParseCgroupMounts(std::string_view MountInfo);
/// The folder (under `Prefix`) where `Mount` shows group `Path`; "" when the mount does not reach it.
std::string GroupFolder(const std::string& Prefix, const CgroupMount& Mount, const std::string& Path);

/// Why a program has no group, or not every limit in it.
enum class CgroupFault : std::uint8_t {
    None,
    Missing,       // no cgroup hierarchy mounted where the arena can see it
    Refused,       // no right to make or join a group
    NotDelegated,  // v2: the memory and pids controllers are not offered to the arena's group
    Shared,        // v2: the arena's group holds other processes and its parent is not ours
    Limit,         // a limit could not be written
};

/// Where the contestants' groups are made; none usable gives Version 0 and why.
struct CgroupHome {
    int Version = 0;
    std::string Unified;                 // v2: the parent folder of the programs' groups
    std::string Memory, Pids, Cpuacct;   // v1: one parent folder per controller, "" where there is none
    bool MovedArena = false;             // v2: the arena moved into a leaf of its own to make room
    int Error = 0;                       // why there is none (or a controller is missing)
    CgroupFault Fault = CgroupFault::None;
};

/// Finds the home from the two texts, files read under `Prefix` ("" on the real system). On v2 it
/// may move the arena `Self` into a leaf of its own: a group with controllers enabled for its
/// children may hold no process, so a delegated group the arena has to itself is split that way.
CgroupHome FindCgroupHome(const std::string& Prefix, std::string_view ProcCgroup, std::string_view MountInfo,
                          pid_t Self);
/// The arena's home, found once per process; empty groups of arenas that are gone are removed then.
const CgroupHome& ArenaCgroupHome();
/// Removes the empty groups "brakkenfel-PID-..." in `Folder` whose arena PID no longer runs.
void RemoveStaleGroups(const std::string& Folder);

/// What the kernel counted against a program's group.
struct CgroupEvents {
    std::int64_t OomKills = 0;      // processes the OOM killer ended for the memory limit
    std::int64_t MemoryHits = 0;    // times the memory limit was reached (and reclaimed from)
    std::int64_t ProcessHits = 0;   // forks refused at the process limit
};

/// One contestant program's group: made before its start, the program placed in it before its
/// command runs, killed and removed at its end. Every wait here is bounded.
class ProgramCgroup {
public:
    ProgramCgroup() = default;
    ProgramCgroup(const ProgramCgroup&) = delete;
    ProgramCgroup& operator=(const ProgramCgroup&) = delete;
    ~ProgramCgroup() { Remove(); }

    /// Makes group `Name` in `Home` with the limits (0: none); the Held flags say what holds.
    void Create(const CgroupHome& Home, const std::string& Name, std::int64_t MemoryBytes, std::int64_t Processes);
    /// Puts process `Pid` in the group; false (and nothing held) when refused.
    bool Place(pid_t Pid);
    /// CPU time of every process the group ever had, in nanoseconds; -1 when unknown.
    std::int64_t CpuNs() const;
    /// Processes the OOM killer ended so far.
    std::int64_t OomKills() const;
    /// What the kernel counted so far (the counts taken at removal once the group is gone).
    CgroupEvents Events() const;
    /// SIGKILL to every process of the group, until none is left or about half a second passed.
    void KillAll();
    /// Kills what is left and removes the group.
    void Remove();

    bool Made() const { return !Folders.empty(); }
    bool MemoryHeld = false;
    bool ProcessesHeld = false;
    bool CpuHeld = false;
    int Error = 0;  // the first refusal
    CgroupFault Fault = CgroupFault::None;

private:
    int Version = 0;
    std::vector<std::string> Folders;  // every folder made: v2 one, v1 one per controller
    std::string MemoryFolder, PidsFolder, CpuFolder;
    int CpuFd = -1;
    CgroupEvents Final;
};

}  // namespace brakkenfel
