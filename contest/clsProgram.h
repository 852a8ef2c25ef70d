// A contestant that is an outside program, steering its gun through lines on its stdin and stdout.
//
// ProgramSession holds the whole conversation and its rules (greeting, one request and at most
// one reply per move, the budget, going out); clsProgram only connects it to a gun's
// SpriteActions. The session is usable on its own, which is how it is tested and measured.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "platform/ContestantProcess.h"
#include "contest/ProtocolLine.h"
#include "contest/Sprite.h"

namespace brakkenfel {

class ProtocolLog;

/// How a contestant program fared over a run.
struct ProgramSummary {
    /// "Cannon" or "Helicopter".
    std::string GunName;
    /// Moves asked of the program (moves after it went out are not counted). Each is counted once
    /// more in exactly one of InTime, Late, Malformed, Ahead and Unanswered().
    std::uint64_t Moves = 0;
    /// Moves answered by a valid reply within their budget.
    std::uint64_t InTime = 0;
    /// Moves whose reply came only after the move was over, and was discarded.
    std::uint64_t Late = 0;
    /// Moves decided by a refused line: malformed, too long, out of range, naming a later move.
    std::uint64_t Malformed = 0;
    /// Moves whose reply was already written before the move was asked, and so gave nothing.
    std::uint64_t Ahead = 0;
    /// Lines that decided no move: a second reply to a move, or one to a move already decided.
    std::uint64_t Ignored = 0;
    /// True once the program is out for the rest of the run.
    bool Out = false;
    /// The move at which it went out; 0 when it went out at the start.
    std::uint64_t OutMove = 0;
    /// Why it went out, e.g. "exited with status 1".
    std::string OutReason;
    /// Bytes of its standard error that were not relayed.
    std::uint64_t StderrDropped = 0;
    /// Why it ran without a PID namespace of its own; empty when it had one.
    std::string NotContained;
    /// Which protections of its sandbox held ("sandbox: no network, ..."); empty without one.
    std::string Sandbox;

    /// Moves that got no line at all: nothing in time and nothing later (not sent, cut short, ended).
    std::uint64_t Unanswered() const { return Moves - InTime - Late - Malformed - Ahead; }
};

/// Thrown when --sandbox require finds a program's sandbox incomplete: the machine cannot give it,
/// so the whole run is refused rather than the program put out. The text names the gun and what
/// did not hold.
class SandboxRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What the arena tells a program about its gun each move.
struct GunReport {
    /// The gun's angle, 0 to 255.
    std::uint8_t Angle = 0;
    /// The gun's horizontal position.
    std::int16_t X = 0;
    /// The gun's vertical position.
    std::int16_t Y = 0;
    /// Whether the gun waits out a turning delay.
    bool Rotating = false;
    /// Under duel rules (protocol 2): health, reload and the foe; null under plain rules.
    const DuelMoveFields* Duel = nullptr;
};

/// One run's conversation with a contestant program.
class ProgramSession {
public:
    /// Moves in a row without a valid reply in time after which a program is out.
    static constexpr std::uint64_t MissLimit = 90;
    /// How long a program has to answer the greeting with "ready" (unless the budget is 0), in ms.
    static constexpr std::int32_t ReadyTimeoutMs = 1000;

    /// A session for `Command` (run with /bin/sh -c) steering `GunName`; `MoveBudgetMs` 0 waits
    /// without limit (the greeting too); notices of going out are written to `Diagnostics`.
    ProgramSession(std::string Command, std::int32_t MoveBudgetMs, std::string GunName,
                   std::ostream& Diagnostics, ChildStderr Stderr = ChildStderr::Relay,
                   Containment How = Containment::Best);

    /// How long the program has to answer the greeting, in ms, 0 without limit; by default
    /// ReadyTimeoutMs, or without limit when the move budget is 0. Call before Start.
    void SetReadyTime(std::int32_t Ms) { ReadyMs = Ms; }
    /// Starts the program's process without greeting it, so that a run can start its programs
    /// before it makes any output; false when no process could be made (Start then puts the
    /// program out). Throws SandboxRefused when --sandbox require refused its sandbox. Once only.
    bool Launch();
    /// Starts the program (unless Launch did) and waits for "ready"; false if the program is out
    /// instead. A stop signal ends the wait early; the greeting is then awaited again before the
    /// first move.
    bool Start();
    /// Tells the program its move and gun, waits for its reply; the orders to carry out, in order
    /// (empty when there are none). The span stays valid until the next call. While a stop signal
    /// is pending nothing is asked and nothing counted.
    std::span<const ProgramOrder> Move(const GunReport& Gun);
    /// Speaks protocol `Version` from the greeting on; called before Start.
    void UseProtocol(int Version) { Protocol = Version; }
    /// Starts ending the program without waiting ("quit", pipes closed), so several can end at once.
    void BeginStop();
    /// Logs every line exchanged to `NewLog` from now on; null stops logging.
    void SetProtocolLog(ProtocolLog* NewLog) { Log = NewLog; }
    /// Runs the program in a sandbox as `Settings` ask; call before Start.
    void UseSandbox(const SandboxSettings& Settings) { Process.UseSandbox(Settings); }
    /// Ends the program: "quit", then signals if it lingers; blocks until it is reaped.
    void Stop();

