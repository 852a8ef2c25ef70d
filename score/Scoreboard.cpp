// The hit rule: each bullet's drawn pixel against the other guns' drawn squares, once per move.
#include "score/Scoreboard.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

Scoreboard Score;

namespace {

// Whole pixels held in floats: [Left, Right) x [Top, Bottom).
struct Box {
    float Left = 0.0f, Right = 0.0f, Top = 0.0f, Bottom = 0.0f;
};

// A gun in use and its picture as the drawing places it.
struct Square {
    std::size_t Slot = 0;
    Box Drawn;
};

constexpr float Infinity = std::numeric_limits<float>::infinity();
// A box no bullet is ever in: every test against it fails.
constexpr Box Nowhere{Infinity, -Infinity, Infinity, -Infinity};

// The guns in use. Reused from move to move, so scoring allocates nothing once the guns are known.
std::vector<Square> Squares;
// Every square together, widened by the most rounding can move a bullet: most bullets are far from
// every gun and are passed over with this one test.
Box Reach = Nowhere;
// The registry revision the squares, the reach and the shot counts were taken from.
std::uint64_t SeenRevision = 0;

// Nearest, halves to even, in the program's only rounding mode: as the drawing rounds.
float RoundHalfEven(float Value) { return std::nearbyint(Value); }

// Takes the squares and shot counts afresh from the registry; they change seldom, so every move
// compares one revision number instead.
[[gnu::noinline]] void Refresh(const clsSprites& Registry) {
    SeenRevision = Registry.Revision();
    const std::span<const SpriteData> Records = Registry.Records();
    Squares.clear();
    Reach = Nowhere;
    if (Records.empty()) return;
    for (std::size_t Slot = Score.Guns.size(); Slot < Records.size(); ++Slot) {
        GunScore Fresh;
        Fresh.Name = Records[Slot].Name;
        Score.Guns.push_back(Fresh);
    }
    Score.Guns.resize(Records.size());
    for (std::size_t Slot = 0; Slot < Records.size(); ++Slot) {
        const SpriteData& Gun = Records[Slot];
        Score.Guns[Slot].Shots = Gun.ShotsFired;
        if (Gun.InUse == 0) continue;
        // The same float expressions as the drawing; rounded in float, so no position can overflow here.
        Square Target{Slot, {}};
        Target.Drawn.Left = RoundHalfEven(Gun.X - static_cast<float>(Gun.Width / 2));
        Target.Drawn.Top = RoundHalfEven(Gun.Y - static_cast<float>(Gun.Height / 2));
        Target.Drawn.Right = Target.Drawn.Left + static_cast<float>(Gun.Width);
        Target.Drawn.Bottom = Target.Drawn.Top + static_cast<float>(Gun.Height);
        Squares.push_back(Target);
        Reach.Left = std::min(Reach.Left, Target.Drawn.Left - 1.0f);
        Reach.Right = std::max(Reach.Right, Target.Drawn.Right);
        Reach.Top = std::min(Reach.Top, Target.Drawn.Top - 1.0f);
        Reach.Bottom = std::max(Reach.Bottom, Target.Drawn.Bottom);
    }
}

// The whole rule for one bullet near a gun. Kept out of line: few bullets get here, and the loop
// over every bullet stays small.
[[gnu::noinline]] void ScoreBullet(Bullet& Shot) {
    // Above the field a bullet is not drawn, even where it would round to row 0.
    if (Shot.Active == 0 || Shot.Scored != 0 || Shot.Owner < 0 ||
        static_cast<std::size_t>(Shot.Owner) >= Score.Guns.size() || !(Shot.Y >= 0.0f)) {
        return;
    }
    for (const Square& Target : Squares) {
        if (Target.Slot == static_cast<std::size_t>(Shot.Owner)) continue;
        const Box& Drawn = Target.Drawn;
        // A cheap test first: rounding moves a value by at most a half, so a bullet further
        // out than that cannot land inside; NaN fails here too.
        if (!(Shot.X >= Drawn.Left - 1.0f && Shot.X <= Drawn.Right && Shot.Y >= Drawn.Top - 1.0f &&
              Shot.Y <= Drawn.Bottom)) {
            continue;
        }
        const float PixelX = RoundHalfEven(Shot.X);
        const float PixelY = RoundHalfEven(Shot.Y);
        if (PixelX >= Drawn.Left && PixelX < Drawn.Right && PixelY >= Drawn.Top && PixelY < Drawn.Bottom) {
            ++Score.Guns[static_cast<std::size_t>(Shot.Owner)].Hits;
            Shot.Scored = -1;
            // Health is 0 under plain rules, so nothing more happens there. Numbers only: a call
            // or a string here would make every move's loop above reload what it keeps in registers.
            GunScore& Struck = Score.Guns[Target.Slot];
            if (Struck.Health > 0 && --Struck.Health == 0) {
                Struck.DestroyedAt = Score.Moves;
                Struck.DestroyedBy = Shot.Owner;
                // After this move: the other gun's bullets of this same move still count.
                QuitRequested = -1;
            }
            return;
        }
    }
}

}  // namespace

