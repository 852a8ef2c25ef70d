// Limits on a contestant program as a whole: where cgroups can be made, one group per program, its end.
#include "backends/posix/Cgroup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "backends/posix/SmallFile.h"

namespace brakkenfel {

namespace {

// How long killing a group and removing it may take at most; a process stuck in the kernel is left.
constexpr long KillRounds = 500;   // of about 1 ms each
constexpr long RemoveRounds = 200;

void Pause1ms() {
    timespec Wait{0, 1'000'000};
    nanosleep(&Wait, nullptr);
}

std::vector<std::string_view> Split(std::string_view Text, char By) {
    std::vector<std::string_view> Parts;
    std::size_t From = 0;
    for (;;) {
        const std::size_t At = Text.find(By, From);
        Parts.push_back(Text.substr(From, At == std::string_view::npos ? std::string_view::npos : At - From));
        if (At == std::string_view::npos) return Parts;
        From = At + 1;
    }
}

bool ListHas(std::string_view List, std::string_view Word, char By) {
    for (std::string_view Part : Split(List, By)) {
        if (Part == Word) return true;
    }
    return false;
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string Unescape(std::string_view Text) {
    std::string Plain;
    for (std::size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] == '\\' && I + 3 < Text.size() && Text[I + 1] >= '0' && Text[I + 1] <= '3') {
            Plain += static_cast<char>((Text[I + 1] - '0') * 64 + (Text[I + 2] - '0') * 8 + (Text[I + 3] - '0'));
            I += 3;
        } else {
            Plain += Text[I];
        }
    }
    return Plain;
}

// The named value of a "key value" per line file such as memory.events; -1 when absent.
std::int64_t KeyValue(std::string_view Text, std::string_view Key) {
    for (std::string_view Line : Split(Text, '\n')) {
        if (Line.size() > Key.size() && Line.substr(0, Key.size()) == Key && Line[Key.size()] == ' ') {
            return std::strtoll(std::string(Line.substr(Key.size() + 1)).c_str(), nullptr, 10);
        }
    }
    return -1;
}

bool Writable(const std::string& Folder, int& Error) {
    if (access(Folder.c_str(), W_OK) == 0) return true;
    Error = errno;
    return false;
}

// The controllers a program's v2 group needs; CPU time is in every group's cpu.stat without a controller.
constexpr const char* UnifiedNeeds = "+memory +pids";
bool OffersNeeds(const std::string& File) {
    const std::string Text = ReadSmall(File);
    std::string_view Words(Text);
    if (!Words.empty() && Words.back() == '\n') Words.remove_suffix(1);
    return ListHas(Words, "memory", ' ') && ListHas(Words, "pids", ' ');
}

bool OnlyProcess(const std::string& Folder, pid_t Self) {
    const std::string Text = ReadSmall(Folder + "/cgroup.procs");
    for (std::string_view Line : Split(Text, '\n')) {
        if (!Line.empty() && std::string(Line) != std::to_string(Self)) return false;
    }
    return true;
}

void FindUnified(const std::string& Group, pid_t Self, CgroupHome& Home) {
    int Error = 0;
    if (!Writable(Group, Error)) {
        Home.Error = Error;
        Home.Fault = CgroupFault::Refused;
    } else if (OffersNeeds(Group + "/cgroup.subtree_control")) {
        Home.Unified = Group;  // the arena sits in a group that already shares out the controllers: the root
        return;
    } else if (!OffersNeeds(Group + "/cgroup.controllers")) {
        Home.Fault = CgroupFault::NotDelegated;
    } else if (!OnlyProcess(Group, Self)) {
        Home.Fault = CgroupFault::Shared;
    } else {
        // Alone in a delegated group: the arena moves into a leaf of its own, its programs go beside it.
        const std::string Leaf = Group + "/brakkenfel-" + std::to_string(Self) + "-arena";
        const std::string Pid = std::to_string(Self);
        if (mkdir(Leaf.c_str(), 0755) != 0 && errno != EEXIST) {
            Home.Error = errno;
            Home.Fault = CgroupFault::Refused;
        } else if ((Error = WriteSmall(Leaf + "/cgroup.procs", Pid)) != 0) {
            Home.Error = Error;
            Home.Fault = CgroupFault::Refused;
            rmdir(Leaf.c_str());
        } else if ((Error = WriteSmall(Group + "/cgroup.subtree_control", UnifiedNeeds)) != 0) {
            Home.Error = Error;
            Home.Fault = CgroupFault::NotDelegated;
            WriteSmall(Group + "/cgroup.procs", Pid);
            rmdir(Leaf.c_str());
        } else {
            Home.Unified = Group;
            Home.MovedArena = true;
            return;
        }
    }
    // Beside the arena's group, where the parent is ours to write and shares the controllers out.
    const std::size_t Slash = Group.rfind('/');
    if (Slash == std::string::npos || Slash == 0) return;
    const std::string Parent = Group.substr(0, Slash);
    int ParentError = 0;
    if (!Writable(Parent, ParentError) || !OffersNeeds(Parent + "/cgroup.controllers")) return;
    if (!OffersNeeds(Parent + "/cgroup.subtree_control")) WriteSmall(Parent + "/cgroup.subtree_control", UnifiedNeeds);
    if (!OffersNeeds(Parent + "/cgroup.subtree_control")) return;
    Home.Unified = Parent;
    Home.Error = 0;
    Home.Fault = CgroupFault::None;
}

}  // namespace

