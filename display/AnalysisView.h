// The analysis view: whose bullet is whose, where each gun aims, and which gun was just hit.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace brakkenfel {

/// The Cannon's colour in the analysis view (0x00BBGGRR): orange.
inline constexpr COLORREF CannonColor = 0x2090FF;
/// The Helicopter's colour in the analysis view: sky blue.
inline constexpr COLORREF HelicopterColor = 0xFFC830;
/// Frames a hit stays marked on the gun that was hit: half a second.
inline constexpr std::int32_t HitMarkFrames = 15;

/// True while frames are drawn in the analysis view; the plain view draws what it always drew.
bool AnalysisShown();
/// Switches the analysis view on or off; hits scored before it was switched on are not marked.
void ShowAnalysis(bool On);
/// Plots every bullet in flight in its owner's colour (white for a bullet no gun fired).
void DrawOwnedBullets(HDC Target);
/// Draws each gun's aim as a short line beyond its picture and, for a moment after a hit, a frame
/// round the gun that was hit in the colour of the gun that hit it. Called once per frame.
void DrawAimsAndHits(HDC Target);

}  // namespace brakkenfel
