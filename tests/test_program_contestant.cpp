// Contestants that are outside programs: the conversation, its failures, and that no process is left.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "contest/ContestantProcess.h"
#include "contest/clsProgram.h"

namespace brakkenfel {
namespace {

using Kind = ProgramOrder::Kind;

/// A contestant in Python driven by a table of what to do on each move (the rest shoot). Entries: a
/// reply ({n} stands for the move number), "silent", "exit", "close" (closes its output and lingers),
/// or (seconds, reply) to sleep before replying. Every line it receives goes to the log file.
constexpr const char* ScriptedContestant = R"(import os, sys, time
log = open(sys.argv[1], "w")
for line in sys.stdin:
    log.write(line)
    log.flush()
    words = line.split()
    if words[0] != "move":
        if words[0] != "brakkenfel": break
        print("ready", flush=True)
        continue
    act = (%ACTIONS%).get(int(words[1]), "{n} shoot")
    if act == "exit": sys.exit(0)
    if act == "close":
        os.close(1)
        time.sleep(30)
    if act in ("close", "silent"): continue
    if isinstance(act, tuple):
        time.sleep(act[0])
        act = act[1]
    print(act.replace("{n}", words[1]), flush=True)
)";

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

std::vector<ProgramOrder> Orders(std::span<const ProgramOrder> Given) { return {Given.begin(), Given.end()}; }

const ProgramOrder Shoot{Kind::Shoot, 0};
ProgramOrder Rotate(std::uint8_t Angle) { return {Kind::Rotate, Angle}; }

/// Each test has a folder of its own for its contestant's files, and leaves no child process behind.
class ProgramContestantTest : public ::testing::Test {
protected:
    ProgramContestantTest() {
        char Pattern[] = "/tmp/brakkenfel-contestant-XXXXXX";
        Folder = mkdtemp(Pattern);
    }
    ~ProgramContestantTest() override { std::filesystem::remove_all(Folder); }
    void TearDown() override { EXPECT_TRUE(NoChildLeft()); }

    /// Writes a scripted contestant; returns the command that runs it.
    std::string Scripted(const std::string& Actions) {
        std::string Script = ScriptedContestant;
        Script.replace(Script.find("%ACTIONS%"), 9, Actions);
        std::ofstream(Folder + "/bot.py") << Script;
        return "exec python3 " + Folder + "/bot.py " + Folder + "/log.txt";
    }
    /// Every line the scripted contestant received.
    std::string Log() const {
        std::ifstream In(Folder + "/log.txt");
        return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    }

