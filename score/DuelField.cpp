// The duel field's draw: centres, the fairness checks by exact flights, and balanced start angles.
#include "score/DuelField.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "bullets/modBulletAndGravity.h"
#include "score/SplitMix64.h"

namespace brakkenfel {

std::int32_t FlightToHit(std::int32_t FromX, std::int32_t FromY, std::uint8_t Angle, std::int32_t AtX,
                         std::int32_t AtY, std::int32_t Width, std::int32_t Height) {
    constexpr float ShotSpeed = 2.0f;
    // The drawn square, as the hit rule places it: whole pixels, [Left, Right) x [Top, Bottom).
    const float Left = static_cast<float>(AtX - DuelGunSize / 2);
    const float Top = static_cast<float>(AtY - DuelGunSize / 2);
    const float Right = Left + static_cast<float>(DuelGunSize);
    const float Bottom = Top + static_cast<float>(DuelGunSize);
    float X = static_cast<float>(FromX);
    float Y = static_cast<float>(FromY);
    float SpeedX = ShotSpeed * SinTable[Angle];
    float SpeedY = ShotSpeed * CosTable[Angle];
    const double FieldWidth = Width;
    const double FieldHeight = Height;
    for (std::int32_t Move = 1; Move <= DuelLongestFlight; ++Move) {
        // The pool's step: each value lands in a float before the next uses it.
        SpeedX = SpeedX / DragDivisor;
        const float DragY = SpeedY / DragDivisor;
        SpeedY = DragY + Gravity;
        X = X + SpeedX;
        Y = Y + SpeedY;
        if (X < 0.0f || static_cast<double>(X) >= FieldWidth || static_cast<double>(Y) >= FieldHeight) break;
        if (!(Y >= 0.0f)) continue;
        const float PixelX = std::nearbyint(X);
        const float PixelY = std::nearbyint(Y);
        if (PixelX >= Left && PixelX < Right && PixelY >= Top && PixelY < Bottom) return Move;
    }
    return DuelNoHit;
}

std::array<std::int32_t, 256> FirstHitTimes(const std::array<std::int32_t, 256>& Flights) {
    std::array<std::int32_t, 256> Times{};
    for (std::int32_t Start = 0; Start < 256; ++Start) {
        std::int32_t Best = DuelNoHit;
        for (std::int32_t Aim = 0; Aim < 256; ++Aim) {
            if (Flights[static_cast<std::size_t>(Aim)] == DuelNoHit) continue;
            const std::int32_t Turn = (Aim - Start) & 255;
            Best = std::min(Best, Turn + Flights[static_cast<std::size_t>(Aim)]);
        }
        Times[static_cast<std::size_t>(Start)] = Best;
    }
    return Times;
}

namespace {

// The first-hit times of the gun at `From` against the square at `At`; all DuelNoHit when no angle hits.
std::array<std::int32_t, 256> TimesAgainst(const GunPlace& From, const GunPlace& At, std::int32_t Width,
                                           std::int32_t Height) {
    std::array<std::int32_t, 256> Flights{};
    for (std::int32_t Aim = 0; Aim < 256; ++Aim) {
        Flights[static_cast<std::size_t>(Aim)] =
            FlightToHit(From.X, From.Y, static_cast<std::uint8_t>(Aim), At.X, At.Y, Width, Height);
    }
    return FirstHitTimes(Flights);
}

// True when some first-hit time of one gun is also one of the other's: a balanced pair exists.
bool SharesATime(const std::array<std::int32_t, 256>& Cannon, const std::array<std::int32_t, 256>& Helicopter) {
    for (const std::int32_t Time : Cannon) {
        for (const std::int32_t Other : Helicopter) {
            if (Time == Other) return true;
        }
    }
    return false;
}

}  // namespace

DuelField DrawDuelField(std::uint32_t Seed, std::int32_t Width, std::int32_t Height) {
    BuildTrigTables();
    SplitMix64 Draw(Seed);
    DuelField Field;
    const auto Span = [](std::int32_t Size) { return static_cast<std::uint64_t>(Size - DuelGunSize + 1); };
    const auto Coordinate = [&Draw](std::uint64_t Count) {
        return static_cast<std::int32_t>(DuelGunSize / 2 + Draw.Below(Count));
    };
    std::array<std::int32_t, 256> CannonTimes{}, HelicopterTimes{};
    GunPlace& Cannon = Field.Guns[0];
    GunPlace& Helicopter = Field.Guns[1];
    for (;;) {
        ++Field.PlaceDraws;
        Cannon.X = Coordinate(Span(Width));
        Cannon.Y = Coordinate(Span(Height));
        Helicopter.X = Coordinate(Span(Width));
        Helicopter.Y = Coordinate(Span(Height));
        const std::int32_t Dx = Helicopter.X - Cannon.X;
        const std::int32_t Dy = Helicopter.Y - Cannon.Y;
        if (Dx * Dx + Dy * Dy < DuelMinDistance * DuelMinDistance) continue;
        CannonTimes = TimesAgainst(Cannon, Helicopter, Width, Height);
        if (CannonTimes[0] == DuelNoHit) continue;  // no angle hits: every start angle says so
        HelicopterTimes = TimesAgainst(Helicopter, Cannon, Width, Height);
        if (HelicopterTimes[0] == DuelNoHit) continue;
        if (SharesATime(CannonTimes, HelicopterTimes)) break;
    }
    std::vector<std::uint8_t> Matching;
    for (;;) {
        ++Field.AngleDraws;
        Cannon.Angle = static_cast<std::uint8_t>(Draw.Below(256));
        Matching.clear();
        for (std::int32_t Angle = 0; Angle < 256; ++Angle) {
            if (HelicopterTimes[static_cast<std::size_t>(Angle)] == CannonTimes[Cannon.Angle]) {
                Matching.push_back(static_cast<std::uint8_t>(Angle));
            }
        }
        if (Matching.empty()) continue;
        Helicopter.Angle = Matching[Draw.Below(Matching.size())];
        return Field;
    }
}

}  // namespace brakkenfel
