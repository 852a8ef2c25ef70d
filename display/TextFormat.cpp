// Formatting of the label and caption texts; pure functions, so the window code only places text.
#include "display/TextFormat.h"

namespace brakkenfel {

std::string FormatCount(std::int64_t Value) {
    // The sign place is kept for non-negative numbers so columns of counts line up as the user expects.
    // Appended rather than `" " + std::to_string(Value)`: putting a literal in front of a temporary
    // string inlines std::string::insert, where GCC 12 at -O3 reports a false -Wrestrict overlap.
    std::string text(Value < 0 ? "" : " ");
    text += std::to_string(Value);
    return text;
}

std::string FormatMinutesSeconds(std::int64_t Seconds) {
    // Only the position within the hour is shown, so reduce first: no count, however long the run,
    // can overflow here, and a count that wrapped negative lands on the previous day's clock face.
    std::int64_t inHour = Seconds % 3600;
    if (inHour < 0) inHour += 3600;
    const std::int64_t minutes = inHour / 60;
    const std::int64_t seconds = inHour % 60;
    return std::to_string(minutes) + (seconds < 10 ? ":0" : ":") + std::to_string(seconds);
}

std::string BulletCountText(std::int16_t Count) {
    if (Count < 1) return "Press space bar!";
    return "Bullets on screen: " + FormatCount(Count);
}

std::string CaptionText(std::int32_t Frames, std::int32_t Moves, std::int32_t Seconds) {
    return "FPS: " + FormatCount(Frames) + " | MPS: " + FormatCount(Moves) + " | " +
           FormatMinutesSeconds(Seconds);
}

}  // namespace brakkenfel
