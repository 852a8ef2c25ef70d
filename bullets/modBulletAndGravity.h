// The bullet pool, the angle tables, the once-per-move flight step and the bullets' pixel pass.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/BitCast.h"
#include "platform/Gdi.h"

namespace brakkenfel {

/// The owner of a bullet no gun fired (one placed by a test, say): it scores for nobody.
inline constexpr std::int16_t NoOwner = -1;

/// One bullet: position and speed in back-buffer pixels (speeds per move) and whether it flies.
struct Bullet {
    float X = 0.0f;             ///< horizontal position, growing to the right
    float Y = 0.0f;             ///< vertical position, growing downward; negative above the field
    float SpeedX = 0.0f;        ///< horizontal speed per move
    float SpeedY = 0.0f;        ///< vertical speed per move, positive downward
    std::int16_t Active = 0;    ///< -1 while the bullet flies, 0 for a free slot
    std::int16_t Owner = NoOwner;  ///< registry slot of the gun that fired it; neither flight nor drawing reads it
    std::int16_t Scored = 0;    ///< -1 once the bullet has scored its one hit; only the hit rule reads it
};

/// The pool: empty (no elements, no storage) or elements 0 to its upper bound, the last one active
/// after every move. Free slots below the last active bullet are reused before it grows.
extern std::vector<Bullet> Bullets;
/// Sine of each of the 256 angle steps; with speed, the horizontal velocity.
extern std::array<float, 256> SinTable;
/// Cosine of each of the 256 angle steps; with speed, the vertical velocity (angle 0 points down).
extern std::array<float, 256> CosTable;

/// Added to every bullet's vertical speed on every move, after drag.
inline constexpr float Gravity = 0.00981f;
/// Both speeds of every bullet are divided by this on every move.
inline constexpr float DragDivisor = 1.003f;
/// The full turn the angle tables divide into 256 steps: 2 pi as a 32-bit float.
inline constexpr float FullTurn = 6.2831855f;
static_assert(BitCast<std::uint32_t>(FullTurn) == 0x40C90FDBu, "the tables depend on these exact bits");
/// Colour of a bullet's pixel: white.
inline constexpr COLORREF BulletColor = 0xFFFFFF;
/// The most elements the pool can hold: its indices and counts are signed 16-bit.
inline constexpr std::int32_t MaxBullets = 32767;

/// Fills SinTable and CosTable from the carried values of bullets/AngleTables.h; called once at
/// start-up before the first move.
void BuildTrigTables();
/// Fires a bullet from (X, Y) at `Angle` with `Speed` into the lowest free slot, growing the pool
/// by one when none is free; fails with RuntimeError 6 when MaxBullets bullets are already flying.
/// `Owner` is the firing gun's registry slot; the new bullet has scored no hit yet.
void AddBullet(float X, float Y, std::uint8_t Angle, float Speed, std::int16_t Owner = NoOwner);
/// Flies every bullet one move, retires those that left the field and trims the pool.
void MoveBullets();
/// Cuts the pool back to its last active bullet, releasing it when none is left.
void TrimBullets();
/// The number of bullets in flight.
std::int16_t CountBullets();
/// Plots every bullet in flight at or below the top edge as one white pixel into `Target`.
void DrawBullets(HDC Target);
/// Empties the pool and releases its storage; tear-down calls this after the main loop.
void EraseBullets();

}  // namespace brakkenfel
