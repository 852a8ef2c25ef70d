// The state hash: guns and bullet slots packed into 64-bit words, folded word by word.
#include "replay/StateHash.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <span>

#include "app/modMain.h"
#include "bullets/modBulletAndGravity.h"
#include "platform/BitCast.h"
#include "sprites/clsSprites.h"

namespace brakkenfel {

namespace {

// Three odd constants: multiplying by one is a bijection, so a change in any one word shows.
constexpr std::uint64_t K1 = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t K2 = 0xc2b2ae3d27d4eb4fULL;
constexpr std::uint64_t K3 = 0x165667b19e3779f9ULL;

// One fold per record, its three words combined first: their products do not wait on each other,
// so a move's hash costs a few dependent multiplies instead of three per bullet slot.
inline std::uint64_t Fold(std::uint64_t Hash, std::uint64_t A, std::uint64_t B, std::uint64_t C) {
    return (Hash ^ (A * K1 + B * K2 + C * K3)) * StateHashPrime;
}

// A bullet's three words are its own bytes (little-endian): two float pairs, then the three flags
// in the low 48 bits. Loading them whole spares the shifts and ors of packing field by field.
static_assert(std::endian::native == std::endian::little, "the hash words are little-endian");
static_assert(offsetof(Bullet, Y) == 4 && offsetof(Bullet, SpeedX) == 8 && offsetof(Bullet, SpeedY) == 12 &&
              offsetof(Bullet, Active) == 16 && offsetof(Bullet, Owner) == 18 && offsetof(Bullet, Scored) == 20 &&
              sizeof(Bullet) == 24);
constexpr std::uint64_t FlagBits = 0xffff'ffff'ffffULL;  // the two padding bytes above the flags are left out

inline std::uint64_t Word(const void* At) {
    std::uint64_t Value;
    std::memcpy(&Value, At, sizeof Value);
    return Value;
}

inline std::uint64_t Pair(float Low, float High) {
    return BitCast<std::uint32_t>(Low) | static_cast<std::uint64_t>(BitCast<std::uint32_t>(High)) << 32;
}

inline std::uint64_t Half(std::int16_t Value) { return static_cast<std::uint16_t>(Value); }

}  // namespace

std::uint64_t StateHash() {
    // Read through the unchecked view: the checked accessor's calls cost as much as the guns' folds.
    const std::span<const SpriteData> Guns = Sprites ? Sprites->Records() : std::span<const SpriteData>();
    std::uint64_t Hash = Fold(StateHashBasis, static_cast<std::uint32_t>(Guns.size()), Bullets.size(), 0);
    for (const SpriteData& Gun : Guns) {
        Hash = Fold(Hash, Pair(Gun.X, Gun.Y),
                    Gun.Angle | static_cast<std::uint64_t>(Gun.TargetAngle) << 8 |
                        static_cast<std::uint64_t>(Gun.RotateLeft) << 16 | Half(Gun.ReloadLeft) << 32 |
                        Half(Gun.InUse) << 48,
                    static_cast<std::uint64_t>(Gun.ShotsFired));
    }
    for (const Bullet& Shot : Bullets) {
        Hash = Fold(Hash, Word(&Shot.X), Word(&Shot.SpeedX), Word(&Shot.Active) & FlagBits);
    }
    return Hash;
}

}  // namespace brakkenfel
