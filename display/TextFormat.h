// The texts the window shows: counts with a sign place, the "n:ss" time, the label and the caption.
#pragma once

#include <cstdint>
#include <string>

namespace brakkenfel {

/// A count as the user sees it: a space (the place of a minus sign) then the decimal digits; "-3" if negative.
std::string FormatCount(std::int64_t Value);
/// The time of day 0:00:`Seconds` written as "n:ss": minutes within the hour, no leading zero, two-digit
/// seconds. Any count is accepted: hours fall away and a negative count wraps back through the day.
std::string FormatMinutesSeconds(std::int64_t Seconds);
/// The label's text for `Count` bullets in flight.
std::string BulletCountText(std::int16_t Count);
/// The caption for `Frames` and `Moves` in the last second and `Seconds` elapsed.
std::string CaptionText(std::int32_t Frames, std::int32_t Moves, std::int32_t Seconds);

}  // namespace brakkenfel