    /// True once the program is out for the rest of the run.
    bool IsOut() const { return Counts.Out; }
    /// The counts so far.
    const ProgramSummary& Summary() const { return Counts; }
    /// One line for the end-of-run report, without a trailing newline.
    std::string SummaryLine() const;
    /// The program's process (group) id, 0 before Start; for diagnostics.
    pid_t ProcessId() const { return Process.Pid(); }

private:
    std::span<const ProgramOrder> Miss();
    std::span<const ProgramOrder> Unanswered();
    void JudgeEarlier(std::uint64_t Move, std::string_view Line);
    void GoOut(std::string Reason);
    bool AwaitReady();
    std::string EndedReason();
    std::int64_t ReadyLimitMs() const;
    std::int64_t DeadlineAfterNs(std::int64_t Ns) const;
    WriteOutcome Send(std::string_view Text);
    ReadOutcome Read(std::int64_t DeadlineNs, std::string_view& Line);
    void LogLine(std::string_view Direction, std::string_view Text);
    void LogReceived(std::string_view Mark, std::string_view Line);

    std::string Command;
    std::int64_t BudgetNs;
    std::ostream* Diagnostics;
    ChildStderr Stderr;
    Containment How;
    ContestantProcess Process;
    bool Launched = false;
    std::string LaunchError;  // why Launch made no process
    ProgramSummary Counts;
    std::uint64_t MoveNumber = 0;
    std::uint64_t MissesInARow = 0;
    std::uint64_t LastNamedMove = 0;
    // Which of the last moves ended without any line (by move number modulo its size): a late
    // reply can name only those, as every move since the last one answered in time is among them.
    std::array<bool, 128> NoLineFor{};
    static_assert(MissLimit < 128, "every move a late reply can name must still be in NoLineFor");
    std::int32_t ReadyMs = -1;
    bool AwaitingReady = false;
    std::int64_t ReadyDeadline = 0;
    char Request[MaxProtocolLine];
    ProgramReply Reply;
    ProtocolLog* Log = nullptr;
    std::int64_t SentNs = 0;
    std::int64_t ReceivedNs = 0;
    bool QuitLogged = false;
    int Protocol = ProtocolVersion;
};

/// A contestant driven by an outside program; its gun does nothing once the program is out.
class clsProgram : public Sprite {
public:
    /// A contestant running `Command` with `/bin/sh -c` for the gun `GunName`, allowing it
    /// `MoveBudgetMs` per move (0: without limit); notices go to `Diagnostics`.
    clsProgram(std::string Command, std::int32_t MoveBudgetMs, std::string GunName, std::ostream& Diagnostics,
               ChildStderr Stderr = ChildStderr::Relay);
    /// Starts the program's process ahead of Initialize (see ProgramSession::Launch).
    bool Launch() { return Session.Launch(); }
    /// Keeps the controls, starts the program (unless launched) and waits for its "ready".
    void Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) override;
    /// Reports the gun to the program and carries out the orders of its reply.
    void Update() override;

    /// Starts ending the program without waiting, so both guns' programs can end at once.
    void BeginStop() { Session.BeginStop(); }
    /// Ends the program now rather than when the contestant is destroyed.
    void Stop() { Session.Stop(); }
    /// Logs every line exchanged to `Log` from now on; null stops logging.
    void SetProtocolLog(ProtocolLog* Log) { Session.SetProtocolLog(Log); }
    /// How long the program has to answer the greeting (see ProgramSession::SetReadyTime).
    void SetReadyTime(std::int32_t Ms) { Session.SetReadyTime(Ms); }
    /// Runs the program in a sandbox as `Settings` ask; call before Initialize.
    void UseSandbox(const SandboxSettings& Settings) { Session.UseSandbox(Settings); }
    /// The counts so far.
    const ProgramSummary& Summary() const { return Session.Summary(); }
    /// One line for the end-of-run report, without a trailing newline.
    std::string SummaryLine() const { return Session.SummaryLine(); }
    /// The program's process (group) id, 0 before Initialize.
    pid_t ProcessId() const { return Session.ProcessId(); }

private:
    std::shared_ptr<SpriteActions> Actions;
    std::shared_ptr<SpriteEnemy> Foe;  // under duel rules, the one entry of the foe list
    ProgramSession Session;
};

}  // namespace brakkenfel
