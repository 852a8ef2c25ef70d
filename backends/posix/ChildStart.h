// The child's side of starting a contestant: what runs between fork (or clone) and exec.
#pragma once

#include <sys/types.h>

namespace brakkenfel {

struct SandboxPlan;

/// The child's side of a start, filled in before the fork so that the child needs no allocation.
struct ChildPlan {
    const char* Command = nullptr;
    int StdinFd = -1;
    int StdoutFd = -1;
    int StderrFd = -1;  // -1: keep the arena's (only when relaying failed to set up)
    int StatusFd = -1;  // the write end of the status pipe, namespace only
    pid_t Parent = 0;
    bool MapUser = false;
    char UidMap[32] = {};
    char GidMap[32] = {};
    const SandboxPlan* Sandbox = nullptr;  // none: the program runs with the arena's rights
    int GoFd = -1;      // the read end the namespace's init waits on until its uid map is written
    int ReportFd = -1;  // where the child reports which protections held
};

/// The child outside any namespace: its own process group, then `/bin/sh -c Command`; never returns.
[[noreturn]] void RunGroupChild(const ChildPlan& Plan);

#ifdef __linux__
/// PID 1 of a contestant's namespace, started by clone with the plan as its argument; never returns.
int RunInit(void* Argument);
/// The uid or gid map line that maps `Id` to itself.
void FormatIdMap(char (&Line)[32], unsigned long Id);
#endif

}  // namespace brakkenfel
