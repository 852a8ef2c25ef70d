// The run as a whole on an in-memory window and a scripted clock: set-up, passes, quitting, errors.
#include <gtest/gtest.h>

#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "app/modMain.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/MemoryForm.h"
#include "platform/Errors.h"
#include "platform/FakeClock.h"
#include "platform/Picture.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {
namespace {

class MainLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPictureLoader([this](const std::string& path) {
            loaded.push_back(path);
            return std::make_shared<Picture>(std::make_shared<GdiBitmap>(256, 16));
        });
        host.TickClock = &clock;
        host.ProgramFolder = "/opt/arena";
        host.CreateMainWindow = [this] {
            ++windowsCreated;
            return form;
        };
    }
    void TearDown() override {
        QuitRequested = 0;
        ResetTicks();
        frmMain.reset();
        Sprites.reset();
        EraseBullets();
        SetPictureLoader({});
    }

    FakeClock clock{10'000'000};
    std::shared_ptr<MemoryForm> form = std::make_shared<MemoryForm>();
    ContestHost host;
    std::vector<std::string> loaded;
    int windowsCreated = 0;
};

TEST_F(MainLoopTest, QuitAlreadySetRunsNoPassAndTearsDown) {
    QuitRequested = -1;
    RunContest(host);
    EXPECT_EQ(windowsCreated, 1);
    EXPECT_TRUE(form->Shown);
    for (std::int32_t channel : {TickMove, TickFrame, TickSecond}) EXPECT_EQ(TickCount(channel), 0);
    EXPECT_EQ(form->LabelWrites, 0) << "a frame was composed";
    EXPECT_EQ(form->Caption(), "Brakkenfel");
    EXPECT_EQ(frmMain, nullptr);
    EXPECT_EQ(Sprites, nullptr);
    EXPECT_EQ(CountBullets(), 0);
    EXPECT_EQ(loaded, (std::vector<std::string>{"/opt/arena/cannon.bmp", "/opt/arena/cannon.bmp"}));
}

TEST_F(MainLoopTest, QuitDuringAPassFinishesThatPassOnly) {
    std::vector<std::string> captions;
    form->OnCaption = [&](const std::string& caption) {
        captions.push_back(caption);
        form->RequestClose();  // the user closes the window during the first second tick
    };
    RunContest(host);
    // Move, frame, second, then the close is processed at the end of that third pass.
    EXPECT_EQ(captions, (std::vector<std::string>{"FPS:  1 | MPS:  1 | 0:01"}));
    EXPECT_EQ(TickCount(TickSecond), 1);
    EXPECT_EQ(TickCount(TickMove), 0) << "a move ran after the window closed";
    EXPECT_EQ(TickCount(TickFrame), 0) << "a frame was composed after the window closed";
    EXPECT_EQ(form->LabelWrites, 1);
    EXPECT_EQ(QuitRequested, -1);
    EXPECT_EQ(frmMain, nullptr);
}

TEST_F(MainLoopTest, FieldSizeComesFromThePictureBoxInPixels) {
    QuitRequested = -1;
    SetUpContest(host);
    EXPECT_EQ(BackWidth, 373);
    EXPECT_EQ(BackHeight, 285);
    EXPECT_EQ(BackBitmap->Width(), 373);
    EXPECT_EQ(BackBitmap->Height(), 285);
    TearDownContest();
}

TEST_F(MainLoopTest, MissingPictureEndsSetUpBeforeAnyWindow) {
    SetPictureLoader([](const std::string& path) -> std::shared_ptr<Picture> {
        throw RuntimeError(ErrFileNotFound, path);
    });
    try {
        RunContest(host);
        FAIL() << "set-up went on without its picture";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ErrFileNotFound);
        EXPECT_EQ(std::string(error.what()), "File not found: /opt/arena/cannon.bmp");
    }
    EXPECT_EQ(windowsCreated, 0);
}

TEST_F(MainLoopTest, PacedRunKeepsRatesForSimulatedSeconds) {
    std::vector<std::string> captions;
    form->OnCaption = [&](const std::string& caption) {
        captions.push_back(caption);
        if (TickCount(TickSecond) == 5) form->RequestClose();
    };
    RunContest(host);
    ASSERT_EQ(captions.size(), 5u);
    for (std::size_t i = 1; i < captions.size(); ++i) {
        int frames = 0;
        int moves = 0;
        int seconds = 0;
        ASSERT_EQ(std::sscanf(captions[i].c_str(), "FPS:  %d | MPS:  %d | 0:%d", &frames, &moves, &seconds), 3)
            << captions[i];
        EXPECT_NEAR(frames, 30, 1) << captions[i];
        EXPECT_NEAR(moves, 90, 1) << captions[i];
        EXPECT_EQ(seconds, static_cast<int>(i) + 1) << captions[i];
    }
    EXPECT_EQ(captions.back().substr(captions.back().size() - 4), "0:05");
}

}  // namespace
}  // namespace brakkenfel