std::vector<CgroupMembership> ParseProcCgroup(std::string_view Text) {
    std::vector<CgroupMembership> Lines;
    for (std::string_view Line : Split(Text, '\n')) {
        const std::size_t First = Line.find(':');
        const std::size_t Second = First == std::string_view::npos ? First : Line.find(':', First + 1);
        if (Second == std::string_view::npos) continue;
        Lines.push_back({std::string(Line.substr(First + 1, Second - First - 1)), std::string(Line.substr(Second + 1))});
    }
    return Lines;
}

std::vector<CgroupMount> ParseCgroupMounts(std::string_view MountInfo) {
    std::vector<CgroupMount> Mounts;
    for (std::string_view Line : Split(MountInfo, '\n')) {
        const std::size_t Dash = Line.find(" - ");
        if (Dash == std::string_view::npos) continue;
        const auto Before = Split(Line.substr(0, Dash), ' ');
        const auto After = Split(Line.substr(Dash + 3), ' ');
        if (Before.size() < 5 || After.size() < 3) continue;
        if (After[0] != "cgroup" && After[0] != "cgroup2") continue;
        Mounts.push_back({After[0] == "cgroup2", Unescape(Before[3]), Unescape(Before[4]), std::string(After[2])});
    }
    return Mounts;
}

std::string GroupFolder(const std::string& Prefix, const CgroupMount& Mount, const std::string& Path) {
    if (Path.empty() || Path[0] != '/') return {};
    const std::string Point = Prefix + (Mount.Point == "/" ? "" : Mount.Point);
    if (Mount.Root == "/") return Path == "/" ? Point : Point + Path;
    // A mount of a group below the root (a container's view, a bind): only what lies beneath it shows.
    if (Path == Mount.Root) return Point;
    if (Path.size() > Mount.Root.size() && Path.compare(0, Mount.Root.size(), Mount.Root) == 0 &&
        Path[Mount.Root.size()] == '/') {
        return Point + Path.substr(Mount.Root.size());
    }
    return {};
}

CgroupHome FindCgroupHome(const std::string& Prefix, std::string_view ProcCgroup, std::string_view MountInfo,
                          pid_t Self) {
    const auto Members = ParseProcCgroup(ProcCgroup);
    const auto Mounts = ParseCgroupMounts(MountInfo);
    CgroupHome Home;
    Home.Error = ENOENT;
    Home.Fault = CgroupFault::Missing;
    auto FolderOf = [&](bool Unified, const char* Controller) {
        for (const CgroupMembership& Member : Members) {
            if (Unified != Member.Controllers.empty() || (!Unified && !ListHas(Member.Controllers, Controller, ','))) {
                continue;
            }
            for (const CgroupMount& Mount : Mounts) {
                if (Mount.Unified != Unified || (!Unified && !ListHas(Mount.Controllers, Controller, ','))) continue;
                std::string Folder = GroupFolder(Prefix, Mount, Member.Path);
                struct stat Info {};
                if (!Folder.empty() && stat(Folder.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode)) return Folder;
            }
        }
        return std::string();
    };
    const std::string Unified = FolderOf(true, "");
    if (!Unified.empty()) {
        CgroupHome Tried;
        FindUnified(Unified, Self, Tried);
        if (!Tried.Unified.empty()) {
            Tried.Version = 2;
            return Tried;
        }
        Home = Tried;  // v1 below may still serve; if not, v2's reason is the one to give
    }
    bool Any = false;
    int Refused = 0;
    for (const auto& [Controller, Slot] : {std::pair{"memory", &Home.Memory}, std::pair{"pids", &Home.Pids},
                                           std::pair{"cpuacct", &Home.Cpuacct}}) {
        const std::string Folder = FolderOf(false, Controller);
        if (Folder.empty()) continue;
        if (Writable(Folder, Refused)) {
            *Slot = Folder;
            Any = true;
        } else {
            Home.Error = Refused;
            Home.Fault = CgroupFault::Refused;
        }
    }
    if (Any) {
        Home.Version = 1;
        Home.Error = 0;
        Home.Fault = CgroupFault::None;
    }
    return Home;
}

