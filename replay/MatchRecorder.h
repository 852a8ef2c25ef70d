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
    ~MatchRecorder() override;
    MatchRecorder(const MatchRecorder&) = delete;
    MatchRecorder& operator=(const MatchRecorder&) = delete;

    void Rotate(std::int16_t Index, std::uint8_t Angle) override;
    void Shoot(std::int16_t Index) override;
    /// After each move: the move's line (and an event line before it for a program gone out).
    void AfterMove();
    /// At the end of the run: what is left to say, then the file closed; RuntimeError 75 on failure.
    void Finish();

private:
    void NoteOuts();

    // Room for one gun's orders in a line, leaving enough for the other's, the hash and the counts.
    static constexpr std::size_t MaxToken = (MaxMatchLine - 200) / MatchGuns;

    MatchWriter Writer;
    // Plain arrays: an order costs a store or four, which the move's own work dwarfs.
    std::array<std::array<char, MaxToken + 4>, MatchGuns> Tokens{};
    std::array<std::size_t, MatchGuns> TokenLengths{};
    std::array<ProgramSummary, MatchGuns> Seen;
    std::array<std::shared_ptr<clsProgram>, MatchGuns> Programs;
    bool ProgramsFound = false;
    std::string Line;
};

}  // namespace brakkenfel
