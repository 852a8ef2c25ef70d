// The conversation rules with a contestant program, and the contestant that carries its orders out.
#include "contest/clsProgram.h"

#include <ostream>
#include <utility>

#include "contest/ProtocolLog.h"
#include "platform/Errors.h"
#include "platform/StopSignals.h"

namespace brakkenfel {

namespace {

constexpr std::int64_t NsPerMs = 1'000'000;

// When a program's output ends, a moment is allowed for its exit to show, so that "exited" and
// "closed its output" are told apart reliably. The move's budget does not cap it: the program is
// out either way, and a reason that depends on the machine's load helps nobody.
constexpr std::int64_t ExitGraceNs = 100 * NsPerMs;

// How a received line is marked in the protocol log.
constexpr std::string_view Taken = "<";
constexpr std::string_view MarkLate = "<late";
constexpr std::string_view MarkAhead = "<ahead";
constexpr std::string_view MarkRefused = "<refused";
constexpr std::string_view MarkIgnored = "<ignored";

}  // namespace

ProgramSession::ProgramSession(std::string Command, std::int32_t MoveBudgetMs, std::string GunName,
                               std::ostream& Diagnostics, ChildStderr Stderr, Containment How)
    : Command(std::move(Command)),
      BudgetNs(static_cast<std::int64_t>(MoveBudgetMs) * NsPerMs),
      Diagnostics(&Diagnostics),
      Stderr(Stderr),
      How(How) {
    if (MoveBudgetMs < 0) throw RuntimeError(ErrInvalidProcedure, "negative move budget");
    Counts.GunName = std::move(GunName);
}

std::int64_t ProgramSession::DeadlineAfterNs(std::int64_t Ns) const {
    if (BudgetNs == 0) return ContestantProcess::NoDeadline;
    return ContestantProcess::NowNs() + Ns;
}

void ProgramSession::GoOut(std::string Reason) {
    Counts.Out = true;
    Counts.OutMove = MoveNumber;
    Counts.OutReason = std::move(Reason);
    *Diagnostics << Counts.GunName << " contestant is out at move " << MoveNumber << ": " << Counts.OutReason
                 << '\n'
                 << std::flush;
    LogLine("!", "out: " + Counts.OutReason);
    // The rest of the stop sequence moves on with later moves, never holding up this one.
    BeginStop();
}

std::string ProgramSession::EndedReason() {
    if (Process.WaitForExit(ContestantProcess::NowNs() + ExitGraceNs)) return Process.ExitDescription();
    return "closed its output";
}

std::int64_t ProgramSession::ReadyLimitMs() const {
    if (ReadyMs >= 0) return ReadyMs;
    return BudgetNs == 0 ? 0 : ReadyTimeoutMs;
}

bool ProgramSession::Launch() {
    if (Launched) return Process.Pid() != 0;
    Launched = true;
    Process.RelayStderrAs(Counts.GunName);
    if (!Process.Start(Command, Stderr, LaunchError, How)) {
        if (Process.SandboxRefused()) throw SandboxRefused(Counts.GunName + " contestant: " + LaunchError);
        return false;
    }
    if (!Process.Contained()) Counts.NotContained = Process.ContainmentNote();
    Counts.Sandbox = Process.SandboxNote();
    return true;
}

bool ProgramSession::Start() {
    if (Counts.Out) return false;
    // Put out here, not in Launch: the notice and the protocol log's line come when the run starts.
    if (!Launch()) {
        GoOut("could not be started (" + LaunchError + ")");
        return false;
    }
    const std::size_t Length = FormatGreeting(Request, Counts.GunName, Protocol);
    if (Length == 0) {
        GoOut("its gun's name does not fit in a line");
        return false;
    }
    ReadyDeadline = ReadyLimitMs() == 0 ? ContestantProcess::NoDeadline
                                        : ContestantProcess::NowNs() + ReadyLimitMs() * NsPerMs;
    // A program that already ended shows it on its output too; the read below tells how.
    if (Send({Request, Length}) == WriteOutcome::Full) {
        GoOut("did not take the greeting");
        return false;
    }
    AwaitingReady = true;
    return AwaitReady() || !Counts.Out;
}

bool ProgramSession::AwaitReady() {
    std::string_view Line;
    const ReadOutcome Outcome = Read(ReadyDeadline, Line);
    if (Outcome == ReadOutcome::Stopped) return false;
    AwaitingReady = false;
    switch (Outcome) {
    case ReadOutcome::Line:
        if (IsReadyLine(Line)) {
            LogReceived(Taken, Line);
            return true;
        }
        LogReceived(MarkRefused, Line);
        GoOut("answered the greeting with something other than \"ready\"");
        return false;
    case ReadOutcome::TooLong:
        GoOut("answered the greeting with an over-long line");
        return false;
    case ReadOutcome::TimedOut:
        GoOut("did not answer \"ready\" within " + std::to_string(ReadyLimitMs()) + " ms");
        return false;
    case ReadOutcome::Closed:
        GoOut("did not answer \"ready\": " + EndedReason());
        return false;
    case ReadOutcome::Stopped:
        break;
    }
    return false;
}

std::span<const ProgramOrder> ProgramSession::Miss() {
    if (++MissesInARow >= MissLimit) GoOut("no valid reply in time for " + std::to_string(MissLimit) + " moves in a row");
    return {};
}

std::span<const ProgramOrder> ProgramSession::Unanswered() {
    // Counted as unanswered (Summary derives it) until a late reply names it.
    NoLineFor[MoveNumber % NoLineFor.size()] = true;
    return Miss();
}

void ProgramSession::JudgeEarlier(std::uint64_t Named, std::string_view Line) {
    // The first line naming a move that ended without any line makes it late; any other line
    // naming a move already over (a repeat, one out of order, one for a refused move) decides nothing.
    bool& NoLine = NoLineFor[Named % NoLineFor.size()];
    if (Named > LastNamedMove && MoveNumber - Named < NoLineFor.size() && NoLine) {
        NoLine = false;
        ++Counts.Late;
        LogReceived(MarkLate, Line);
    } else {
        ++Counts.Ignored;
        LogReceived(MarkIgnored, Line);
    }
    if (Named > LastNamedMove) LastNamedMove = Named;
}

std::span<const ProgramOrder> ProgramSession::Move(const GunReport& Gun) {
    if (Counts.Out) {
        Process.PollStop();
        Counts.StderrDropped = Process.StderrDropped();
        return {};
    }
    // A stop is on its way: the program's answer no longer matters, and missing it is not its fault.
    if (StopSignalPending()) return {};
    // What an uncontained program orphans comes to the arena, to be reaped as it goes.
    if (!Process.Contained()) ContestantProcess::ReapOrphans();
    if (AwaitingReady && !AwaitReady()) return {};
    ++MoveNumber;
    ++Counts.Moves;
    NoLineFor[MoveNumber % NoLineFor.size()] = false;
    const std::int64_t Deadline = DeadlineAfterNs(BudgetNs);
    const std::size_t Length =
        Gun.Duel ? FormatDuelMove(Request, MoveNumber, Gun.Angle, Gun.X, Gun.Y, Gun.Rotating, *Gun.Duel)
                 : FormatMove(Request, MoveNumber, Gun.Angle, Gun.X, Gun.Y, Gun.Rotating);
    // What the program wrote before this request cannot be a reply to it.
    Process.NoteWaitingOutput();
    switch (Send({Request, Length})) {
    case WriteOutcome::Written:
        break;
    case WriteOutcome::Full:
        // It is not reading; waiting for a reply it cannot give would only spend the budget.
        return Unanswered();
    case WriteOutcome::Closed:
        // Its input is gone; whether the program ended shows on its output, read below.
        break;
    }

    for (;;) {
        std::string_view Line;
        switch (Read(Deadline, Line)) {
        case ReadOutcome::TimedOut:
            return Unanswered();
        case ReadOutcome::TooLong:
            ++Counts.Malformed;
            return Miss();
        case ReadOutcome::Closed:
            GoOut(EndedReason());
            return {};
        case ReadOutcome::Stopped:
            // Not held against the program: no miss, though the move stays unanswered.
            return {};
        case ReadOutcome::Line:
            break;
        }
        Reply = ParseReply(Line, MoveNumber);
        switch (Reply.Verdict) {
        case ReplyVerdict::Valid:
            LastNamedMove = MoveNumber;
            if (Process.LastLineWasWaiting()) {
                // Written before the move was asked: a guess, not an answer.
                ++Counts.Ahead;
                LogReceived(MarkAhead, Line);
                return Miss();
            }
            ++Counts.InTime;
            LogReceived(Taken, Line);
            MissesInARow = 0;
            return Reply.OrderList();
        case ReplyVerdict::Earlier:
            // Dropped, and the wait for this move goes on.
            JudgeEarlier(Reply.Move, Line);
            continue;
        case ReplyVerdict::Later:
        case ReplyVerdict::Malformed:
        case ReplyVerdict::OutOfRange:
            ++Counts.Malformed;
            LogReceived(MarkRefused, Line);
            return Miss();
        }
    }
}

void ProgramSession::Stop() {
    Process.Stop();
    Counts.StderrDropped = Process.StderrDropped();
}

void ProgramSession::BeginStop() {
    if (Log && !QuitLogged && Process.Pid() != 0) {
        QuitLogged = true;
        LogLine(">", "quit");
    }
    Process.BeginStop();
}

void ProgramSession::LogLine(std::string_view Direction, std::string_view Text) {
    if (!Log) return;
    Log->Write(MoveNumber, Counts.GunName, Direction, Text, Direction == ">" ? 0 : ContestantProcess::NowNs() - SentNs);
}

void ProgramSession::LogReceived(std::string_view Mark, std::string_view Line) {
    // Logged once judged, with the time it was read.
    if (Log) Log->Write(MoveNumber, Counts.GunName, Mark, Line, ReceivedNs - SentNs);
}

WriteOutcome ProgramSession::Send(std::string_view Text) {
    if (!Log) return Process.WriteLine(Text);
    SentNs = ContestantProcess::NowNs();
    const WriteOutcome Outcome = Process.WriteLine(Text);
    if (Outcome == WriteOutcome::Written) {
        LogLine(">", Text);
    } else {
        const char* Why = Outcome == WriteOutcome::Full ? "its input is full" : "its input is closed";
        LogLine("!", "not sent, " + std::string(Why) + ": " + std::string(Text));
    }
    return Outcome;
}

ReadOutcome ProgramSession::Read(std::int64_t DeadlineNs, std::string_view& Line) {
    const ReadOutcome Outcome = Process.ReadLine(DeadlineNs, Line);
    if (!Log) return Outcome;
    switch (Outcome) {
    case ReadOutcome::Line:
        ReceivedNs = ContestantProcess::NowNs();
        break;
    case ReadOutcome::TooLong:
        LogLine("!", "an over-long line, refused");
        break;
    case ReadOutcome::TimedOut:
        LogLine("!", "no reply in time");
        break;
    case ReadOutcome::Closed:
        LogLine("!", "its output ended");
        break;
    case ReadOutcome::Stopped:
        break;
    }
    return Outcome;
}

std::string ProgramSession::SummaryLine() const {
    std::string Line = Counts.GunName + " contestant: " + std::to_string(Counts.Moves) + " moves, " +
                       std::to_string(Counts.InTime) + " replies in time, " + std::to_string(Counts.Late) +
                       " late, " + std::to_string(Counts.Malformed) + " malformed, " +
                       std::to_string(Counts.Ahead) + " ahead, " + std::to_string(Counts.Unanswered()) +
                       " unanswered, ";
    if (Counts.Out) {
        Line += "out at move " + std::to_string(Counts.OutMove) + " (" + Counts.OutReason + ")";
    } else {
        Line += "not out";
    }
    if (Counts.StderrDropped > 0) {
        Line += ", " + std::to_string(Counts.StderrDropped) + " bytes of standard error dropped";
    }
    if (Counts.Ignored > 0) {
        Line += ", " + std::to_string(Counts.Ignored) + (Counts.Ignored == 1 ? " line" : " lines") + " ignored";
    }
    if (!Counts.NotContained.empty()) Line += ", not contained: " + Counts.NotContained;
    if (!Counts.Sandbox.empty()) Line += ", " + Counts.Sandbox;
    return Line;
}

clsProgram::clsProgram(std::string Command, std::int32_t MoveBudgetMs, std::string GunName,
                       std::ostream& Diagnostics, ChildStderr Stderr)
    : Session(std::move(Command), MoveBudgetMs, std::move(GunName), Diagnostics, Stderr) {}

void clsProgram::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    Actions = NewActions;
    // A filled foe list means duel rules, which speak protocol 2.
    if (!NewEnemies.empty()) {
        Foe = NewEnemies.front();
        Session.UseProtocol(DuelProtocolVersion);
    }
    Session.Start();
}

void clsProgram::Update() {
    if (Session.IsOut()) {
        Session.Move({});  // only moves the stop sequence on
        return;
    }
    GunReport Gun;
    Gun.Angle = Actions->Angle();
    Gun.X = Actions->X();
    Gun.Y = Actions->Y();
    Gun.Rotating = Actions->Rotating();
    DuelMoveFields Duel;
    if (Foe) {
        Duel = {Actions->Health(), Actions->ReloadLeft(), Foe->Distance(), Foe->Friendly(), Foe->Health(),
                Foe->InSight(), Foe->SeenBefore(), Foe->Strength(), Foe->WatchingAt()};
        Gun.Duel = &Duel;
    }
    for (const ProgramOrder& Order : Session.Move(Gun)) {
        if (Order.What == ProgramOrder::Kind::Rotate) {
            Actions->Rotate(Order.Angle);
        } else {
            Actions->Shoot();
        }
    }
}

}  // namespace brakkenfel