const CgroupHome& ArenaCgroupHome() {
    static const CgroupHome Home = [] {
        CgroupHome Found = FindCgroupHome("", ReadSmall("/proc/self/cgroup"), ReadSmall("/proc/self/mountinfo"), getpid());
        for (const std::string* Folder : {&Found.Unified, &Found.Memory, &Found.Pids, &Found.Cpuacct}) {
            if (!Folder->empty()) RemoveStaleGroups(*Folder);
        }
        return Found;
    }();
    return Home;
}

void RemoveStaleGroups(const std::string& Folder) {
    DIR* List = opendir(Folder.c_str());
    if (List == nullptr) return;
    constexpr std::string_view Mark = "brakkenfel-";
    std::vector<std::string> Stale;
    while (const dirent* Entry = readdir(List)) {
        const std::string_view Name = Entry->d_name;
        if (Name.substr(0, Mark.size()) != Mark) continue;
        const std::string Digits(Name.substr(Mark.size(), Name.find('-', Mark.size()) - Mark.size()));
        if (Digits.empty() || Digits.find_first_not_of("0123456789") != std::string::npos || Digits.size() > 9) continue;
        const auto Arena = static_cast<pid_t>(std::atol(Digits.c_str()));
        if (Arena != getpid() && kill(Arena, 0) != 0 && errno == ESRCH) Stale.emplace_back(Name);
    }
    closedir(List);
    // rmdir removes only an empty group: one whose processes still run is left as it is.
    for (const std::string& Name : Stale) rmdir((Folder + "/" + Name).c_str());
}

void ProgramCgroup::Create(const CgroupHome& Home, const std::string& Name, std::int64_t MemoryBytes,
                           std::int64_t Processes) {
    Version = Home.Version;
    Error = Home.Error;
    Fault = Home.Fault;
    auto Make = [&](const std::string& Parent) -> std::string {
        if (Parent.empty()) return {};
        const std::string Folder = Parent + "/" + Name;
        if (mkdir(Folder.c_str(), 0755) != 0) {
            if (Error == 0) Error = errno;
            Fault = CgroupFault::Refused;
            return {};
        }
        Folders.push_back(Folder);
        return Folder;
    };
    auto Set = [&](const std::string& File, std::int64_t Value) {
        const int Refused = WriteSmall(File, std::to_string(Value));
        if (Refused != 0 && Error == 0) {
            Error = Refused;
            Fault = CgroupFault::Limit;
        }
        return Refused == 0;
    };
    if (Version == 2) {
        const std::string Folder = Make(Home.Unified);
        if (Folder.empty()) return;
        MemoryFolder = PidsFolder = CpuFolder = Folder;
        MemoryHeld = MemoryBytes <= 0 || Set(Folder + "/memory.max", MemoryBytes);
        // No swap, or the limit would only slow a program down; absent where swap is not accounted.
        WriteSmall(Folder + "/memory.swap.max", "0");
        // An OOM kill takes the whole program, as the CPU limit does, never a part of it.
        if (MemoryBytes > 0) WriteSmall(Folder + "/memory.oom.group", "1");
        ProcessesHeld = Processes <= 0 || Set(Folder + "/pids.max", Processes);
        CpuFd = open((Folder + "/cpu.stat").c_str(), O_RDONLY | O_CLOEXEC);
    } else if (Version == 1) {
        MemoryFolder = Make(Home.Memory);
        if (!MemoryFolder.empty()) {
            MemoryHeld = MemoryBytes <= 0 || Set(MemoryFolder + "/memory.limit_in_bytes", MemoryBytes);
            // Memory and swap together, where the kernel accounts swap; it must not be below the first.
            if (MemoryBytes > 0 && access((MemoryFolder + "/memory.memsw.limit_in_bytes").c_str(), F_OK) == 0) {
                MemoryHeld = Set(MemoryFolder + "/memory.memsw.limit_in_bytes", MemoryBytes) && MemoryHeld;
            }
        }
        PidsFolder = Make(Home.Pids);
        ProcessesHeld = !PidsFolder.empty() && (Processes <= 0 || Set(PidsFolder + "/pids.max", Processes));
        CpuFolder = Make(Home.Cpuacct);
        if (!CpuFolder.empty()) CpuFd = open((CpuFolder + "/cpuacct.usage").c_str(), O_RDONLY | O_CLOEXEC);
    }
    CpuHeld = CpuFd >= 0;
}

