// Finding where contestants' cgroups go: the kernel's texts parsed, and the placement on made-up trees.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "backends/posix/Cgroup.h"

namespace brakkenfel {
namespace {

// This machine's kind: v1 controllers, an empty v2 beside them, a nested memory group.
constexpr const char* HybridCgroup =
    "9:name=systemd:/\n8:pids:/\n4:memory:/process_api/85c6\n2:cpu,cpuacct:/\n0::/\n";
constexpr const char* HybridMounts =
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "33 31 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime - cgroup cgroup rw,cpu,cpuacct\n"
    "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "39 31 0:36 / /sys/fs/cgroup/pids rw,relatime shared:9 - cgroup cgroup rw,pids\n"
    "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
    "50 23 0:40 / /mnt/with\\040space rw - cgroup2 none rw\n";

TEST(CgroupTest, TheKernelsTextsAreRead) {
    const auto Members = ParseProcCgroup(HybridCgroup);
    ASSERT_EQ(Members.size(), 5U);
    EXPECT_EQ(Members[2].Controllers, "memory");
    EXPECT_EQ(Members[2].Path, "/process_api/85c6");
    EXPECT_EQ(Members[4].Controllers, "");
    const auto Mounts = ParseCgroupMounts(HybridMounts);
    ASSERT_EQ(Mounts.size(), 5U);  // the tmpfs is no cgroup
    EXPECT_EQ(Mounts[0].Point, "/sys/fs/cgroup/cpu,cpuacct");
    EXPECT_EQ(Mounts[0].Controllers, "rw,cpu,cpuacct");
    EXPECT_TRUE(Mounts[3].Unified);
    EXPECT_EQ(Mounts[4].Point, "/mnt/with space");
    // A path with colons keeps them: only the first two separate the fields.
    EXPECT_EQ(ParseProcCgroup("0::/a:b\n")[0].Path, "/a:b");
}

TEST(CgroupTest, AGroupsFolderDependsOnWhatTheMountShows) {
    struct Case {
        const char* Root;
        const char* Path;
        std::string Folder;
    };
    for (const Case& C : std::vector<Case>{
             {"/", "/", "/cg"},
             {"/", "/user.slice/a.scope", "/cg/user.slice/a.scope"},
             // A mount of a group below the root, as a container sees it: only what is beneath shows.
             {"/lxc/box", "/lxc/box", "/cg"},
             {"/lxc/box", "/lxc/box/inner", "/cg/inner"},
             {"/lxc/box", "/lxc/boxer", ""},
             {"/lxc/box", "/other", ""},
         }) {
        CgroupMount Mount;
        Mount.Root = C.Root;
        Mount.Point = "/cg";
        EXPECT_EQ(GroupFolder("/pre", Mount, C.Path), C.Folder.empty() ? "" : "/pre" + C.Folder) << C.Root << C.Path;
    }
}

class CgroupTree : public ::testing::Test {
protected:
    void SetUp() override {
        char Template[] = "/tmp/brakkenfel-cgroup-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        Root = Template;
    }
    void TearDown() override { std::filesystem::remove_all(Root); }
    // Folders and files under the root; a path ending in '/' is a folder.
    void Make(const std::map<std::string, std::string>& Files) {
        for (const auto& [Path, Text] : Files) {
            std::filesystem::create_directories(Root + (Path.back() == '/' ? Path : Path.substr(0, Path.rfind('/'))));
            if (Path.back() != '/') std::ofstream(Root + Path) << Text;
        }
    }
    std::string Read(const std::string& Path) {
        std::ifstream File(Root + Path);
        return std::string(std::istreambuf_iterator<char>(File), {});
    }
    std::string Root;
};

constexpr const char* UnifiedMount = "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
constexpr pid_t Self = 4242;

TEST_F(CgroupTree, V1GroupsGoBesideTheArenasOwnInEachHierarchy) {
    Make({{"/sys/fs/cgroup/memory/process_api/85c6/", ""}, {"/sys/fs/cgroup/pids/", ""},
          {"/sys/fs/cgroup/cpu,cpuacct/", ""}, {"/sys/fs/cgroup/unified/cgroup.controllers", ""}});
    const CgroupHome Home = FindCgroupHome(Root, HybridCgroup, HybridMounts, Self);
    EXPECT_EQ(Home.Version, 1) << static_cast<int>(Home.Fault);
    EXPECT_EQ(Home.Memory, Root + "/sys/fs/cgroup/memory/process_api/85c6");
    EXPECT_EQ(Home.Pids, Root + "/sys/fs/cgroup/pids");
    EXPECT_EQ(Home.Cpuacct, Root + "/sys/fs/cgroup/cpu,cpuacct");
    // Nothing mounted: none, and why.
    const CgroupHome None = FindCgroupHome(Root, HybridCgroup, "", Self);
    EXPECT_EQ(None.Version, 0);
    EXPECT_EQ(None.Fault, CgroupFault::Missing);
}

TEST_F(CgroupTree, V2PlacementFollowsWhatTheArenasGroupAllows) {
    const std::string Scope = "/sys/fs/cgroup/user.slice/s.scope";
    struct Case {
        const char* Name;
        std::map<std::string, std::string> Files;
        std::string Home;  // "" for none
        CgroupFault Fault;
        bool Moved;
    };
    for (const Case& C : std::vector<Case>{
             {"the arena alone in a delegated group moves into a leaf; the programs go beside it",
              {{Scope + "/cgroup.controllers", "cpu memory pids\n"}, {Scope + "/cgroup.subtree_control", ""},
               {Scope + "/cgroup.procs", "4242\n"}, {Scope + "/brakkenfel-4242-arena/cgroup.procs", ""},
               {"/sys/fs/cgroup/user.slice/cgroup.controllers", "cpu\n"}},
              Scope, CgroupFault::None, true},
             {"others in the group: beside it, where the parent shares the controllers out",
              {{Scope + "/cgroup.controllers", "memory pids\n"}, {Scope + "/cgroup.procs", "1\n4242\n"},
               {"/sys/fs/cgroup/user.slice/cgroup.controllers", "memory pids\n"},
               {"/sys/fs/cgroup/user.slice/cgroup.subtree_control", "memory pids\n"}},
              "/sys/fs/cgroup/user.slice", CgroupFault::None, false},
             {"others in the group and a parent without the controllers: none",
              {{Scope + "/cgroup.controllers", "memory pids\n"}, {Scope + "/cgroup.procs", "1\n4242\n"},
               {"/sys/fs/cgroup/user.slice/cgroup.controllers", "cpu\n"}},
              "", CgroupFault::Shared, false},
             {"the controllers not delegated",
              {{Scope + "/cgroup.controllers", "cpu io\n"}, {Scope + "/cgroup.procs", "4242\n"},
               {"/sys/fs/cgroup/user.slice/cgroup.controllers", "cpu io\n"}},
              "", CgroupFault::NotDelegated, false},
         }) {
        std::filesystem::remove_all(Root + "/sys");
        Make(C.Files);
        const CgroupHome Home = FindCgroupHome(Root, "0::/user.slice/s.scope\n", UnifiedMount, Self);
        EXPECT_EQ(Home.Unified, C.Home.empty() ? "" : Root + C.Home) << C.Name;
        EXPECT_EQ(Home.Version, C.Home.empty() ? 0 : 2) << C.Name;
        EXPECT_EQ(Home.Fault, C.Fault) << C.Name;
        EXPECT_EQ(Home.MovedArena, C.Moved) << C.Name;
        if (C.Moved) {
            EXPECT_EQ(Read(Scope + "/brakkenfel-4242-arena/cgroup.procs"), "4242");
            EXPECT_EQ(Read(Scope + "/cgroup.subtree_control"), "+memory +pids");
        }
    }
    // The root group shares the controllers out and takes groups although the arena is in it.
    std::filesystem::remove_all(Root + "/sys");
    Make({{"/sys/fs/cgroup/cgroup.subtree_control", "cpu memory pids\n"}});
    EXPECT_EQ(FindCgroupHome(Root, "0::/\n", UnifiedMount, Self).Unified, Root + "/sys/fs/cgroup");
}

TEST_F(CgroupTree, OnlyEmptyGroupsOfArenasThatAreGoneAreRemoved) {
    // Pid 1 runs; a pid past the kernel's largest never does.
    Make({{"/g/brakkenfel-1-3/", ""}, {"/g/brakkenfel-99999999-1/", ""}, {"/g/brakkenfel-99999999-2/busy", ""},
          {"/g/brakkenfel-99999999-arena/", ""}, {"/g/someone-else-99999999/", ""}});
    RemoveStaleGroups(Root + "/g");
    std::vector<std::string> Left;
    for (const auto& Entry : std::filesystem::directory_iterator(Root + "/g")) Left.push_back(Entry.path().filename());
    std::sort(Left.begin(), Left.end());
    EXPECT_EQ(Left, (std::vector<std::string>{"brakkenfel-1-3", "brakkenfel-99999999-2", "someone-else-99999999"}));
}

}  // namespace
}  // namespace brakkenfel
