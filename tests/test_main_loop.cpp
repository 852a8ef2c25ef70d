// The run as a whole on an in-memory window and a scripted clock: set-up, passes, quitting, errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "display/BackBuffer.h"
#include "tests/support/Arena.h"

namespace brakkenfel {
namespace {

class MainLoopTest : public ::testing::Test, public MemoryHost {
protected:
    MainLoopTest()
        : MemoryHost([this](const std::string& path) {
              loaded.push_back(path);
              return std::make_shared<Picture>(std::make_shared<GdiBitmap>(256, 16));
          }) {}

    /// Runs the contest, closing the window at the caption of second tick `closeAt`; returns the captions.
    std::vector<std::string> RunUntilSecond(std::int32_t closeAt) {
        std::vector<std::string> captions;
        Form->OnCaption = [&](const std::string& caption) {
            captions.push_back(caption);
            if (TickCount(TickSecond) == closeAt) Form->RequestClose();
        };
        RunContest(Host);
        return captions;
    }

    std::vector<std::string> loaded;
};

TEST_F(MainLoopTest, QuitAlreadySetRunsNoPassAndTearsDown) {
    QuitRequested = -1;
    RunContest(Host);
    EXPECT_EQ(WindowsCreated, 1);
    EXPECT_TRUE(Form->Shown);
    for (std::int32_t channel : {TickMove, TickFrame, TickSecond}) EXPECT_EQ(TickCount(channel), 0);
    EXPECT_EQ(Form->LabelWrites, 0) << "a frame was composed";
    EXPECT_EQ(Form->Caption(), "Brakkenfel");
    EXPECT_EQ(frmMain, nullptr);
    EXPECT_EQ(Sprites, nullptr);
    EXPECT_EQ(CountBullets(), 0);
    EXPECT_EQ(loaded, (std::vector<std::string>{"/opt/arena/cannon.bmp", "/opt/arena/cannon.bmp"}));
}

TEST_F(MainLoopTest, QuitDuringAPassFinishesThatPassOnly) {
    // Move, frame, second; the close asked for during the first second tick is processed at that pass's end.
    EXPECT_EQ(RunUntilSecond(1), (std::vector<std::string>{"FPS:  1 | MPS:  1 | 0:01"}));
    EXPECT_EQ(TickCount(TickSecond), 1);
    EXPECT_EQ(TickCount(TickMove), 0) << "a move ran after the window closed";
    EXPECT_EQ(TickCount(TickFrame), 0) << "a frame was composed after the window closed";
    EXPECT_EQ(Form->LabelWrites, 1);
    EXPECT_EQ(QuitRequested, -1);
    EXPECT_EQ(frmMain, nullptr);
}

TEST_F(MainLoopTest, MissingPictureEndsSetUpBeforeAnyWindow) {
    SetPictureLoader([](const std::string& path) -> std::shared_ptr<Picture> {
        throw RuntimeError(ErrFileNotFound, path);
    });
    try {
        RunContest(Host);
        FAIL() << "set-up went on without its picture";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ErrFileNotFound);
        EXPECT_EQ(std::string(error.what()), "File not found: /opt/arena/cannon.bmp");
    }
    EXPECT_EQ(WindowsCreated, 0);
}

TEST_F(MainLoopTest, PacedRunKeepsRatesForSimulatedSeconds) {
    const std::vector<std::string> captions = RunUntilSecond(5);
    ASSERT_EQ(captions.size(), 5u);
    for (std::size_t i = 1; i < captions.size(); ++i) {
        int frames = 0, moves = 0, seconds = 0;
        ASSERT_EQ(std::sscanf(captions[i].c_str(), "FPS:  %d | MPS:  %d | 0:%d", &frames, &moves, &seconds), 3)
            << captions[i];
        EXPECT_NEAR(frames, 30, 1) << captions[i];
        EXPECT_NEAR(moves, 90, 1) << captions[i];
        EXPECT_EQ(seconds, static_cast<int>(i) + 1) << captions[i];
    }
}

}  // namespace
}  // namespace brakkenfel
