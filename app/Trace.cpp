// Trace lines (fixed key order, floats as the shortest text that reads back as the same float) and
// the output files: opened before the run, written with every failure told apart.
#include "app/Trace.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <span>
#include <vector>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "app/BmpFile.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

void TraceWriter::Append(const char* text) { Line += text; }

void TraceWriter::AppendInteger(std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    Line.append(digits, result.ptr);
}

void TraceWriter::AppendFloat(float value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    Line.append(digits, result.ptr);
}

const std::string& TraceWriter::FormatMove(std::int64_t Move) {
    Line.clear();
    Append("{\"move\":");
    AppendInteger(Move);
    Append(",\"guns\":[");
    bool first = true;
    // The whole table at once: the checked per-slot look-up is for callers that take an index from outside.
    const std::span<const SpriteData> guns = Sprites->Records();
    for (std::size_t slot = 0; slot < guns.size(); ++slot) {
        const SpriteData& gun = guns[slot];
        if (gun.InUse == 0) continue;
        Append(first ? "{\"name\":\"" : ",{\"name\":\"");
        first = false;
        // Gun names are the arena's own ("Cannon", "Helicopter"): nothing to escape.
        Line += gun.Name;
        Append("\",\"angle\":");
        AppendInteger(gun.Angle);
        Append(",\"target\":");
        AppendInteger(gun.TargetAngle);
        Append(",\"reload\":");
        AppendInteger(gun.ReloadLeft);
        Append(",\"hits\":");
        AppendInteger(HitsOf(static_cast<std::int16_t>(slot)));
        Append("}");
    }
    Append("],\"bullets\":[");
    first = true;
    for (std::size_t slot = 0; slot < Bullets.size(); ++slot) {
        const Bullet& bullet = Bullets[slot];
        if (bullet.Active == 0) continue;
        Append(first ? "{\"slot\":" : ",{\"slot\":");
        first = false;
        AppendInteger(static_cast<std::int64_t>(slot));
        Append(",\"x\":");
        AppendFloat(bullet.X);
        Append(",\"y\":");
        AppendFloat(bullet.Y);
        Append(",\"vx\":");
        AppendFloat(bullet.SpeedX);
        Append(",\"vy\":");
        AppendFloat(bullet.SpeedY);
        if (bullet.Owner >= 0 && static_cast<std::size_t>(bullet.Owner) < guns.size()) {
            Append(",\"owner\":\"");
            Line += guns[static_cast<std::size_t>(bullet.Owner)].Name;
            Append("\"}");
        } else {
            Append(",\"owner\":null}");
        }
    }
    Append("]}\n");
    return Line;
}

void TraceWriter::WriteMove(std::int64_t Move) {
    FormatMove(Move);
    std::fwrite(Line.data(), 1, Line.size(), Stream);
}

}  // namespace brakkenfel

