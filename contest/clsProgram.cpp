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
// "closed its output" are told apart reliably; the move's own deadline caps it.
constexpr std::int64_t ExitGraceNs = 100 * NsPerMs;

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
    LogLine('!', "out: " + Counts.OutReason);
    // The rest of the stop sequence moves on with later moves, never holding up this one.
    BeginStop();
}

std::string ProgramSession::EndedReason(std::int64_t DeadlineNs) {
    const std::int64_t Grace = ContestantProcess::NowNs() + ExitGraceNs;
    const std::int64_t Until = DeadlineNs == ContestantProcess::NoDeadline || Grace < DeadlineNs ? Grace : DeadlineNs;
    if (Process.WaitForExit(Until)) return Process.ExitDescription();
    return "closed its output";
}

bool ProgramSession::Start() {
    if (Counts.Out) return false;
    std::string Error;
    Process.RelayStderrAs(Counts.GunName);
    if (!Process.Start(Command, Stderr, Error, How)) {
        GoOut("could not be started (" + Error + ")");
        return false;
    }
    if (!Process.Contained()) Counts.NotContained = Process.ContainmentNote();
    const std::size_t Length = FormatGreeting(Request, Counts.GunName);
    if (Length == 0) {
        GoOut("its gun's name does not fit in a line");
        return false;
    }
    ReadyDeadline = DeadlineAfterNs(ReadyTimeoutMs * NsPerMs);
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
        if (IsReadyLine(Line)) return true;
        GoOut("answered the greeting with something other than \"ready\"");
        return false;
    case ReadOutcome::TooLong:
        GoOut("answered the greeting with an over-long line");
        return false;
    case ReadOutcome::TimedOut:
        GoOut("did not answer \"ready\" within " + std::to_string(ReadyTimeoutMs) + " ms");
        return false;
    case ReadOutcome::Closed:
        GoOut("did not answer \"ready\": " + EndedReason(ReadyDeadline));
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
    const std::int64_t Deadline = DeadlineAfterNs(BudgetNs);
    const std::size_t Length = FormatMove(Request, MoveNumber, Gun.Angle, Gun.X, Gun.Y, Gun.Rotating);
    switch (Send({Request, Length})) {
    case WriteOutcome::Written:
        break;
    case WriteOutcome::Full:
        // It is not reading; waiting for a reply it cannot give would only spend the budget.
        return Miss();
    case WriteOutcome::Closed:
        // Its input is gone; whether the program ended shows on its output, read below.
        break;
    }

    for (;;) {
        std::string_view Line;
        switch (Read(Deadline, Line)) {
        case ReadOutcome::TimedOut:
            return Miss();
        case ReadOutcome::TooLong:
            ++Counts.Malformed;
            return Miss();
        case ReadOutcome::Closed:
            GoOut(EndedReason(Deadline));
            return {};
        case ReadOutcome::Stopped:
            return {};
        case ReadOutcome::Line:
            break;
        }
        Reply = ParseReply(Line, MoveNumber);
        switch (Reply.Verdict) {
        case ReplyVerdict::Valid:
            ++Counts.InTime;
            LastNamedMove = MoveNumber;
            MissesInARow = 0;
            return Reply.OrderList();
        case ReplyVerdict::Earlier:
            // A reply to a move already over is dropped and the wait for this move goes on; the
            // first one for each move counts as late, any repeat as a refused line.
            if (Reply.Move > LastNamedMove) {
                ++Counts.Late;
                LastNamedMove = Reply.Move;
            } else {
                ++Counts.Malformed;
            }
            continue;
        case ReplyVerdict::Later:
        case ReplyVerdict::Malformed:
        case ReplyVerdict::OutOfRange:
            ++Counts.Malformed;
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
        LogLine('>', "quit");
    }
    Process.BeginStop();
}

void ProgramSession::LogLine(char Direction, std::string_view Text) {
    if (!Log) return;
    Log->Write(MoveNumber, Counts.GunName, Direction, Text, Direction == '>' ? 0 : ContestantProcess::NowNs() - SentNs);
}

WriteOutcome ProgramSession::Send(std::string_view Text) {
    if (!Log) return Process.WriteLine(Text);
    SentNs = ContestantProcess::NowNs();
    const WriteOutcome Outcome = Process.WriteLine(Text);
    if (Outcome == WriteOutcome::Written) {
        LogLine('>', Text);
    } else {
        const char* Why = Outcome == WriteOutcome::Full ? "its input is full" : "its input is closed";
        LogLine('!', "not sent, " + std::string(Why) + ": " + std::string(Text));
    }
    return Outcome;
}

ReadOutcome ProgramSession::Read(std::int64_t DeadlineNs, std::string_view& Line) {
    const ReadOutcome Outcome = Process.ReadLine(DeadlineNs, Line);
    if (!Log) return Outcome;
    switch (Outcome) {
    case ReadOutcome::Line:
        LogLine('<', Line);
        break;
    case ReadOutcome::TooLong:
        LogLine('!', "an over-long line, skipped");
        break;
    case ReadOutcome::TimedOut:
        LogLine('!', "no reply in time");
        break;
    case ReadOutcome::Closed:
        LogLine('!', "its output ended");
        break;
    case ReadOutcome::Stopped:
        break;
    }
    return Outcome;
}

std::string ProgramSession::SummaryLine() const {
    std::string Line = Counts.GunName + " contestant: " + std::to_string(Counts.Moves) + " moves, " +
                       std::to_string(Counts.InTime) + " replies in time, " + std::to_string(Counts.Late) +
                       " late, " + std::to_string(Counts.Malformed) + " malformed, ";
    if (Counts.Out) {
        Line += "out at move " + std::to_string(Counts.OutMove) + " (" + Counts.OutReason + ")";
    } else {
        Line += "not out";
    }
    if (Counts.StderrDropped > 0) {
        Line += ", " + std::to_string(Counts.StderrDropped) + " bytes of standard error dropped";
    }
    if (!Counts.NotContained.empty()) Line += ", not contained: " + Counts.NotContained;
    return Line;
}

clsProgram::clsProgram(std::string Command, std::int32_t MoveBudgetMs, std::string GunName,
                       std::ostream& Diagnostics, ChildStderr Stderr)
    : Session(std::move(Command), MoveBudgetMs, std::move(GunName), Diagnostics, Stderr) {}

void clsProgram::Initialize(std::shared_ptr<SpriteActions>& NewActions, SpriteEnemyList& NewEnemies) {
    (void)NewEnemies;
    Actions = NewActions;
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
    for (const ProgramOrder& Order : Session.Move(Gun)) {
        if (Order.What == ProgramOrder::Kind::Rotate) {
            Actions->Rotate(Order.Angle);
        } else {
            Actions->Shoot();
        }
    }
}

}  // namespace brakkenfel
