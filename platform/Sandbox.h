// What a contestant program is allowed: the sandbox's mode, its limits and what the user grants.
#pragma once

#include <cstdint>
#include <string>

namespace brakkenfel {

/// Whether contestant programs run in a sandbox.
enum class SandboxMode : std::uint8_t {
    On,       ///< Every protection the system allows; what it refuses is named in the summary.
    Require,  ///< Every protection, or the program is not started.
    Off,      ///< None: the program has the rights of whoever started the arena.
};

/// The sandbox one contestant program runs in; the defaults let ordinary interpreters and runtimes start.
struct SandboxSettings {
    SandboxMode Mode = SandboxMode::On;
    /// Memory of the whole program in MB (a cgroup), or else writable data of each process; 0: no limit.
    std::int64_t MemoryMb = 2048;
    /// CPU time of the whole program in seconds (a cgroup), or else of each process; 0: no limit.
    std::int64_t CpuSeconds = 300;
    /// Processes and threads at once, of the whole program (a cgroup) or else of its user; 0: no limit.
    std::int64_t Processes = 256;
    /// The private scratch folder's size in MB ($TMPDIR and $HOME point there).
    std::int64_t ScratchMb = 64;
    /// A folder the program may write to besides its scratch folder; empty: none.
    std::string WriteDir;
    /// True: a loopback network of its own (no way out to the machine's or anyone else's).
    bool Network = false;
};

/// Checks that the folder `Settings` grant for writing exists and that the programs will be able to
/// write there (as root they run as a uid of their own); false with `Error` saying why. Its absolute
/// path in `Resolved`. True without a grant or a sandbox.
bool CheckWriteGrant(const SandboxSettings& Settings, std::string& Resolved, std::string& Error);

}  // namespace brakkenfel
