// The analysis view's drawing: owned bullets, aim lines and hit marks, all over the plain frame.
#include "display/AnalysisView.h"

#include <array>
#include <utility>

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
// The move at which each gun's hit mark was set, and whether a frame has shown it yet.
std::array<std::int64_t, 2> MarkedAt{};
std::array<bool, 2> Marked{};
std::array<bool, 2> MarkShown{};

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

void DrawTurned(HDC Target, std::int16_t Gun) {
    const SpriteData& Data = Sprites->Data(Gun);
    if (!Data.Picture || !Data.Picture->Handle() || Data.Frames != 16) {
        Sprites->Draw(Gun, Target);  // a strip without a frame per 16 steps: as the plain view draws it
        return;
    }
    // The same place the registry's Draw uses; only the frame differs.
    const std::int32_t Left = RoundChecked<std::int32_t>(Data.X - static_cast<float>(Data.Width / 2));
    const std::int32_t Top = RoundChecked<std::int32_t>(Data.Y - static_cast<float>(Data.Height / 2));
    const auto SourceLeft = static_cast<std::uint8_t>(Data.Width * FrameForAngle(Data.Angle));
    DCHandle Memory = CreateCompatibleDC(Target);
    HBITMAP Kept = SelectObject(Memory.get(), Data.Picture->Handle());
    BitBlt(Target, Left, Top, Data.Width, Data.Height, Memory.get(), SourceLeft, 0, SRCCOPY);
    SelectObject(Memory.get(), Kept);
    DeleteDC(Memory);
}

// A circle of whole pixels round the gun's centre (the midpoint rule: integers only, the same
// pixels on every platform).
void DrawRing(HDC Target, std::int16_t Gun, COLORREF Color) {
    const SpriteData& Data = Sprites->Data(Gun);
    const std::int32_t CX = RoundChecked<std::int32_t>(Data.X);
    const std::int32_t CY = RoundChecked<std::int32_t>(Data.Y);
    std::int32_t X = GunRingRadius;
    std::int32_t Y = 0;
    std::int32_t Error = 1 - GunRingRadius;
    while (X >= Y) {
        for (const auto& [DX, DY] : {std::pair{X, Y}, std::pair{Y, X}}) {
            SetPixel(Target, CX + DX, CY + DY, Color);
            SetPixel(Target, CX - DX, CY + DY, Color);
            SetPixel(Target, CX + DX, CY - DY, Color);
            SetPixel(Target, CX - DX, CY - DY, Color);
        }
        ++Y;
        if (Error < 0) {
            Error += 2 * Y + 1;
        } else {
            --X;
            Error += 2 * (Y - X) + 1;
        }
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

void DrawTurnedGuns(HDC Target) {
    DrawTurned(Target, CannonIndex);
    DrawTurned(Target, HelicopterIndex);
    DrawRing(Target, CannonIndex, CannonColor);
    DrawRing(Target, HelicopterIndex, HelicopterColor);
}

void DrawAimsAndHits(HDC Target) {
    const std::array<std::int16_t, 2> Guns{CannonIndex, HelicopterIndex};
    const std::array<COLORREF, 2> Colors{CannonColor, HelicopterColor};
    const std::int64_t Now = Score.Moves;
    for (std::size_t Gun = 0; Gun < Guns.size(); ++Gun) {
        const std::int64_t Hits = HitsOf(Guns[Gun]);
        // Two guns: a hit one gun scores is a hit on the other.
        if (Synced && Hits > SeenHits[Gun]) {
            Marked[1 - Gun] = true;
            MarkedAt[1 - Gun] = Now;
            MarkShown[1 - Gun] = false;
        }
        if (Hits < SeenHits[Gun] || Now < MarkedAt[Gun]) Marked = {};  // the match went back
        SeenHits[Gun] = Hits;
    }
    if (!Synced) Marked = {};
    Synced = true;
    for (std::size_t Gun = 0; Gun < Guns.size(); ++Gun) {
        DrawAim(Target, Guns[Gun], Colors[Gun]);
        if (Marked[Gun] && MarkShown[Gun] && Now - MarkedAt[Gun] >= HitMarkMoves) Marked[Gun] = false;
        if (Marked[Gun]) {
            DrawMark(Target, Guns[Gun], Colors[1 - Gun]);
            MarkShown[Gun] = true;
        }
    }
}

}  // namespace brakkenfel
