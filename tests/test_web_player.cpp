// The web page's player, run natively: pacing by the page's clock, jumps, the end, pauses and refusals.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/Workbench.h"
#include "backends/web/WebPlayer.h"
#include "replay/MatchRecorder.h"
#include "replay/StateHash.h"
#include "score/Scoreboard.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

constexpr std::int64_t Recorded = 3000;

// What a native run ended with: its moves, state hash and each gun's health.
struct NativeEnd {
    std::int64_t Moves = 0;
    std::string StateHash;
    std::int32_t Health[2] = {0, 0};
};

// A match of two computer gunners, recorded by the program's own recorder, read back as bytes;
// under duel rules (`DuelHealth`) it may end early, when a gun is destroyed.
std::vector<char> RecordMatch(std::optional<std::int32_t> DuelHealth = {}, NativeEnd* End = nullptr) {
    const auto Path = std::filesystem::temp_directory_path() / ("web_player_" + std::to_string(getpid()) + ".txt");
    {
        MemoryHost Arena;
        Arena.Host.Seed = 5;
        Arena.Host.DuelHealth = DuelHealth;
        MatchHeader Header;
        Header.ProgramVersion = "test";
        Header.Seed = 5;
        Header.Duel = DuelHealth.has_value();
        Header.Health = DuelHealth.value_or(0);
        MatchRecorder Recorder(Path.string(), Header);
        SetUpContest(Arena.Host);
        for (std::int64_t Move = 0; Move < Recorded && QuitRequested == 0; ++Move) {
            RunMove();
            Recorder.AfterMove();
        }
        if (End) *End = {Score.Moves, "", {HealthOf(CannonIndex), HealthOf(HelicopterIndex)}};
        if (End) AppendHash(End->StateHash, StateHash());
        Recorder.Finish();
        TearDownContest();
    }
    std::ifstream File(Path, std::ios::binary);
    std::vector<char> Bytes{std::istreambuf_iterator<char>(File), {}};
    std::filesystem::remove(Path);
    return Bytes;
}

std::vector<std::uint8_t> Strip() {
    std::ifstream File(std::string(BRAKKENFEL_SOURCE_DIR) + "/assets/cannon.bmp", std::ios::binary);
    return {std::istreambuf_iterator<char>(File), {}};
}

const std::vector<char>& Match() {
    static const std::vector<char> Bytes = RecordMatch();
    return Bytes;
}

class WebPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Player.Open("match.txt", Match(), Strip())) << Player.Error(); }
    void TearDown() override { Player.Close(); }
    // Runs the page's timer loop for `Seconds` of page time, as the page's setTimeout would.
    void Play(double Seconds) {
        const std::int64_t End = Now + static_cast<std::int64_t>(Seconds * 1e6);
        while (Now < End) {
            const std::int64_t Wait = Player.Advance(Now);
            if (Wait < 0) return;
            Now += std::max<std::int64_t>(Wait, 1000);
        }
    }

    WebPlayer Player;
    std::int64_t Now = 5'000'000;
};

TEST_F(WebPlayerTest, PlaysNinetyMovesAndThirtyFramesPerSecondOfThePagesClock) {
    const std::uint32_t FramesBefore = Player.FramesShown();
    Play(10.0);
    EXPECT_NEAR(static_cast<double>(Player.Move()), 900.0, 3.0);
    // A frame found due within half a millisecond runs at once and restarts its grid from then:
    // with sleeps that never overrun, the frames gain up to that much each.
    EXPECT_GE(Player.FramesShown() - FramesBefore, 298u);
    EXPECT_LE(Player.FramesShown() - FramesBefore, 316u);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Playing);
    // The once-a-second caption replaced the window's first one.
    EXPECT_NE(Player.Caption(), "Brakkenfel");
}

TEST_F(WebPlayerTest, AJumpBackLandsWhereAStraightRunDoes) {
    Player.JumpTo(700);
    const std::string StateHash = Player.StateHashText(), FrameHash = Player.FrameHashText();
    ASSERT_EQ(Player.Move(), 700);
    Player.JumpTo(2500);
    EXPECT_EQ(Player.Move(), 2500);
    EXPECT_NE(Player.StateHashText(), StateHash);
    Player.JumpTo(700);
    EXPECT_EQ(Player.Move(), 700);
    EXPECT_EQ(Player.StateHashText(), StateHash);
    EXPECT_EQ(Player.FrameHashText(), FrameHash);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Playing);
}

