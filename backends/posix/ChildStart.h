// The child's side of starting a contestant: what runs between fork (or clone) and exec.
#pragma once

#include <sys/types.h>

namespace brakkenfel {

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
