// Contestants that are outside programs: the conversation, its failures, and that no process is left.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "app/Contestants.h"
#include "platform/ContestantProcess.h"
#include "contest/ProtocolLog.h"
#include "contest/clsProgram.h"
#include "platform/StopSignals.h"

namespace brakkenfel {
namespace {

/// True when the test process has no child at all, running or zombie.
bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

/// True when no live process is left in process group `Group` (killed members may await init).
bool NoLiveMemberOf(pid_t Group) {
    for (const auto& Entry : std::filesystem::directory_iterator("/proc")) {
        const std::string Name = Entry.path().filename();
        if (Name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream Stat(Entry.path() / "stat");
        std::string Line;
        if (!std::getline(Stat, Line)) continue;
        // Fields after the command's closing parenthesis: state, ppid, pgrp.
        std::istringstream Fields(Line.substr(Line.rfind(')') + 2));
        char State = 0;
        pid_t Parent = 0, ProcessGroup = 0;
        Fields >> State >> Parent >> ProcessGroup;
        if (ProcessGroup == Group && State != 'Z' && State != 'X') return false;
    }
    return true;
}

/// True when no live process has `Marker` in its command line.
bool NoProcessNaming(const std::string& Marker) {
    for (const auto& Entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream File(Entry.path() / "cmdline", std::ios::binary);
        const std::string CommandLine((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
        if (CommandLine.find(Marker) != std::string::npos) return false;
    }
    return true;
}

/// Puts back, when it goes, the handlers InstallStopSignals replaces: the tests share one process,
/// and a later one may rely on a default (SIGPIPE's killing, say).
class StopSignalsInstalled {
public:
    StopSignalsInstalled() {
        for (std::size_t I = 0; I < std::size(Numbers); ++I) sigaction(Numbers[I], nullptr, &Saved[I]);
        InstallStopSignals();
    }
    ~StopSignalsInstalled() {
        for (std::size_t I = 0; I < std::size(Numbers); ++I) sigaction(Numbers[I], &Saved[I], nullptr);
    }
    StopSignalsInstalled(const StopSignalsInstalled&) = delete;
    StopSignalsInstalled& operator=(const StopSignalsInstalled&) = delete;

private:
    static constexpr int Numbers[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    struct sigaction Saved[std::size(Numbers)] {};
};

/// Each test leaves no child process behind.
class ProgramContestantTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(NoChildLeft()); }
    std::ostringstream Diagnostics;
};

struct GreetingCase {
    const char* Name;
    const char* Command;
    const char* Reason;
    std::int32_t Budget = 5;
    std::int32_t ReadyMs = -1;  // the default
};

class GreetingFailure : public ProgramContestantTest, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(GreetingFailure, PutsTheProgramOutBeforeItsFirstMove) {
    {
        ProgramSession Session(GetParam().Command, GetParam().Budget, "Helicopter", Diagnostics, ChildStderr::Discard);
        if (GetParam().ReadyMs >= 0) Session.SetReadyTime(GetParam().ReadyMs);
        EXPECT_FALSE(Session.Start());
        EXPECT_TRUE(Session.IsOut());
        EXPECT_EQ(Session.Summary().OutMove, 0u);
        EXPECT_EQ(Session.Summary().OutReason, GetParam().Reason);
        EXPECT_TRUE(Session.Move({0, 0, 0, false}).empty());
        EXPECT_EQ(Session.Summary().Moves, 0u);
    }
    EXPECT_EQ(Diagnostics.str(), "Helicopter contestant is out at move 0: " + std::string(GetParam().Reason) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Greeting, GreetingFailure,
    ::testing::Values(
        GreetingCase{"Exits", "exit 3", "did not answer \"ready\": exited with status 3"},
        GreetingCase{"IsMissing", "/nonexistent/contestant", "did not answer \"ready\": exited with status 127"},
        GreetingCase{"SaysSomethingElse", "echo hello; cat >/dev/null",
                     "answered the greeting with something other than \"ready\""},
        GreetingCase{"ClosesItsOutput", "exec >&-; sleep 30", "did not answer \"ready\": closed its output"},
        GreetingCase{"StaysSilent", "sleep 30", "did not answer \"ready\" within 1000 ms"},
        // The ready time is its own, and holds even when the moves wait without limit.
        GreetingCase{"StaysSilentPastItsReadyTime", "sleep 30", "did not answer \"ready\" within 50 ms", 0, 50},
        GreetingCase{"FloodsTheFirstLine", "head -c 100000 /dev/zero; sleep 30",
                     "answered the greeting with an over-long line"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ProgramContestantTest, AProgramLaunchedAheadIsPutOutOnlyWhenGreetedIfItCouldNotStart) {
    ProgramSession Failing("read g; echo ready; cat", 0, "Cannon", Diagnostics);
    SandboxSettings Settings;
    Settings.WriteDir = "/nonexistent/folder";
    Failing.UseSandbox(Settings);
    EXPECT_FALSE(Failing.Launch());
    // The notice waits for the greeting, where an unlaunched program's would come.
    EXPECT_FALSE(Failing.IsOut());
    EXPECT_EQ(Diagnostics.str(), "");
    EXPECT_FALSE(Failing.Start());
    EXPECT_EQ(Failing.Summary().OutReason,
              "could not be started (--contestant-write /nonexistent/folder: not a folder (No such file or directory))");
    EXPECT_EQ(Diagnostics.str(), "Cannon contestant is out at move 0: " + Failing.Summary().OutReason + "\n");
}

TEST_F(ProgramContestantTest, TheRosterHandsOutEachProgramItStartedAheadOnce) {
    Options Chosen;
    std::string Why;
    ASSERT_TRUE(ContestantKind::Parse("exec:read g; echo ready; cat >/dev/null", Chosen.Cannon, Why)) << Why;
    ContestantRoster Roster(Chosen, Diagnostics);
    Roster.StartPrograms();
    const auto Started = std::dynamic_pointer_cast<clsProgram>(Roster.Make("Cannon"));
    ASSERT_TRUE(Started);
    EXPECT_NE(Started->ProcessId(), 0);  // running before its gun is set up
    const auto Later = std::dynamic_pointer_cast<clsProgram>(Roster.Make("Cannon"));
    ASSERT_TRUE(Later);
    EXPECT_EQ(Later->ProcessId(), 0);
    EXPECT_TRUE(std::dynamic_pointer_cast<clsProgram>(Roster.Make("Helicopter")) == nullptr);
    Roster.Release();
    EXPECT_EQ(Diagnostics.str(), "");
}

struct MissRunCase {
    const char* Name;
    const char* Command;
    std::int32_t Budget;
    std::uint64_t ValidAt;  // the one move answered validly; 0: none
    std::uint64_t OutAt;
};

class MissRun : public ProgramContestantTest, public ::testing::WithParamInterface<MissRunCase> {};

// Neither case depends on the machine's speed: refused lines are judged however late they come,
// with no budget to miss, and a program that never answers is late however fast the machine is.
TEST_P(MissRun, NinetyMovesInARowWithoutAValidReplyPutTheProgramOut) {
    ProgramSession Session(GetParam().Command, GetParam().Budget, "Cannon", Diagnostics);
    Session.SetReadyTime(0);
    ASSERT_TRUE(Session.Start());
    for (std::uint64_t Move = 1; Move <= GetParam().OutAt; ++Move) {
        const bool Out = Session.IsOut();
        const auto Given = Session.Move({});
        EXPECT_FALSE(Out) << "move " << Move;
        EXPECT_EQ(Given.size(), Move == GetParam().ValidAt ? 1u : 0u) << "move " << Move;
    }
    EXPECT_TRUE(Session.IsOut());
    EXPECT_EQ(Session.Summary().OutMove, GetParam().OutAt);
    EXPECT_EQ(Diagnostics.str(), "Cannon contestant is out at move " + std::to_string(GetParam().OutAt) +
                                     ": no valid reply in time for 90 moves in a row\n");
    EXPECT_TRUE(Session.Move({}).empty());
    EXPECT_EQ(Session.Summary().Moves, GetParam().OutAt);
}

INSTANTIATE_TEST_SUITE_P(
    Contestants, MissRun,
    ::testing::Values(
        // 89 refused lines, a valid reply, then 90 more: the valid reply starts the count again.
        MissRunCase{"RefusedLinesAroundOneValidReply",
                    "read g; echo ready; while read w n rest; do [ $n = 90 ] && echo 90 shoot || echo nonsense; done",
                    0, 90, 180},
        // Silence: every move ends at its deadline.
        MissRunCase{"Silence", "read g; echo ready; while read line; do :; done", 1, 0, 90}),
    [](const auto& Info) { return std::string(Info.param.Name); });

/// Every move counted once: in time, late, malformed, ahead or unanswered.
void ExpectAddsUp(const ProgramSummary& Counts) {
    EXPECT_EQ(Counts.InTime + Counts.Late + Counts.Malformed + Counts.Ahead + Counts.Unanswered(), Counts.Moves);
    EXPECT_LE(Counts.Unanswered(), Counts.Moves);  // unsigned: a double count would wrap
}

struct AccountCase {
    const char* Name;
    const char* Command;
    std::uint64_t InTime, Late, Malformed, Ahead, Unanswered, Ignored;
    std::uint64_t OutMove;  // 0: not out
    const char* Marks;      // the protocol log's direction of the first 12 lines received, "ready" first
};

class Accounts : public ProgramContestantTest, public ::testing::WithParamInterface<AccountCase> {};

TEST_P(Accounts, CountEveryMoveOnceAndMarkEveryLine) {
    const auto LogPath = std::filesystem::temp_directory_path() / ("brakkenfel-accounts-" + std::to_string(getpid()));
    {
        ProtocolLog Log(LogPath.string());
        ProgramSession Session(GetParam().Command, 0, "Cannon", Diagnostics, ChildStderr::Discard);
        Session.SetProtocolLog(&Log);
        ASSERT_TRUE(Session.Start());
        for (int Move = 1; Move <= 100 && !Session.IsOut(); ++Move) Session.Move({});
        Session.Stop();
        Log.Finish();
        const ProgramSummary& Counts = Session.Summary();
        EXPECT_EQ(std::tuple(Counts.InTime, Counts.Late, Counts.Malformed, Counts.Ahead, Counts.Unanswered(), Counts.Ignored),
                  std::tuple(GetParam().InTime, GetParam().Late, GetParam().Malformed, GetParam().Ahead,
                             GetParam().Unanswered, GetParam().Ignored));
        EXPECT_EQ(Counts.Out ? Counts.OutMove : 0u, GetParam().OutMove) << Counts.OutReason;
        ExpectAddsUp(Counts);
    }
    std::ifstream File(LogPath);
    std::string Line, Marks;
    int Received = 0;
    while (std::getline(File, Line)) {
        std::istringstream Fields(Line);
        std::string Move, Gun, Direction;
        Fields >> Move >> Gun >> Direction;
        if (Direction.starts_with("<") && ++Received <= 12) Marks += (Marks.empty() ? "" : " ") + Direction;
    }
    std::filesystem::remove(LogPath);
    EXPECT_EQ(Marks, GetParam().Marks);
}

// Replies to moves 1 to 100, with some moves' lines replaced.
constexpr const char* Refusals =
    "read g; echo ready; while read w n rest; do case $n in "
    "2) echo '2  shoot';; 3) echo 1; echo 3;; 4) echo '4 rotate 300';; 5) echo '9 shoot';; 6) echo 5; echo 6;; "
    "*) echo $n;; esac; done";
// Everything written at once right after "ready", in one write, before any move is asked.
constexpr const char* WritesAhead =
    "exec python3 -c 'import os, sys, time; sys.stdin.readline(); "
    "os.write(1, b\"ready\\n\" + b\"\".join(b\"%d shoot\\n\" % i for i in range(1, 201))); time.sleep(30)'";

INSTANTIATE_TEST_SUITE_P(
    Contestants, Accounts,
    ::testing::Values(
        AccountCase{"RefusedAndRepeatedLines", Refusals, 97, 0, 3, 0, 0, 2, 0,
                    "< < <refused <ignored < <refused <refused <ignored < < < <"},
        AccountCase{"ExitsWhileAsked", "read g; echo ready; for n in 1 2 3 4; do read m; echo $n; done; read m; exit 3",
                    4, 0, 0, 0, 1, 0, 5, "< < < < <"},
        AccountCase{"WritesAhead", WritesAhead, 0, 0, 0, 90, 0, 0, 90,
                    "< <ahead <ahead <ahead <ahead <ahead <ahead <ahead <ahead <ahead <ahead <ahead"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct EndCase {
    const char* Name;
    Containment How;
    std::int32_t Budget;
    const char* Command;
};

class ProgramEnd : public ProgramContestantTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ProgramEnd, IsToldByItsExitStatus) {
    ProgramSession Session(GetParam().Command, GetParam().Budget, "Cannon", Diagnostics, ChildStderr::Discard,
                           GetParam().How);
    ASSERT_TRUE(Session.Start());
    for (int Move = 1; Move <= 200 && !Session.IsOut(); ++Move) Session.Move({});
    EXPECT_EQ(Session.Summary().OutReason, "exited with status 3");
    EXPECT_EQ(Session.Summary().InTime, 0u);
    ExpectAddsUp(Session.Summary());
}

// Without a PID namespace what a program leaves behind may hold its output open after it has
// ended; the arena's own child is what counts. The late "1" would pass as a reply if it were taken.
constexpr const char* LeavesAHolder = "read g; echo ready; read m; (sleep 2; echo 1) & exit 3";

INSTANTIATE_TEST_SUITE_P(
    Contestants, ProgramEnd,
    ::testing::Values(EndCase{"HolderWithoutBudget", Containment::ProcessGroup, 0, LeavesAHolder},
                      EndCase{"HolderWithBudget", Containment::ProcessGroup, 5, LeavesAHolder},
                      // Its output closes a moment before it exits, past the move's budget.
                      EndCase{"ExitJustAfterItsOutputCloses", Containment::Best, 5,
                              "read g; echo ready; read m; exec >&-; sleep 0.03; exit 3"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ProgramContestantTest, AGroupIsEndedEvenWhenItsLeaderHasAlreadyExited) {
    ContestantProcess Process;
    std::string Error;
    ASSERT_TRUE(Process.Start("(trap '' TERM; sleep 30) & echo ready; exit 4", ChildStderr::Discard, Error)) << Error;
    const pid_t Group = Process.Pid();
    std::string_view Line;
    ASSERT_EQ(Process.ReadLine(ContestantProcess::NoDeadline, Line), ReadOutcome::Line);
    Process.Stop();
    EXPECT_EQ(Process.ExitDescription(), "exited with status 4");
    EXPECT_TRUE(NoLiveMemberOf(Group));
}

struct EscapeCase {
    const char* Name;
    Containment How;
    // {} stands for a marker that every process of the case carries in its command line.
    const char* Command;
};

class Escape : public ProgramContestantTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(Escape, NothingOutlivesTheStopAndNoWaitHangs) {
    const std::string Marker = "brakkenfel-escape-" + std::to_string(std::random_device{}());
    std::string Command = GetParam().Command;
    for (std::size_t At; (At = Command.find("{}")) != std::string::npos;) Command.replace(At, 2, Marker);
    ContestantProcess Process;
    std::string Error;
    if (GetParam().How == Containment::UserNamespace) {
        // The kernel refuses user namespaces in a chroot or where they are switched off; the fallback
        // could not hold this escape, so find out with a program that escapes nothing.
        ContestantProcess Probe;
        ASSERT_TRUE(Probe.Start("exit 0", ChildStderr::Discard, Error, Containment::UserNamespace)) << Error;
        Probe.Stop();
        if (!Probe.Contained()) GTEST_SKIP() << "no user namespace here: " << Probe.ContainmentNote();
    }
    ASSERT_TRUE(Process.Start(Command, ChildStderr::Discard, Error, GetParam().How)) << Error;
    EXPECT_EQ(Process.Contained(), GetParam().How != Containment::ProcessGroup);
    std::string_view Line;
    ASSERT_EQ(Process.ReadLine(ContestantProcess::NowNs() + 10'000'000'000, Line), ReadOutcome::Line);
    Process.Stop();
    EXPECT_TRUE(NoProcessNaming(Marker));
}

// Each ignores SIGTERM. Without a namespace only the group is there to hold a program, so only
// the escape that the group can still stop (the leader moving out of it) is asked of it.
constexpr const char* JoinsTheArenasGroup =
    "exec python3 -c 'import os, signal, time; signal.signal(signal.SIGTERM, signal.SIG_IGN); "
    "os.setpgid(0, os.getpgid(os.getppid())); print(\"ready\", flush=True); time.sleep(300)' {}";
constexpr const char* NewSession = "setsid sh -c 'trap \"\" TERM HUP; sleep 300; :' {} & echo ready; sh -c 'sleep 300; :' {}";
constexpr const char* DoubleFork = "(sh -c 'trap \"\" TERM; sleep 300; :' {} &); echo ready; exec sleep 300";

INSTANTIATE_TEST_SUITE_P(
    Contestants, Escape,
    ::testing::Values(EscapeCase{"JoinsTheArenasGroup", Containment::Best, JoinsTheArenasGroup},
                      EscapeCase{"NewSession", Containment::Best, NewSession},
                      EscapeCase{"DoubleFork", Containment::Best, DoubleFork},
                      EscapeCase{"NewSessionUserNamespace", Containment::UserNamespace, NewSession},
                      EscapeCase{"JoinsTheArenasGroupNoNamespace", Containment::ProcessGroup, JoinsTheArenasGroup}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ProgramContestantTest, AStopSignalEndsAWaitWithoutLimitThroughNoFaultOfTheProgram) {
    const StopSignalsInstalled Signals;
    ProgramSession Session("sleep 300", 0, "Cannon", Diagnostics, ChildStderr::Discard);
    const pthread_t Waiter = pthread_self();
    // Whether it comes before or during the wait for "ready", the wait must end.
    std::thread Signaller([Waiter] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(Waiter, SIGTERM);
    });
    EXPECT_TRUE(Session.Start());
    Signaller.join();
    EXPECT_FALSE(Session.IsOut());
    EXPECT_TRUE(Session.Move({}).empty());
    EXPECT_EQ(Session.Summary().Moves, 0u);
    EXPECT_TRUE(TakeStopSignal());
    Session.Stop();
    EXPECT_EQ(Diagnostics.str(), "");
}

TEST_F(ProgramContestantTest, AProgramThatDoesNotReadNeverBlocksAWrite) {
    ContestantProcess Process;
    std::string Error;
    ASSERT_TRUE(Process.Start("sleep 30", ChildStderr::Discard, Error)) << Error;
    const std::string_view Request = "move 1 0 20 20 0\n";
    int Written = 0;
    while (Written < 1'000'000 && Process.WriteLine(Request) == WriteOutcome::Written) ++Written;
    EXPECT_LT(Written, 1'000'000);
    EXPECT_EQ(Process.WriteLine(Request), WriteOutcome::Full);
}

TEST_F(ProgramContestantTest, NothingIsReadOnceTheDeadlineHasPassedThoughOutputWaits) {
    // A program that writes without pause always has output ready; a passed deadline must still end the wait.
    ContestantProcess Process;
    std::string Error;
    ASSERT_TRUE(Process.Start("echo ready; sleep 0.2; echo late; sleep 30", ChildStderr::Discard, Error)) << Error;
    std::string_view Line;
    ASSERT_EQ(Process.ReadLine(ContestantProcess::NoDeadline, Line), ReadOutcome::Line);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(Process.ReadLine(ContestantProcess::NowNs() - 1, Line), ReadOutcome::TimedOut);
    ASSERT_EQ(Process.ReadLine(ContestantProcess::NowNs() + 1'000'000'000, Line), ReadOutcome::Line);
    EXPECT_EQ(Line, "late");
}

TEST_F(ProgramContestantTest, WritingToAProgramThatHasEndedIsReportedNotFatal) {
    struct sigaction Current {};
    sigaction(SIGPIPE, nullptr, &Current);
    ASSERT_EQ(Current.sa_handler, SIG_DFL);  // so that a stray SIGPIPE would end this test
    ContestantProcess Process;
    std::string Error;
    ASSERT_TRUE(Process.Start("exit 0", ChildStderr::Discard, Error)) << Error;
    ASSERT_TRUE(Process.WaitForExit(ContestantProcess::NoDeadline));
    EXPECT_EQ(Process.WriteLine("move 1 0 0 0 0\n"), WriteOutcome::Closed);
    sigset_t Pending;
    sigpending(&Pending);
    EXPECT_FALSE(sigismember(&Pending, SIGPIPE));
}

}  // namespace
}  // namespace brakkenfel
