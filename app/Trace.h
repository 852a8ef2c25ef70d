// The per-move trace and the run's output files: trace lines, the snapshot, and how their writes end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/Options.h"
#include "app/OutputFile.h"
#include "platform/Gdi.h"

namespace brakkenfel {

/// Formats trace lines and writes them to an open stream; the buffer is reused, so a line costs no allocation.
class TraceWriter {
public:
    /// A writer onto `Stream`, which the caller keeps open and closes; null: format only.
    explicit TraceWriter(std::FILE* Stream = nullptr) : Stream(Stream) {}
    /// Writes the line of move `Move` (from 1) from the registry and the bullet pool as they stand.
    void WriteMove(std::int64_t Move);
    /// The line of move `Move`, newline included; valid until the next call.
    const std::string& FormatMove(std::int64_t Move);

private:
    void Append(const char* text);
    void AppendInteger(std::int64_t value);
    void AppendFloat(float value);

    std::FILE* Stream;
    std::string Line;
};

/// The outputs a run writes as the options ask: the trace, one line per move and flushed about
/// twice a second, and the snapshot. Shared by headless and window runs.
class RunOutputs {
public:
    /// Opens the trace and the snapshot before the run, so that a bad path costs no run.
    explicit RunOutputs(const Options& Chosen);
    ~RunOutputs();
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

    /// False when a stop signal came while an output was waited on; the run should not start.
    bool Opened() const { return AllOpened; }
    /// Counts a move and, with a trace, writes its line. A write error fails with error 75; a closed
    /// pipe stops the run as SIGPIPE would; a stop signal during a blocked write leaves the rest for Finish.
    void AfterMove();
    /// Writes what the trace holds now, without waiting for the next half second.
    void WriteOut() { Flush(false); }
    /// Between moves of a paced run: writes the trace out when its lines are near half a second
    /// old, so they reach the disk in time however slowly (or not at all) the moves go on.
    void FlushIfDue();
    /// Moves counted so far.
    std::int64_t Moves() const { return MovesCounted; }
    /// Saves `Frame` as the snapshot, when one was asked for.
    void SaveSnapshot(const GdiBitmap& Frame);
    /// Writes what the trace still holds. After a stop it waits at most half a second for a stalled reader.
    void Finish();
    /// For an exit that cannot unwind (the display gone): what the live run's trace holds, written
    /// within a second, errors ignored. Does nothing outside a run.
    static void FlushLive() noexcept;

private:
    enum class Outcome { Written, Broken, Stalled };
    Outcome WriteAll(int fd, const char* data, std::size_t size, std::size_t& done, bool bounded);
    void Flush(bool bounded);
    [[noreturn]] void Fail(const char* what, const std::string& path, int error);

    std::string TracePath;
    std::string SnapshotPath;
    int TraceFd = -1;
    int SnapshotFd = -1;
    bool AllOpened = true;
    bool Broken = false;
    std::int64_t MovesCounted = 0;
    TraceWriter Writer;
    std::string Pending;
    std::chrono::steady_clock::time_point NextFlush;
};

}  // namespace brakkenfel
