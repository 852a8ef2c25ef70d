// What --record, --replay, --from-move and --seed add to a run, gathered behind a few calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/modMain.h"
#include "contest/clsProgram.h"
#include "contest/Sprite.h"
#include "replay/MatchFile.h"

namespace brakkenfel {

class MatchRecorder;
class ReplaySource;

/// The run's match file, recorded or replayed, and its random seed.
class MatchSession {
public:
    /// Nothing happens until Open.
    explicit MatchSession(const Options& Chosen);
    ~MatchSession();
    MatchSession(const MatchSession&) = delete;
    MatchSession& operator=(const MatchSession&) = delete;

    /// Decides the seed and exports it as BRAKKENFEL_SEED, reads the replay's header and checks that
    /// the recording's header fits; creates nothing. RuntimeError on a bad file or a header too long.
    void Open();
    /// Creates the recording, if one was asked for; RuntimeError 75 when it cannot be written.
    void OpenRecording();
    /// A replay's moves in all, counted at Open when a window shows them or --from-move needs
    /// them; empty otherwise, for a file that is not a plain one (a FIFO), or when a bad line stops
    /// the count (the replay reports it there).
    std::optional<std::int64_t> TotalMoves() const { return Total; }
    /// True when the guns are driven from a match file.
    bool Replaying() const { return Replay != nullptr; }
    /// The replay contestant for `GunName`.
    std::shared_ptr<Sprite> MakeReplay(const std::string& GunName);
    /// Reads the replayed file again from its first move; the replay contestants made after this
    /// follow the new source. RuntimeError when the file can no longer be read.
    void Rewind();
    /// Gives `Host` the seed, the moves to jump, the per-move hook of recording or replaying, and a
    /// replay's rewind.
    void Install(ContestHost& Host);
    /// The options a headless run goes by: a replay runs unpaced to its end (or --moves in all).
    Options HeadlessOptions(const Options& Chosen) const;
    /// The options the result file describes: a replay names the recorded contestants.
    Options ResultOptions(const Options& Chosen) const;
    /// The programs' counts for the result file: the recorded ones when replaying.
    std::vector<ProgramSummary> Summaries(const std::vector<ProgramSummary>& Live) const;
    /// Between moves of a paced run: what the recording holds goes to the disk.
    void FlushWaiting();
    /// Writes what is left of the recording and closes it; RuntimeError 75 on failure.
    void Finish();

private:
    MatchHeader RecordHeader() const;
    void CountMoves();

    Options Chosen;
    std::uint32_t Seed = 0;
    std::optional<std::int32_t> DuelHealth;  // duel rules, from the command line or the replayed file
    std::unique_ptr<MatchRecorder> Recorder;
    std::shared_ptr<ReplaySource> Replay;
    std::optional<std::int64_t> Total;
};

}  // namespace brakkenfel