namespace brakkenfel {

namespace {

// Above this the trace is written out at once; below it, at most half a second later.
constexpr std::size_t TraceBlock = 1 << 16;
constexpr auto FlushEvery = std::chrono::milliseconds(500);
// A clock read every this many moves keeps the half-second flush nearly free in unpaced runs.
constexpr std::int64_t ClockEvery = 32;

std::string Describe(const std::string& path) { return path == "-" ? "standard output" : path; }

}  // namespace

int OpenOutput(const std::string& Path, const char* What) {
    for (;;) {
        // Non-blocking only for the open itself: a FIFO without a reader fails with ENXIO instead
        // of blocking, so the wait below can look at the stop flag without a race.
        const int fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        const int error = errno;
        struct stat info {};
        const bool fifo = error == ENXIO && stat(Path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
        if (!fifo && error != EINTR) {
            throw RuntimeError(ErrPathFileAccess,
                               std::string("cannot write ") + What + " to " + Path + ": " + std::strerror(error));
        }
        if (StopSignalPending()) return -1;
        const timespec pause{0, 20'000'000};
        nanosleep(&pause, nullptr);  // a stop signal cuts it short
    }
}

namespace {
// The outputs of the run under way, for FlushLive.
RunOutputs* Live = nullptr;
}  // namespace

RunOutputs::RunOutputs(const Options& Chosen)
    : TracePath(Chosen.TracePath), SnapshotPath(Chosen.SnapshotPath),
      NextFlush(std::chrono::steady_clock::now() + FlushEvery) {
    if (TracePath == "-") {
        TraceFd = STDOUT_FILENO;
    } else if (!TracePath.empty()) {
        TraceFd = OpenOutput(TracePath, "the trace");
        AllOpened = TraceFd >= 0;
    }
    if (AllOpened && !SnapshotPath.empty()) {
        SnapshotFd = OpenOutput(SnapshotPath, "the snapshot");
        AllOpened = SnapshotFd >= 0;
    }
    if (TraceFd >= 0) Pending.reserve(TraceBlock + 4096);
    Live = this;
}

RunOutputs::~RunOutputs() {
    if (Live == this) Live = nullptr;
    if (TraceFd > STDERR_FILENO) close(TraceFd);
    if (SnapshotFd >= 0) close(SnapshotFd);
}

void RunOutputs::Fail(const char* what, const std::string& path, int error) {
    throw RuntimeError(ErrPathFileAccess,
                       std::string("cannot write ") + what + " to " + Describe(path) + ": " + std::strerror(error));
}

RunOutputs::Outcome RunOutputs::WriteAll(int fd, const char* data, std::size_t size, bool bounded) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (size > 0) {
        if (bounded) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd out{fd, POLLOUT, 0};
            const int ready = poll(&out, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
            if (ready == 0) return Outcome::Stalled;
            if (ready < 0) return errno == EINTR ? Outcome::Interrupted : Outcome::Stalled;
        }
        // After a wait for room, no more than a pipe takes in one piece, so the write cannot block.
        const ssize_t done = write(fd, data, bounded ? std::min<std::size_t>(size, PIPE_BUF) : size);
        if (done > 0) {
            data += done;
            size -= static_cast<std::size_t>(done);
            continue;
        }
        const int error = errno;
        if (error == EINTR) return Outcome::Interrupted;  // only a stop signal's handler interrupts
        if (error == EPIPE) return Outcome::Broken;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // Someone else sharing the descriptor made it non-blocking: wait for room as a blocking write would.
            pollfd out{fd, POLLOUT, 0};
            if (poll(&out, 1, bounded ? 1000 : -1) < 0 && errno == EINTR) return Outcome::Interrupted;
            continue;
        }
        Fail(fd == SnapshotFd ? "the snapshot" : "the trace", fd == SnapshotFd ? SnapshotPath : TracePath, error);
    }
    return Outcome::Written;
}

void RunOutputs::Flush(bool bounded) {
    if (TraceFd < 0 || Broken || Pending.empty()) return;
    const Outcome outcome = WriteAll(TraceFd, Pending.data(), Pending.size(), bounded);
    if (outcome == Outcome::Written) {
        Pending.clear();
    } else if (outcome == Outcome::Broken) {
        // Nobody reads any more (`--trace - | head`): stop quietly, as the default SIGPIPE would but in order.
        Broken = true;
        Pending.clear();
        RequestStop(SIGPIPE);
    }
    // Interrupted or stalled: the stop is under way; what is left waits for Finish or is dropped.
}

void RunOutputs::AfterMove() {
    ++MovesCounted;
    if (TraceFd < 0 || Broken) return;
    Pending += Writer.FormatMove(MovesCounted);
    if (Pending.size() >= TraceBlock) {
        Flush(false);
    } else if (MovesCounted % ClockEvery == 0 && std::chrono::steady_clock::now() >= NextFlush) {
        NextFlush = std::chrono::steady_clock::now() + FlushEvery;
        Flush(false);
    }
}

void RunOutputs::SaveSnapshot(const GdiBitmap& Frame) {
    if (SnapshotFd < 0) return;
    const std::vector<std::uint8_t> file = EncodeBmp(Frame);
    const auto outcome = WriteAll(SnapshotFd, reinterpret_cast<const char*>(file.data()), file.size(),
                                  StopSignalNumber() != 0);
    if (outcome == Outcome::Broken) RequestStop(SIGPIPE);
}

void RunOutputs::FlushLive() noexcept {
    if (Live == nullptr) return;
    try {
        Live->Flush(true);
    } catch (...) {
        // Nothing more can be done for a trace the process is leaving without.
    }
}

void RunOutputs::Finish() {
    // After a stop, a reader that takes nothing for a second loses the rest rather than hold the arena.
    Flush(StopSignalNumber() != 0);
}

}  // namespace brakkenfel
