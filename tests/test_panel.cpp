// The analysis view's panel as plain data, the frame a gun's angle picks, and a tap of the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/Workbench.h"
#include "display/AnalysisView.h"
#include "display/Panel.h"
#include "score/Scoreboard.h"

namespace brakkenfel {
namespace {

bool HasLine(const std::vector<PanelLine>& Lines, const std::string& Text) {
    return std::any_of(Lines.begin(), Lines.end(), [&](const PanelLine& Line) { return Line.Text == Text; });
}

TEST(PanelText, ContestantsAndRates) {
    const struct {
        ContestantKind Kind;
        std::size_t Room;
        const char* Shown;
    } contestants[] = {
        {{ContestantKind::Type::Ai, {}}, 26, "ai"},
        {{ContestantKind::Type::Keys, {}}, 26, "keys"},
        {{ContestantKind::Type::Program, "python3 /home/a/bots/aim.py --fast"}, 26, "python3 aim.py --fast"},
        {{ContestantKind::Type::Program, "/opt/x/"}, 26, "/opt/x/"},
        {{ContestantKind::Type::Program, "a\x1b[2Jb  c\xc3\xa9"}, 26, "a?[2Jb c??"},
        {{ContestantKind::Type::Program, "averyveryverylongprogramname"}, 10, "averyve..."},
    };
    for (const auto& c : contestants) EXPECT_EQ(ContestantLabel(c.Kind, c.Room), c.Shown) << c.Kind.Command;
    const std::pair<std::int32_t, const char*> rates[] = {{-3, "x1/8"}, {-1, "x1/2"}, {0, "x1"}, {5, "x32"}};
    for (const auto& [Shift, Shown] : rates) EXPECT_EQ(RateLabel(Shift), Shown);
}

TEST(PanelText, LinesFollowTheFacts) {
    PanelFacts Facts;
    Facts.Guns[0] = {"Cannon", CannonColor, "ai", false, 7, 3, {}};
    Facts.Guns[1] = {"Helicopter", HelicopterColor, "keys", true, 5, 1, {}};
    Facts.Leader = "Cannon";
    Facts.Move = 5400;
    Facts.Paused = true;
    Facts.RateShift = -3;
    std::vector<PanelLine> Lines = PanelLines(Facts);
    EXPECT_TRUE(HasLine(Lines, "  shots 7   hits 3"));
    EXPECT_TRUE(HasLine(Lines, "  keys  - you"));
    EXPECT_TRUE(HasLine(Lines, "move 5400"));
    EXPECT_TRUE(HasLine(Lines, "match time 1:00"));  // 5400 moves at 90 a second, whatever the wall clock did
    EXPECT_TRUE(HasLine(Lines, "PAUSED  x1/8"));
    EXPECT_TRUE(HasLine(Lines, "Space  shoot"));      // someone plays at the keys
    EXPECT_FALSE(HasLine(Lines, "Home  first move"));  // not a replay
    EXPECT_EQ(Lines.front().Color, CannonColor);
    const auto Leader = std::find_if(Lines.begin(), Lines.end(), [](const PanelLine& L) { return L.Text == "Cannon leads"; });
    ASSERT_NE(Leader, Lines.end());
    EXPECT_EQ(Leader->Color, CannonColor);
    EXPECT_FALSE(std::any_of(Lines.begin(), Lines.end(), [](const PanelLine& L) { return L.Text.find("health") != std::string::npos; }));

    Facts.Guns[1].Health = 40;
    Facts.Replay = true;
    Facts.Total = 9000;
    Facts.Ended = true;
    Facts.Leader = "draw";
    Lines = PanelLines(Facts);
    EXPECT_TRUE(HasLine(Lines, "  health 40"));
    EXPECT_TRUE(HasLine(Lines, "move 5400 of 9000"));
    EXPECT_TRUE(HasLine(Lines, "REPLAY  ENDED  x1/8"));
    EXPECT_TRUE(HasLine(Lines, "level: nobody leads"));
    EXPECT_TRUE(HasLine(Lines, "Home  first move"));
}

TEST(PanelText, GathersTheScoreAndTheSetUp) {
    ResetScore();
    ResetWorkbench();
    Score.Moves = 12;
    Score.Guns = {{"Cannon", 4, 2}, {"Helicopter", 6, 0}};
    PanelRun = {};
    PanelRun.Kinds[1] = {ContestantKind::Type::Keys, {}};
    PanelRun.HealthOf = [](std::size_t Gun) { return std::optional<std::int32_t>(Gun == 0 ? 100 : 75); };
    const PanelFacts Facts = GatherPanelFacts();
    EXPECT_EQ(Facts.Guns[0].Hits, 2);
    EXPECT_EQ(Facts.Guns[1].Shots, 6);
    EXPECT_TRUE(Facts.Guns[1].You);
    EXPECT_EQ(Facts.Guns[1].Health, 75);
    EXPECT_EQ(Facts.Leader, "Cannon");
    EXPECT_EQ(Facts.Move, 12);
    // Under duel rules the scoreboard's health is shown.
    Score.Duel = true;
    Score.Guns[0].Health = 3;
    PanelRun.HealthOf = {};
    EXPECT_EQ(GatherPanelFacts().Guns[0].Health, 3);
    Score.Duel = false;
    // A replayed player at the keys is nobody here.
    PanelRun.Replay = true;
    EXPECT_FALSE(GatherPanelFacts().Guns[1].You);
    PanelRun = {};
    ResetScore();
}

TEST(AnalysisView, FrameMatchesTheAngle) {
    // Frame n points at 128 + 16 n; an angle takes the nearest, ties upward.
    const std::pair<int, int> cases[] = {{128, 0}, {135, 0}, {136, 1}, {144, 1}, {0, 8}, {64, 12}, {192, 4}, {120, 0}, {119, 15}};
    for (const auto& [Angle, Frame] : cases) EXPECT_EQ(FrameForAngle(static_cast<std::uint8_t>(Angle)), Frame) << Angle;
}

TEST(Workbench, ATapCountsOnceAndAHeldEndStopsTheMoves) {
    ResetWorkbench();
    Bench.Keys.TurnTapped = true;  // pressed and let go between two moves
    Bench.Keys.ShootTapped = true;
    KeysSpent();                    // the move after it turned and shot once
    EXPECT_FALSE(Bench.Keys.TurnTapped || Bench.Keys.ShootTapped);

    Bench.Hold = true;
    EndMatch();
    EXPECT_TRUE(Bench.Ended);
    EXPECT_TRUE(Bench.Paused);
    ApplyCommand(WindowCommand::Pause);  // nothing left to resume
    EXPECT_TRUE(Bench.Paused);
    ApplyCommand(WindowCommand::JumpBack);
    EXPECT_EQ(Bench.PendingJump, -JumpLength);
    ResetWorkbench();
    EXPECT_TRUE(Bench.Hold);  // the option outlives a set-up
    Bench.Hold = false;
    ResetWorkbench();
}

}  // namespace
}  // namespace brakkenfel