TEST_F(WebPlayerTest, TheEndHoldsTheLastMoveUntilAJumpBack) {
    EXPECT_EQ(Player.TotalMoves(), Recorded);
    Player.JumpTo(Recorded + 100);
    EXPECT_EQ(Player.Move(), Recorded);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Ended);
    EXPECT_EQ(Player.Advance(Now), -1);
    Player.Command(WindowCommand::JumpBack);
    EXPECT_EQ(Player.Move(), Recorded - JumpLength);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Playing);
}

TEST_F(WebPlayerTest, PausedTheFramesGoOnAndTheMovesStandStill) {
    Player.JumpTo(40);
    Player.SetPaused(true);
    const std::uint32_t Frames = Player.FramesShown();
    Play(2.0);
    EXPECT_EQ(Player.Move(), 40);
    EXPECT_GT(Player.FramesShown(), Frames + 30);
    Player.Command(WindowCommand::Step);
    Play(0.1);
    EXPECT_EQ(Player.Move(), 41);
}

TEST(WebPlayerRefusals, ABadFileOrEditedHashIsNamedWithItsLineAndMove) {
    WebPlayer Player;
    const std::string Text = "not a match\n";
    EXPECT_FALSE(Player.Open("bad.txt", std::vector<char>(Text.begin(), Text.end()), Strip()));
    EXPECT_NE(Player.Error().find("bad.txt line 1"), std::string::npos) << Player.Error();

    std::string Edited(Match().begin(), Match().end());
    // Line 101 is move 100's: its hash's last digit changed.
    std::size_t At = 0;
    for (int Line = 0; Line < 100; ++Line) At = Edited.find('\n', At) + 1;
    const std::size_t LastDigit = Edited.find('\n', At) - 1;
    Edited[LastDigit] = Edited[LastDigit] == '0' ? '1' : '0';
    ASSERT_TRUE(Player.Open("edited.txt", std::vector<char>(Edited.begin(), Edited.end()), Strip()));
    Player.JumpTo(500);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Failed);
    EXPECT_EQ(Player.Move(), 100);
    EXPECT_NE(Player.Error().find("replay diverges at move 100"), std::string::npos) << Player.Error();
    Player.Close();
}

TEST(WebPlayerDuel, ADuelReplaysToTheNativeStateAndShowsEachGunsHealth) {
    // Health 2 lets the built-in gunners' match end early, on the move a gun is destroyed.
    NativeEnd Native;
    const std::vector<char> Duel = RecordMatch(2, &Native);
    WebPlayer Player;
    ASSERT_TRUE(Player.Open("duel.txt", Duel, Strip())) << Player.Error();
    Player.JumpTo(Recorded);
    EXPECT_EQ(Player.Move(), Native.Moves) << Player.Error();
    EXPECT_EQ(Player.StateHashText(), Native.StateHash);
    EXPECT_EQ(Player.State(), WebPlayer::Standing::Ended);
    const std::string Facts = Player.Facts();
    EXPECT_NE(Facts.find("\"duel\":true"), std::string::npos) << Facts;
    // Each gun's health follows its name, before the next gun's.
    const std::size_t Helicopter = Facts.find("\"name\":\"Helicopter\"");
    ASSERT_NE(Helicopter, std::string::npos) << Facts;
    EXPECT_LT(Facts.find("\"health\":" + std::to_string(Native.Health[0]) + "}"), Helicopter) << Facts;
    EXPECT_NE(Facts.find("\"health\":" + std::to_string(Native.Health[1]) + "}", Helicopter), std::string::npos)
        << Facts;
    Player.Close();

    // A plain match after it says nothing of health.
    ASSERT_TRUE(Player.Open("match.txt", Match(), Strip())) << Player.Error();
    EXPECT_EQ(Player.Facts().find("health"), std::string::npos) << Player.Facts();
    EXPECT_NE(Player.Facts().find("\"duel\":false"), std::string::npos) << Player.Facts();
    Player.Close();
}

}  // namespace
}  // namespace brakkenfel
