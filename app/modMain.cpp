// The run: set-up in its fixed order, the main loop that dispatches ticks, and tear-down.
#include "app/modMain.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/Workbench.h"
#include "app/modTicks.h"
#include "bullets/modBulletAndGravity.h"
#include "display/BackBuffer.h"
#include "display/ComposeFrame.h"
#include "display/UpdateCaption.h"
#include "platform/Errors.h"
#include "contest/clsDuelSeat.h"
#include "platform/Rounding.h"
#include "score/DuelField.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

std::shared_ptr<clsSprites> Sprites;
std::int16_t QuitRequested = 0;
std::int16_t CannonIndex = 0;
std::int16_t HelicopterIndex = 0;

std::string PicturePath(const std::string& ProgramFolder) {
    // Plain concatenation: a folder that already ends in a separator gives a doubled one.
    return ProgramFolder + "/cannon.bmp";
}

namespace {

// Duel rules: both guns on the seed's fair field, both reloading in 59 moves, each contestant in a
// seat that fills its foe list.
void BuildDuelArena(const ContestHost& Host, std::uint32_t Seed) {
    const DuelField Field = DrawDuelField(Seed);
    const GunPlace& Cannon = Field.Guns[0];
    const GunPlace& Helicopter = Field.Guns[1];
    CannonIndex = Sprites->AddSprite("Cannon", static_cast<float>(Cannon.X), static_cast<float>(Cannon.Y),
                                     Cannon.Angle, -1,
                                     std::make_shared<clsDuelSeat>(Host.MakeContestant("Cannon"), true),
                                     PicturePath(Host.ProgramFolder), 16, 16, 16, 59, 29);
    HelicopterIndex = Sprites->AddSprite(
        "Helicopter", static_cast<float>(Helicopter.X), static_cast<float>(Helicopter.Y), Helicopter.Angle, -1,
        std::make_shared<clsDuelSeat>(Host.MakeContestant("Helicopter"), false), PicturePath(Host.ProgramFolder),
        16, 16, 16, 59, 14);
    StartDuel(*Host.DuelHealth, Seed);
}

// The registry, both guns and the seed: what a match's first move starts from.
void BuildArena(const ContestHost& Host) {
    ResetScore();
    Sprites = std::make_shared<clsSprites>();
    if (Host.DuelHealth) {
        const std::uint32_t Seed = Host.Seed ? *Host.Seed : static_cast<std::uint32_t>(Host.TickClock->Counter());
        BuildDuelArena(Host, Seed);
        std::srand(Seed);
        return;
    }
    CannonIndex = Sprites->AddSprite("Cannon", 20.0f, 20.0f, 128, -1, Host.MakeContestant("Cannon"),
                                     PicturePath(Host.ProgramFolder), 16, 16, 16, 89, 29);
    HelicopterIndex = Sprites->AddSprite("Helicopter", 40.0f, 40.0f, 0, -1, Host.MakeContestant("Helicopter"),
                                         PicturePath(Host.ProgramFolder), 16, 16, 16, 59, 14);
    // Nothing built in draws from it; contestants compiled into the arena may.
    std::srand(Host.Seed ? *Host.Seed : static_cast<unsigned>(Host.TickClock->Counter()));
}

}  // namespace

void RebuildArena(const ContestHost& Host) {
    EraseBullets();
    Sprites.reset();
    BuildArena(Host);
}

void SetUpContest(const ContestHost& Host) {
    ResetWorkbench();
    BuildArena(Host);
    BuildTrigTables();
    StartTicks(*Host.TickClock);

    frmMain = Host.CreateMainWindow();
    frmMain->Show();
    frmMain->SetScaleModePixels();
    const double Width = frmMain->ScaleWidth();
    const double Height = frmMain->ScaleHeight();
    BackWidth = RoundChecked<std::int32_t>(Width, "picture box size " + std::to_string(Width));
    BackHeight = RoundChecked<std::int32_t>(Height, "picture box size " + std::to_string(Height));
    CreateBackBuffer(frmMain->PictureBoxDC());
    // Before the scheduler's first tick, so the paced moves that follow start on a fresh grid.
    for (std::int64_t Move = 0; Move < Host.JumpMoves && QuitRequested == 0 && !Bench.Ended; ++Move) {
        RunMove();
        if (Host.AfterMove) Host.AfterMove();
    }
}

void RunMove() {
    Sprites->UpdateSprite(CannonIndex);
    Sprites->UpdateSprite(HelicopterIndex);
    // A shot fired during the two updates flies its first step in this same move.
    MoveBullets();
    ScoreHits();
}

void RunLoopPass(const ContestHost& Host) {
    switch (NextTick()) {
    case TickMove:
        RunMove();
        KeysSpent();
        if (Host.AfterMove) Host.AfterMove();
        break;
    case TickFrame:
        ComposeFrame();
        if (Host.AfterFrame) Host.AfterFrame();
        break;
    case TickSecond:
        UpdateCaption();
        break;
    default:
        break;
    }
    if (frmMain->HasPendingEvents()) {
        frmMain->ProcessPendingEvents();
        RunPendingJump(Host);
    }
}

void RunMainLoop(const ContestHost& Host) {
    while (QuitRequested == 0) RunLoopPass(Host);
}

void TearDownContest() {
    DestroyBackBuffer();
    frmMain.reset();
    EraseBullets();
    Sprites.reset();
}

void RunContest(const ContestHost& Host) {
    SetUpContest(Host);
    RunMainLoop(Host);
    TearDownContest();
}

}  // namespace brakkenfel
