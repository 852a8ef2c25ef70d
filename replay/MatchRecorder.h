// Recording a match: every order the registry receives, and the state hash, one line per move.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "contest/clsProgram.h"
#include "replay/MatchFile.h"
#include "replay/OrderTap.h"

namespace brakkenfel {

/// Writes the match file of the run under way; while it lives it is the ActiveOrderTap.
class MatchRecorder : public OrderTap {
public:
    /// Creates `Path` and writes `Header` to it; RuntimeError 75 when it cannot.
    MatchRecorder(const std::string& Path, const MatchHeader& Header);
    ~MatchRecorder();
    MatchRecorder(const MatchRecorder&) = delete;
    MatchRecorder& operator=(const MatchRecorder&) = delete;

    /// After each move: the move's line (and an event line before it for a program gone out).
    void AfterMove();
    /// Between moves: writes out the lines still waiting in the buffer.
    void FlushWaiting() { Writer.FlushWaiting(); }
    /// At the end of the run: what is left to say, then the file closed; RuntimeError 75 on failure.
    void Finish();

private:
    void NoteOuts();
    /// A program's gun field at `Out`: its orders, or x/- for none, and its counts when unusual.
    char* WriteProgramField(char* Out, std::size_t Gun, std::size_t Orders);

    MatchWriter Writer;
    std::array<ProgramSummary, MatchGuns> Seen;
    std::array<std::shared_ptr<clsProgram>, MatchGuns> Programs;
    bool ProgramsFound = false;
    // Whether either gun is a program (whose outs and counts need noting); assumed until the
    // first move looks at the registry.
    bool HasPrograms = true;
    std::string Line;
};

}  // namespace brakkenfel
