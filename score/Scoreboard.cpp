// The hit rule: each bullet's drawn pixel against the other guns' drawn squares, once per move.
#include "score/Scoreboard.h"

#include <cmath>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

Scoreboard Score;

namespace {

// A gun's picture as the drawing places it, as whole pixels held in floats: [Left, Right) x [Top, Bottom).
struct Square {
    std::int16_t Slot;
    float Left, Right, Top, Bottom;
};

// Reused from move to move, so scoring allocates nothing once the guns are known.
std::vector<Square> Squares;

}  // namespace

void ResetScore() { Score = Scoreboard{}; }

void ScoreHits() {
    ++Score.Moves;
    if (!Sprites) return;
    const std::int32_t Slots = Sprites->SlotCount();
    if (Score.Guns.size() != static_cast<std::size_t>(Slots)) {
        const std::size_t Known = Score.Guns.size();
        Score.Guns.resize(static_cast<std::size_t>(Slots));
        for (std::size_t Slot = Known; Slot < Score.Guns.size(); ++Slot) {
            Score.Guns[Slot].Name = Sprites->Data(static_cast<std::int16_t>(Slot)).Name;
        }
    }
    Squares.clear();
    for (std::int32_t Slot = 0; Slot < Slots; ++Slot) {
        const SpriteData& Gun = Sprites->Data(static_cast<std::int16_t>(Slot));
        Score.Guns[static_cast<std::size_t>(Slot)].Shots = Gun.ShotsFired;
        if (Gun.InUse == 0) continue;
        // The same float expressions as the drawing; rounded in float, so no position can overflow here.
        const float Left = std::nearbyint(Gun.X - static_cast<float>(Gun.Width / 2));
        const float Top = std::nearbyint(Gun.Y - static_cast<float>(Gun.Height / 2));
        Squares.push_back({static_cast<std::int16_t>(Slot), Left, Left + static_cast<float>(Gun.Width), Top,
                           Top + static_cast<float>(Gun.Height)});
    }
    for (Bullet& Shot : Bullets) {
        // Above the field a bullet is not drawn, even where it would round to row 0.
        if (Shot.Active == 0 || Shot.Scored != 0 || Shot.Owner < 0 || Shot.Owner >= Slots || !(Shot.Y >= 0.0f)) {
            continue;
        }
        for (const Square& Target : Squares) {
            if (Target.Slot == Shot.Owner) continue;
            // A cheap test first: rounding moves a value by at most a half, so a bullet further
            // out than that cannot land inside; NaN fails here too.
            if (!(Shot.X >= Target.Left - 1.0f && Shot.X <= Target.Right && Shot.Y >= Target.Top - 1.0f &&
                  Shot.Y <= Target.Bottom)) {
                continue;
            }
            const float PixelX = std::nearbyint(Shot.X);
            const float PixelY = std::nearbyint(Shot.Y);
            if (PixelX >= Target.Left && PixelX < Target.Right && PixelY >= Target.Top && PixelY < Target.Bottom) {
                ++Score.Guns[static_cast<std::size_t>(Shot.Owner)].Hits;
                Shot.Scored = -1;
                break;
            }
        }
    }
}

std::int64_t HitsOf(std::int16_t Slot) {
    if (Slot < 0 || static_cast<std::size_t>(Slot) >= Score.Guns.size()) return 0;
    return Score.Guns[static_cast<std::size_t>(Slot)].Hits;
}

std::string Winner(const Scoreboard& Board) {
    const GunScore* Leader = nullptr;
    bool Tied = false;
    for (const GunScore& Gun : Board.Guns) {
        if (!Leader || Gun.Hits > Leader->Hits) {
            Leader = &Gun;
            Tied = false;
        } else if (Gun.Hits == Leader->Hits) {
            Tied = true;
        }
    }
    return Leader && !Tied ? Leader->Name : "draw";
}

}  // namespace brakkenfel
