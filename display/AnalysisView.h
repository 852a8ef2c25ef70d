// The analysis view: whose bullet is whose, where each gun aims, and which gun was just hit.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace brakkenfel {

/// The Cannon's colour in the analysis view (0x00BBGGRR): orange.
inline constexpr COLORREF CannonColor = 0x2090FF;
/// The Helicopter's colour in the analysis view: sky blue.
inline constexpr COLORREF HelicopterColor = 0xFFC830;
/// Moves a hit stays marked on the gun that was hit: half a second at 90 moves a second. Counted
/// in moves, so a paused match keeps its mark and a fast one shows it at least for one frame.
inline constexpr std::int64_t HitMarkMoves = 45;
/// Radius of the ring drawn round each gun in its colour.
inline constexpr std::int32_t GunRingRadius = 11;

/// The frame of a 16-frame strip whose barrel points nearest to `Angle`: frame n points at 128 + 16 n.
constexpr std::uint8_t FrameForAngle(std::uint8_t Angle) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(Angle - 128 + 8) >> 4);
}

/// True while frames are drawn in the analysis view; the plain view draws what it always drew.
bool AnalysisShown();
/// Switches the analysis view on or off; hits scored before it was switched on are not marked.
void ShowAnalysis(bool On);
/// Plots every bullet in flight in its owner's colour (white for a bullet no gun fired).
void DrawOwnedBullets(HDC Target);
/// Draws both guns (the Helicopter on top) each with the frame of its strip that matches its
/// angle, in place of the plain view's first frame, and a ring round each in its colour. The
/// registry is only read: what a move computes never depends on the view.
void DrawTurnedGuns(HDC Target);
/// Draws each gun's aim as a short line beyond its picture and, for a moment after a hit, a frame
/// round the gun that was hit in the colour of the gun that hit it. Called once per frame.
void DrawAimsAndHits(HDC Target);

}  // namespace brakkenfel
