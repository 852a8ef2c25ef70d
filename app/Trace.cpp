// Trace lines: fixed key order, floats as the shortest text that reads back as the same float.
#include "app/Trace.h"

#include <charconv>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "score/Scoreboard.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

void TraceWriter::Append(const char* text) { line_ += text; }

void TraceWriter::AppendInteger(std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    line_.append(digits, result.ptr);
}

void TraceWriter::AppendFloat(float value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    line_.append(digits, result.ptr);
}

void TraceWriter::WriteMove(std::int64_t Move) {
    line_.clear();
    Append("{\"move\":");
    AppendInteger(Move);
    Append(",\"guns\":[");
    bool first = true;
    for (std::int32_t slot = 0; slot < Sprites->SlotCount(); ++slot) {
        const SpriteData& gun = Sprites->Data(static_cast<std::int16_t>(slot));
        if (gun.InUse == 0) continue;
        Append(first ? "{\"name\":\"" : ",{\"name\":\"");
        first = false;
        // Gun names are the arena's own ("Cannon", "Helicopter"): nothing to escape.
        line_ += gun.Name;
        Append("\",\"angle\":");
        AppendInteger(gun.Angle);
        Append(",\"target\":");
        AppendInteger(gun.TargetAngle);
        Append(",\"reload\":");
        AppendInteger(gun.ReloadLeft);
        Append(",\"hits\":");
        AppendInteger(HitsOf(static_cast<std::int16_t>(slot)));
        Append("}");
    }
    Append("],\"bullets\":[");
    first = true;
    for (std::size_t slot = 0; slot < Bullets.size(); ++slot) {
        const Bullet& bullet = Bullets[slot];
        if (bullet.Active == 0) continue;
        Append(first ? "{\"slot\":" : ",{\"slot\":");
        first = false;
        AppendInteger(static_cast<std::int64_t>(slot));
        Append(",\"x\":");
        AppendFloat(bullet.X);
        Append(",\"y\":");
        AppendFloat(bullet.Y);
        Append(",\"vx\":");
        AppendFloat(bullet.SpeedX);
        Append(",\"vy\":");
        AppendFloat(bullet.SpeedY);
        if (bullet.Owner >= 0 && bullet.Owner < Sprites->SlotCount()) {
            Append(",\"owner\":\"");
            line_ += Sprites->Data(bullet.Owner).Name;
            Append("\"}");
        } else {
            Append(",\"owner\":null}");
        }
    }
    Append("]}\n");
    std::fwrite(line_.data(), 1, line_.size(), stream_);
}

}  // namespace brakkenfel
