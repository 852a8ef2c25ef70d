// Bullets: spawning into the pool, the flight step with drag and gravity, trimming and plotting.
#include "bullets/modBulletAndGravity.h"

#include <cstddef>

#include "bullets/AngleTables.h"
#include "bullets/modFloatingPointError.h"
#include "display/BackBuffer.h"
#include "platform/Errors.h"
#include "platform/Rounding.h"

namespace brakkenfel {

std::vector<Bullet> Bullets;
std::array<float, 256> SinTable{};
std::array<float, 256> CosTable{};

namespace {

/// Room reserved when the pool comes back from empty, so a few shots in flight never reallocate.
constexpr std::size_t FirstCapacity = 16;

}  // namespace

void BuildTrigTables() {
    // Carried, not computed: library trigonometry differs between platforms in the last bit.
    SinTable = SineSteps;
    CosTable = CosineSteps;
}

void AddBullet(float X, float Y, std::uint8_t Angle, float Speed, std::int16_t Owner) {
    std::size_t slot = 0;
    if (Bullets.empty()) {
        Bullets.reserve(FirstCapacity);
        Bullets.resize(1);
    } else {
        const std::size_t count = Bullets.size();
        while (slot < count && Bullets[slot].Active != 0) ++slot;
        if (slot == count) {
            // Another element would need index 32767, past what the 16-bit indices and counts hold.
            if (count >= static_cast<std::size_t>(MaxBullets))
                throw RuntimeError(ErrOverflow, "all 32767 bullet slots are in flight");
            Bullets.emplace_back();
        }
    }
    FloatingPointGuard();
    Bullet& bullet = Bullets[slot];
    bullet.X = X;
    bullet.Y = Y;
    bullet.SpeedX = Speed * SinTable[Angle];
    bullet.SpeedY = Speed * CosTable[Angle];
    bullet.Active = -1;
    bullet.Owner = Owner;
    bullet.Scored = 0;
}

void MoveBullets() {
    if (Guarded(Bullets.empty())) return;
    // Compared in double, where every 32-bit integer and every float is exact, so the edge is the
    // integer size itself and not a float rounded from it.
    const double width = BackWidth;
    const double height = BackHeight;
    for (Bullet& bullet : Bullets) {
        if (bullet.Active == 0) continue;
        // Each step lands in a float before the next uses it: the trajectory is defined in 32 bits.
        const float speedX = bullet.SpeedX / DragDivisor;
        const float dragY = bullet.SpeedY / DragDivisor;
        const float speedY = dragY + Gravity;
        const float x = bullet.X + speedX;
        const float y = bullet.Y + speedY;
        bullet.SpeedX = speedX;
        bullet.SpeedY = speedY;
        bullet.X = x;
        bullet.Y = y;
        if (x < 0.0f || static_cast<double>(x) >= width || static_cast<double>(y) >= height) bullet.Active = 0;
    }
    TrimBullets();
}

void TrimBullets() {
    std::size_t count = Bullets.size();
    if (count == 0) return;
    // Any non-zero flag flies in MoveBullets, so any non-zero flag keeps its slot here too.
    while (count > 0 && Bullets[count - 1].Active == 0) --count;
    if (count == 0) {
        EraseBullets();
    } else if (count < Bullets.size()) {
        Bullets.resize(count);
    }
}

std::int16_t CountBullets() {
    if (Guarded(Bullets.empty())) return 0;
    std::int16_t count = 0;
    for (const Bullet& bullet : Bullets) count = static_cast<std::int16_t>(count + (bullet.Active != 0));
    return count;
}

void DrawBullets(HDC Target) {
    if (Guarded(Bullets.empty())) return;
    for (const Bullet& bullet : Bullets) {
        // Skipped before rounding: a bullet at -0.3 is above the field even though it rounds to row 0.
        if (bullet.Active == 0 || !(bullet.Y >= 0.0f)) continue;
        SetPixel(Target, RoundChecked<std::int32_t>(bullet.X), RoundChecked<std::int32_t>(bullet.Y), BulletColor);
    }
}

void EraseBullets() {
    std::vector<Bullet>().swap(Bullets);
}

}  // namespace brakkenfel
