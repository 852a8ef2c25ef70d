// Whole reads and single writes of the kernel's small control files (/proc, cgroups), bounded.
#include "backends/posix/SmallFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace brakkenfel {

std::string ReadSmall(const std::string& Path, std::size_t Limit) {
    const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) return {};
    std::string Text;
    char Chunk[4096];
    while (Text.size() < Limit) {
        const ssize_t Read = read(Fd, Chunk, sizeof Chunk);
        if (Read < 0 && errno == EINTR) continue;
        if (Read <= 0) break;
        Text.append(Chunk, std::min(static_cast<std::size_t>(Read), Limit - Text.size()));
    }
    close(Fd);
    return Text;
}

int WriteSmall(const std::string& Path, const std::string& Text) {
    // A control file takes its whole text in one write or refuses it: no loop over partial writes.
    const int Fd = open(Path.c_str(), O_WRONLY | O_CLOEXEC);
    if (Fd < 0) return errno;
    const ssize_t Written = write(Fd, Text.data(), Text.size());
    const int Error = Written == static_cast<ssize_t>(Text.size()) ? 0 : (Written < 0 ? errno : EIO);
    close(Fd);
    return Error;
}

}  // namespace brakkenfel