bool ProgramCgroup::Place(pid_t Pid) {
    const std::string Text = std::to_string(Pid);
    for (const std::string& Folder : Folders) {
        const int Refused = WriteSmall(Folder + "/cgroup.procs", Text);
        if (Refused == 0) continue;
        if (Error == 0) Error = Refused;
        Fault = CgroupFault::Refused;
        if (Version == 2 || Folder == MemoryFolder) MemoryHeld = false;
        if (Version == 2 || Folder == PidsFolder) ProcessesHeld = false;
        if (Version == 2 || Folder == CpuFolder) CpuHeld = false;
    }
    return MemoryHeld || ProcessesHeld || CpuHeld;
}

std::int64_t ProgramCgroup::CpuNs() const {
    if (CpuFd < 0) return -1;
    char Text[1024];
    const ssize_t Got = pread(CpuFd, Text, sizeof Text - 1, 0);
    if (Got <= 0) return -1;
    const std::string_view Read(Text, static_cast<std::size_t>(Got));
    if (Version == 1) return std::strtoll(std::string(Read).c_str(), nullptr, 10);
    const std::int64_t Micro = KeyValue(Read, "usage_usec");
    return Micro < 0 ? -1 : Micro * 1000;
}

std::int64_t ProgramCgroup::OomKills() const {
    if (MemoryFolder.empty() || Folders.empty()) return Final.OomKills;
    if (Version == 1) return std::max<std::int64_t>(0, KeyValue(ReadSmall(MemoryFolder + "/memory.oom_control"), "oom_kill"));
    const std::string Text = ReadSmall(MemoryFolder + "/memory.events");
    return std::max<std::int64_t>(0, std::max(KeyValue(Text, "oom_kill"), KeyValue(Text, "oom_group_kill")));
}

CgroupEvents ProgramCgroup::Events() const {
    if (Folders.empty()) return Final;
    CgroupEvents Now;
    if (!MemoryFolder.empty()) {
        Now.OomKills = OomKills();
        Now.MemoryHits = std::max<std::int64_t>(
            0, Version == 2 ? KeyValue(ReadSmall(MemoryFolder + "/memory.events"), "max")
                            : std::atoll(ReadSmall(MemoryFolder + "/memory.failcnt").c_str()));
    }
    if (!PidsFolder.empty()) Now.ProcessHits = std::max<std::int64_t>(0, KeyValue(ReadSmall(PidsFolder + "/pids.events"), "max"));
    return Now;
}

void ProgramCgroup::KillAll() {
    if (Folders.empty()) return;
    // cgroup.kill ends everything at once, forks in flight included; elsewhere the members are
    // killed round by round until none is left.
    const bool Killed = Version == 2 && WriteSmall(Folders.front() + "/cgroup.kill", "1") == 0;
    for (long Round = 0; Round < KillRounds; ++Round) {
        bool Left = false;
        for (const std::string& Folder : Folders) {
            const std::string Members = ReadSmall(Folder + "/cgroup.procs");
            for (std::string_view Line : Split(Members, '\n')) {
                const auto Member = static_cast<pid_t>(std::atol(std::string(Line).c_str()));
                if (Member <= 0 || Member == getpid()) continue;
                Left = true;
                if (!Killed) kill(Member, SIGKILL);
            }
        }
        if (!Left) return;
        Pause1ms();
    }
}

void ProgramCgroup::Remove() {
    if (Folders.empty()) return;
    Final = Events();
    KillAll();
    if (CpuFd >= 0) close(CpuFd);
    CpuFd = -1;
    for (const std::string& Folder : Folders) {
        // A killed process leaves its group when it is reaped, which may be a moment later.
        for (long Round = 0; Round < RemoveRounds && rmdir(Folder.c_str()) != 0 && errno == EBUSY; ++Round) Pause1ms();
    }
    Folders.clear();
}

}  // namespace brakkenfel
