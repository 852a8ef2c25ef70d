// The per-move trace: one JSON line per move with every gun's state and every bullet in flight.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace brakkenfel {

/// Writes trace lines to an open stream; the buffer is reused, so a line costs no allocation.
class TraceWriter {
public:
    /// A writer onto `Stream`, which the caller keeps open and closes.
    explicit TraceWriter(std::FILE* Stream) : stream_(Stream) {}
    /// Writes the line of move `Move` (from 1) from the registry and the bullet pool as they stand.
    void WriteMove(std::int64_t Move);

private:
    void Append(const char* text);
    void AppendInteger(std::int64_t value);
    void AppendFloat(float value);

    std::FILE* stream_;
    std::string line_;
};

}  // namespace brakkenfel
