// The analysis view's drawing: owned bullets, aim lines and hit marks, all over the plain frame.
#include "display/AnalysisView.h"

#include <array>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "platform/Rounding.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

bool Shown = false;
// Whether the hit counts below are the ones of the frame before; a gap (switched off, a jump
// back) makes the next frame take them afresh instead of marking old hits.
bool Synced = false;
std::array<std::int64_t, 2> SeenHits{};
std::array<std::int32_t, 2> MarkLeft{};  // frames each gun's hit mark still shows

// Aim lines start just outside the 16-pixel pictures and run this far.
constexpr float AimFrom = 10.0f;
constexpr float AimTo = 22.0f;

COLORREF OwnerColor(std::int16_t Owner) {
    if (Owner == NoOwner) return BulletColor;
    if (Owner == CannonIndex) return CannonColor;
    return Owner == HelicopterIndex ? HelicopterColor : BulletColor;
}

void DrawAim(HDC Target, std::int16_t Gun, COLORREF Color) {
    const SpriteData& Data = Sprites->Data(Gun);
    for (float Along = AimFrom; Along <= AimTo; Along += 1.0f) {
        SetPixel(Target, RoundChecked<std::int32_t>(Data.X + SinTable[Data.Angle] * Along),
                 RoundChecked<std::int32_t>(Data.Y + CosTable[Data.Angle] * Along), Color);
    }
}

// A one-pixel frame just outside the gun's drawn picture.
void DrawMark(HDC Target, std::int16_t Gun, COLORREF Color) {
    const SpriteData& Data = Sprites->Data(Gun);
    const std::int32_t Left = RoundChecked<std::int32_t>(Data.X - Data.Width / 2.0f) - 1;
    const std::int32_t Top = RoundChecked<std::int32_t>(Data.Y - Data.Height / 2.0f) - 1;
    const std::int32_t Right = Left + Data.Width + 1;
    const std::int32_t Bottom = Top + Data.Height + 1;
    for (std::int32_t X = Left; X <= Right; ++X) {
        SetPixel(Target, X, Top, Color);
        SetPixel(Target, X, Bottom, Color);
    }
    for (std::int32_t Y = Top; Y <= Bottom; ++Y) {
        SetPixel(Target, Left, Y, Color);
        SetPixel(Target, Right, Y, Color);
    }
}

}  // namespace

bool AnalysisShown() { return Shown; }

void ShowAnalysis(bool On) {
    Shown = On;
    Synced = false;
}

void DrawOwnedBullets(HDC Target) {
    for (const Bullet& bullet : Bullets) {
        // The same pixel DrawBullets plots, only its colour differs.
        if (bullet.Active == 0 || !(bullet.Y >= 0.0f)) continue;
        SetPixel(Target, RoundChecked<std::int32_t>(bullet.X), RoundChecked<std::int32_t>(bullet.Y),
                 OwnerColor(bullet.Owner));
    }
}

void DrawAimsAndHits(HDC Target) {
    const std::array<std::int16_t, 2> Guns{CannonIndex, HelicopterIndex};
    const std::array<COLORREF, 2> Colors{CannonColor, HelicopterColor};
    for (std::size_t Gun = 0; Gun < Guns.size(); ++Gun) {
        const std::int64_t Hits = HitsOf(Guns[Gun]);
        // Two guns: a hit one gun scores is a hit on the other.
        if (Synced && Hits > SeenHits[Gun]) MarkLeft[1 - Gun] = HitMarkFrames;
        if (Hits < SeenHits[Gun]) MarkLeft = {};
        SeenHits[Gun] = Hits;
    }
    if (!Synced) MarkLeft = {};
    Synced = true;
    for (std::size_t Gun = 0; Gun < Guns.size(); ++Gun) {
        DrawAim(Target, Guns[Gun], Colors[Gun]);
        if (MarkLeft[Gun] > 0) {
            DrawMark(Target, Guns[Gun], Colors[1 - Gun]);
            --MarkLeft[Gun];
        }
    }
}

}  // namespace brakkenfel
