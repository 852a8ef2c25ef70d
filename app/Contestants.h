// Contestants by kind, as the command line names them, and the outside programs among them.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "app/Options.h"
#include "contest/ProtocolLog.h"
#include "contest/Sprite.h"
#include "contest/clsProgram.h"

namespace brakkenfel {

class clsProgram;

/// Makes each gun's contestant as `Chosen` names it. The outside programs it starts are kept here
/// as well as in the registry, so the end of a run can stop them together and report on each, and
/// a failed start-up can stop them before the error is reported.
class ContestantRoster {
public:
    /// Contestants as `Chosen` names them; programs' notices and summaries go to `Diagnostics`.
    ContestantRoster(const Options& Chosen, std::ostream& Diagnostics);
    /// Stops the programs still running, all at once.
    ~ContestantRoster();
    /// Not copyable: one roster stops its programs.
    ContestantRoster(const ContestantRoster&) = delete;
    /// Not assignable.
    ContestantRoster& operator=(const ContestantRoster&) = delete;

    /// A new contestant for `GunName` ("Cannon" or "Helicopter"); a program started by
    /// StartPrograms is handed out here, once.
    std::shared_ptr<Sprite> Make(const std::string& GunName);
    /// Starts the program contestants' processes now, without greeting them, so that a sandbox
    /// --sandbox require refuses (SandboxRefused, thrown) ends the run before any output is made.
    void StartPrograms();
    /// For a run's normal end: stops every program at once, then one summary line each.
    void Finish();
    /// For a way out by error: stops every program at once, without a summary.
    void Release();
    /// RuntimeError 75 when the protocol log could not be written; the run checks after every move.
    void CheckLog() const {
        if (Log) Log->Check();
    }
    /// The counts of every program stopped so far, in the order they were made.
    const std::vector<ProgramSummary>& Summaries() const { return Stopped; }

private:
    // Passes text on only when flushed, in one piece: the programs' relayed standard error goes to
    // the same place, and must not land inside one of the arena's lines.
    class WholeWrites : public std::streambuf {
    public:
        explicit WholeWrites(std::ostream& Target) : Target(&Target) {}

    protected:
        int_type overflow(int_type Char) override;
        std::streamsize xsputn(const char* Text, std::streamsize Count) override;
        int sync() override;

    private:
        std::ostream* Target;
        std::string Pending;
    };

    void StopAll(bool Report);
    std::shared_ptr<clsProgram> NewProgram(const std::string& GunName);

    Options Chosen;
    WholeWrites Buffer;
    std::ostream Diagnostics;
    std::vector<std::shared_ptr<clsProgram>> Programs;
    // Started by StartPrograms and not yet handed out, by gun name.
    std::vector<std::pair<std::string, std::shared_ptr<clsProgram>>> Started;
    std::vector<ProgramSummary> Stopped;
    // Opened with the first contestant made, so that a bad path fails the set-up like a bad trace.
    std::unique_ptr<ProtocolLog> Log;
};

}  // namespace brakkenfel
