// The hit rule: each bullet's drawn pixel against the other guns' drawn squares, once per move.
#include "score/Scoreboard.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

Scoreboard Score;

namespace {

// A gun's picture as the drawing places it, as whole pixels held in floats: [Left, Right) x
// [Top, Bottom); with the record's values it was worked out from, so it is redone only when they change.
struct Square {
    float X = 0.0f, Y = 0.0f;
    std::uint8_t Width = 0, Height = 0;
    std::int16_t InUse = 0;
    bool Known = false;
    float Left = 0.0f, Right = 0.0f, Top = 0.0f, Bottom = 0.0f;
};

// Reused from move to move, so scoring allocates nothing once the guns are known.
std::vector<Square> Squares;
// Every square together, widened by the most rounding can move a bullet: most bullets are far from
// every gun and are passed over with this one test.
Square Reach;

// Nearest, halves to even, as std::nearbyint gives in the program's only rounding mode, but
// without a library call that saves and restores the floating-point environment: scoring runs
// every move. Adding and taking away 2^23 leaves no fraction bits, so the addition itself rounds.
float RoundHalfEven(float Value) {
    constexpr float Shift = 8388608.0f;  // 2^23: from here on every float is a whole number
    if (!(std::fabs(Value) < Shift)) return Value;  // whole already, or NaN
    const volatile float Shifted = std::fabs(Value) + Shift;  // volatile: no algebra may cancel it
    return std::copysign(Shifted - Shift, Value);
}

}  // namespace

void ResetScore() {
    Score = Scoreboard{};
    Squares.clear();
    Reach = Square{};
}

void ScoreHits() {
    ++Score.Moves;
    const std::int32_t Slots = Sprites ? Sprites->SlotCount() : 0;
    if (Slots == 0) return;
    const auto Count = static_cast<std::size_t>(Slots);
    // The table is one array: one checked look-up reaches every record.
    const SpriteData* Records = &Sprites->Data(0);
    if (Score.Guns.size() != Count) {
        for (std::size_t Slot = Score.Guns.size(); Slot < Count; ++Slot) {
            Score.Guns.push_back({Records[Slot].Name, 0, 0});
        }
        Score.Guns.resize(Count);
        Squares.resize(Count);
    }
    bool Moved = false;
    for (std::size_t Slot = 0; Slot < Count; ++Slot) {
        const SpriteData& Gun = Records[Slot];
        Score.Guns[Slot].Shots = Gun.ShotsFired;
        Square& Target = Squares[Slot];
        if (Target.Known && Target.X == Gun.X && Target.Y == Gun.Y && Target.Width == Gun.Width &&
            Target.Height == Gun.Height && Target.InUse == Gun.InUse) {
            continue;
        }
        // The same float expressions as the drawing; rounded in float, so no position can overflow here.
        Target = {Gun.X, Gun.Y, Gun.Width, Gun.Height, Gun.InUse, true};
        Target.Left = RoundHalfEven(Gun.X - static_cast<float>(Gun.Width / 2));
        Target.Top = RoundHalfEven(Gun.Y - static_cast<float>(Gun.Height / 2));
        Target.Right = Target.Left + static_cast<float>(Gun.Width);
        Target.Bottom = Target.Top + static_cast<float>(Gun.Height);
        Moved = true;
    }
    if (Moved) {
        Reach = Square{};
        Reach.Left = Reach.Top = std::numeric_limits<float>::infinity();
        Reach.Right = Reach.Bottom = -std::numeric_limits<float>::infinity();
        for (const Square& Target : Squares) {
            if (Target.InUse == 0) continue;
            Reach.Left = std::min(Reach.Left, Target.Left - 1.0f);
            Reach.Right = std::max(Reach.Right, Target.Right);
            Reach.Top = std::min(Reach.Top, Target.Top - 1.0f);
            Reach.Bottom = std::max(Reach.Bottom, Target.Bottom);
        }
    }
    for (Bullet& Shot : Bullets) {
        // Above the field a bullet is not drawn, even where it would round to row 0.
        if (!(Shot.X >= Reach.Left && Shot.X <= Reach.Right && Shot.Y >= Reach.Top && Shot.Y <= Reach.Bottom)) {
            continue;
        }
        if (Shot.Active == 0 || Shot.Scored != 0 || Shot.Owner < 0 || Shot.Owner >= Slots || !(Shot.Y >= 0.0f)) {
            continue;
        }
        for (std::size_t Slot = 0; Slot < Count; ++Slot) {
            const Square& Target = Squares[Slot];
            if (Target.InUse == 0 || Slot == static_cast<std::size_t>(Shot.Owner)) continue;
            // A cheap test first: rounding moves a value by at most a half, so a bullet further
            // out than that cannot land inside; NaN fails here too.
            if (!(Shot.X >= Target.Left - 1.0f && Shot.X <= Target.Right && Shot.Y >= Target.Top - 1.0f &&
                  Shot.Y <= Target.Bottom)) {
                continue;
            }
            const float PixelX = RoundHalfEven(Shot.X);
            const float PixelY = RoundHalfEven(Shot.Y);
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
