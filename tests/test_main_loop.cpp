// The run as a whole on an in-memory window and a scripted clock: set-up, passes, quitting, errors.
#include <gtest/gtest.h>

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
    std::vector<std::string> captions;
    Form->OnCaption = [&](const std::string& caption) {
        captions.push_back(caption);
        Form->RequestClose();  // the user closes the window during the first second tick
    };
    RunContest(Host);
    // Move, frame, second, then the close is processed at the end of that third pass.
    EXPECT_EQ(captions, (std::vector<std::string>{"FPS:  1 | MPS:  1 | 0:01"}));
    EXPECT_EQ(TickCount(TickSecond), 1);
    EXPECT_EQ(TickCount(TickMove), 0) << "a move ran after the window closed";
    EXPECT_EQ(TickCount(TickFrame), 0) << "a frame was composed after the window closed";
    EXPECT_EQ(Form->LabelWrites, 1);
    EXPECT_EQ(QuitRequested, -1);
    EXPECT_EQ(frmMain, nullptr);
}

}  // namespace
}  // namespace brakkenfel
