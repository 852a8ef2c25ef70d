// Trace lines (fixed key order, floats as the shortest text that reads back as the same float) and
// the output files: opened before the run, written with every failure told apart.
#include "app/Trace.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <span>
#include <vector>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "app/BmpFile.h"
#include "app/OutputFile.h"
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
        if (Score.Duel) {
            // A duel's guns stand where its seed put them, on whole pixels.
            Append(",\"health\":");
            AppendInteger(HealthOf(static_cast<std::int16_t>(slot)));
            Append(",\"x\":");
            AppendInteger(static_cast<std::int64_t>(gun.X));
            Append(",\"y\":");
            AppendInteger(static_cast<std::int64_t>(gun.Y));
        }
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

RunOutputs::Outcome RunOutputs::WriteAll(int fd, const char* data, std::size_t size, std::size_t& done, bool bounded) {
    int error = 0;
    switch (WriteOutput(fd, data, size, done, error, bounded)) {
    case WriteEnd::Written: return Outcome::Written;
    case WriteEnd::Broken: return Outcome::Broken;
    case WriteEnd::Stalled: return Outcome::Stalled;
    case WriteEnd::Failed: break;
    }
    Fail(fd == SnapshotFd ? "the snapshot" : "the trace", fd == SnapshotFd ? SnapshotPath : TracePath, error);
}

void RunOutputs::Flush(bool bounded) {
    if (TraceFd < 0 || Broken || Pending.empty()) return;
    std::size_t done = 0;
    const Outcome outcome = WriteAll(TraceFd, Pending.data(), Pending.size(), done, bounded);
    if (outcome == Outcome::Written) {
        Pending.clear();
    } else if (outcome == Outcome::Broken) {
        // Nobody reads any more (`--trace - | head`): stop quietly, as the default SIGPIPE would but in order.
        Broken = true;
        Pending.clear();
        RequestStop(SIGPIPE);
    } else {
        // Stalled after a stop: the reader lost the rest; writing more later would leave a gap in it.
        Broken = true;
        Pending.clear();
        std::fprintf(stderr, "brakkenfel: the trace's reader took nothing for half a second after the stop; "
                             "the trace ends at the last whole write\n");
    }
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

void RunOutputs::FlushIfDue() {
    if (Pending.empty()) return;
    // A frame's time early: called once a frame, this keeps every line under half a second.
    const auto now = std::chrono::steady_clock::now();
    if (now + std::chrono::milliseconds(100) < NextFlush) return;
    NextFlush = now + FlushEvery;
    Flush(false);
}

void RunOutputs::SaveSnapshot(const GdiBitmap& Frame) {
    if (SnapshotFd < 0) return;
    const std::vector<std::uint8_t> file = EncodeBmp(Frame);
    std::size_t done = 0;
    const auto outcome = WriteAll(SnapshotFd, reinterpret_cast<const char*>(file.data()), file.size(), done, false);
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
    // After a stop, a reader that takes nothing for half a second loses the rest rather than hold the arena.
    Flush(false);
}

}  // namespace brakkenfel