    std::string Folder;
    std::ostringstream Diagnostics;
};

TEST_F(ProgramContestantTest, AnInTimeReplyIsCarriedOutAndEveryLineIsAsAgreed) {
    pid_t Group = 0;
    {
        ProgramSession Session(Scripted(R"({1: "1 rotate 145 shoot", 2: "2", 3: "3 shoot shoot rotate 0"})"),
                               0, "Cannon", Diagnostics);
        ASSERT_TRUE(Session.Start());
        Group = Session.ProcessId();
        EXPECT_EQ(Orders(Session.Move({144, 20, 20, false})), (std::vector<ProgramOrder>{Rotate(145), Shoot}));
        EXPECT_EQ(Orders(Session.Move({145, 20, -3, true})), std::vector<ProgramOrder>{});
        EXPECT_EQ(Orders(Session.Move({0, 373, 285, false})),
                  (std::vector<ProgramOrder>{Shoot, Shoot, Rotate(0)}));
        const ProgramSummary& Summary = Session.Summary();
        EXPECT_EQ(Summary.Moves, 3u);
        EXPECT_EQ(Summary.InTime, 3u);
        EXPECT_EQ(Summary.Late + Summary.Malformed, 0u);
        EXPECT_FALSE(Summary.Out);
        EXPECT_EQ(Session.SummaryLine(),
                  "Cannon contestant: 3 moves, 3 replies in time, 0 late, 0 malformed, not out");
    }
    EXPECT_EQ(Log(),
              "brakkenfel 1 Cannon\nmove 1 144 20 20 0\nmove 2 145 20 -3 1\nmove 3 0 373 285 0\nquit\n");
    EXPECT_TRUE(Diagnostics.str().empty());
    EXPECT_TRUE(NoLiveMemberOf(Group));
}

struct GreetingCase {
    const char* Name;
    const char* Command;
    const char* Reason;
};

class GreetingFailure : public ProgramContestantTest, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(GreetingFailure, PutsTheProgramOutBeforeItsFirstMove) {
    {
        ProgramSession Session(GetParam().Command, 5, "Helicopter", Diagnostics, ChildStderr::Discard);
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
        GreetingCase{"FloodsTheFirstLine", "head -c 100000 /dev/zero; sleep 30",
                     "answered the greeting with an over-long line"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ProgramContestantTest, ALateReplyIsDiscardedWhenItArrivesAndTheCurrentMoveStillGetsItsOwn) {
    ProgramSession Session(Scripted(R"({1: (0.5, "1 rotate 9")})"), 100, "Cannon", Diagnostics);
    ASSERT_TRUE(Session.Start());
    EXPECT_TRUE(Session.Move({}).empty());
    // Give the late reply time to arrive before the next move is asked for.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(Orders(Session.Move({})), std::vector<ProgramOrder>{Shoot});
    EXPECT_EQ(Session.Summary().Late, 1u);
    EXPECT_EQ(Session.Summary().InTime, 1u);
    EXPECT_EQ(Session.Summary().Malformed, 0u);
}

TEST_F(ProgramContestantTest, NinetyMovesInARowWithoutAValidReplyPutTheProgramOut) {
    // 89 misses, a valid reply, then silence: out on the 90th miss after the valid reply.
    ProgramSession Session(Scripted("dict.fromkeys(range(1, 999), 'silent') | {90: '90 shoot'}"), 20,
                           "Cannon", Diagnostics);
    ASSERT_TRUE(Session.Start());
    for (int Move = 1; Move <= 180; ++Move) {
        const bool Out = Session.IsOut();
        const auto Given = Session.Move({});
        EXPECT_FALSE(Out) << "move " << Move;
        EXPECT_EQ(Given.size(), Move == 90 ? 1u : 0u) << "move " << Move;
    }
    EXPECT_TRUE(Session.IsOut());
    EXPECT_EQ(Session.Summary().OutMove, 180u);
    EXPECT_EQ(Diagnostics.str(), "Cannon contestant is out at move 180: no valid reply in time for 90 moves in a row\n");
    EXPECT_TRUE(Session.Move({}).empty());
    EXPECT_EQ(Session.Summary().Moves, 180u);
}

struct EndingCase {
    const char* Name;
    const char* Actions;
    std::int32_t BudgetMs;
    std::uint64_t OutMove;
    const char* Reason;
};

class EndingProgram : public ProgramContestantTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndingProgram, IsOutAtTheMoveItEndedAndTheRunGoesOn) {
    pid_t Group = 0;
    {
        ProgramSession Session(Scripted(GetParam().Actions), GetParam().BudgetMs, "Cannon", Diagnostics);
        ASSERT_TRUE(Session.Start());
        Group = Session.ProcessId();
        for (std::uint64_t Move = 1; Move < GetParam().OutMove; ++Move) {
            ASSERT_EQ(Orders(Session.Move({})), std::vector<ProgramOrder>{Shoot}) << "move " << Move;
        }
        EXPECT_TRUE(Session.Move({}).empty());
        EXPECT_TRUE(Session.IsOut());
        for (int Move = 0; Move < 10; ++Move) EXPECT_TRUE(Session.Move({}).empty());
        EXPECT_EQ(Session.Summary().OutMove, GetParam().OutMove);
        EXPECT_EQ(Session.Summary().InTime, GetParam().OutMove - 1);
    }
    EXPECT_EQ(Diagnostics.str(), "Cannon contestant is out at move " + std::to_string(GetParam().OutMove) + ": " +
                                     GetParam().Reason + "\n");
    EXPECT_TRUE(NoLiveMemberOf(Group));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, EndingProgram,
    ::testing::Values(EndingCase{"ExitsWithoutLimit", R"({50: "exit"})", 0, 50, "exited with status 0"},
                      EndingCase{"ExitsWithBudget", R"({50: "exit"})", 50, 50, "exited with status 0"},
                      EndingCase{"ClosesItsOutput", R"({3: "close"})", 0, 3, "closed its output"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct StopCase {
    const char* Name;
    const char* Command;
    const char* Ending;
};

class StoppingProgram : public ProgramContestantTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppingProgram, EndsWithTheFirstStepItHeedsAndLeavesNothingBehind) {
    ContestantProcess Process;
    std::string Error;
    ASSERT_TRUE(Process.Start(GetParam().Command, ChildStderr::Discard, Error)) << Error;
    const pid_t Group = Process.Pid();
    std::string_view Line;
    ASSERT_EQ(Process.ReadLine(ContestantProcess::NoDeadline, Line), ReadOutcome::Line);
    ASSERT_EQ(Line, "ready");  // its traps are set
    Process.Stop();
    EXPECT_EQ(Process.ExitDescription(), GetParam().Ending);
    EXPECT_TRUE(NoLiveMemberOf(Group));
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StoppingProgram,
    ::testing::Values(
        StopCase{"HeedsQuit", "echo ready; while read l; do [ \"$l\" = quit ] && exit 7; done; exit 1",
                 "exited with status 7"},
        StopCase{"HeedsTerm", "trap 'exit 5' TERM; echo ready; while :; do sleep 0.01; done",
                 "exited with status 5"},
        StopCase{"IgnoresTerm", "trap '' TERM; echo ready; while :; do sleep 1; done", "was killed by signal 9"},
        StopCase{"LeavesAChildBehind", "(trap '' TERM; sleep 30) & echo ready; exit 4", "exited with status 4"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

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