void ResetScore() {
    Score = Scoreboard{};
    Squares.clear();
    Reach = Nowhere;
    SeenRevision = 0;
}

void ScoreHits() {
    ++Score.Moves;
    if (!Sprites) return;
    if (Sprites->Revision() != SeenRevision) Refresh(*Sprites);
    for (Bullet& Shot : Bullets) {
        // Far edges first: the guns stand near the field's top-left corner, so most bullets are
        // past them and leave after one comparison.
        if (Shot.X <= Reach.Right && Shot.Y <= Reach.Bottom && Shot.X >= Reach.Left && Shot.Y >= Reach.Top) {
            ScoreBullet(Shot);
        }
    }
}

std::int64_t HitsOf(std::int16_t Slot) {
    if (Slot < 0 || static_cast<std::size_t>(Slot) >= Score.Guns.size()) return 0;
    return Score.Guns[static_cast<std::size_t>(Slot)].Hits;
}

void StartDuel(std::int32_t Health, std::uint32_t Seed) {
    Score.Duel = true;
    Score.Seed = Seed;
    Score.StartHealth = Health;
    const std::span<const SpriteData> Records = Sprites ? Sprites->Records() : std::span<const SpriteData>();
    Score.Guns.resize(std::max(Score.Guns.size(), Records.size()));
    for (std::size_t Slot = 0; Slot < Records.size(); ++Slot) {
        const SpriteData& Gun = Records[Slot];
        if (Gun.InUse == 0) continue;
        GunScore& Entry = Score.Guns[Slot];
        Entry.Name = Gun.Name;
        Entry.Health = Health;
        Entry.StartX = static_cast<std::int32_t>(Gun.X);
        Entry.StartY = static_cast<std::int32_t>(Gun.Y);
        Entry.StartAngle = Gun.Angle;
    }
}

std::string DestroyerOf(const Scoreboard& Board, const GunScore& Gun) {
    if (Gun.DestroyedBy < 0 || static_cast<std::size_t>(Gun.DestroyedBy) >= Board.Guns.size()) return {};
    return Board.Guns[static_cast<std::size_t>(Gun.DestroyedBy)].Name;
}

std::int32_t HealthOf(std::int16_t Slot) {
    if (Slot < 0 || static_cast<std::size_t>(Slot) >= Score.Guns.size()) return 0;
    return Score.Guns[static_cast<std::size_t>(Slot)].Health;
}

std::string Winner(const Scoreboard& Board) {
    const GunScore* Leader = nullptr;
    bool Tied = false;
    const auto Measure = [&Board](const GunScore& Gun) { return Board.Duel ? Gun.Health : Gun.Hits; };
    for (const GunScore& Gun : Board.Guns) {
        if (!Leader || Measure(Gun) > Measure(*Leader)) {
            Leader = &Gun;
            Tied = false;
        } else if (Measure(Gun) == Measure(*Leader)) {
            Tied = true;
        }
    }
    return Leader && !Tied ? Leader->Name : "draw";
}

}  // namespace brakkenfel
