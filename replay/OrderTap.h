// The seam through which a recording sees every order a contestant gives its gun.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "replay/MatchFile.h"

namespace brakkenfel {

/// Gathers the orders each gun is given during a move, already as the match file's text, just
/// before the registry carries them out. Not virtual and inline: it runs on every order of a
/// recorded run, and a call through a table cost more than the order's own bookkeeping.
class OrderTap {
public:
    /// Room for one gun's orders in a line, leaving enough for the other's, the hash and the counts.
    static constexpr std::size_t MaxText = (MaxMatchLine - 200) / MatchGuns;

    /// The gun at registry slot `Index` was ordered to turn toward `Angle`.
    void Rotate(std::int16_t Index, std::uint8_t Angle) {
        if (Index < 0 || static_cast<std::size_t>(Index) >= MatchGuns) return;
        const auto Gun = static_cast<std::size_t>(Index);
        // Past MaxText only the length grows, so that the recorder can refuse the move.
        if (Lengths[Gun] <= MaxText) std::memcpy(&Texts[Gun][Lengths[Gun]], TurnTexts[Angle].data(), 4);
        Lengths[Gun] += TurnLengths[Angle];
    }
    /// The gun at registry slot `Index` was ordered to shoot (whether or not it has reloaded).
    void Shoot(std::int16_t Index) {
        if (Index < 0 || static_cast<std::size_t>(Index) >= MatchGuns) return;
        const auto Gun = static_cast<std::size_t>(Index);
        if (Lengths[Gun] <= MaxText) Texts[Gun][Lengths[Gun]] = 's';
        ++Lengths[Gun];
    }

protected:
    /// Gun `Gun`'s orders of the move so far; longer than MaxText when they no longer fit.
    std::size_t Length(std::size_t Gun) const { return Lengths[Gun]; }
    /// Their text (its first Length bytes, when that is at most MaxText).
    const char* Text(std::size_t Gun) const { return Texts[Gun].data(); }
    /// Starts the next move.
    void Clear() { Lengths = {}; }

private:
    // How many of its four bytes each angle's text uses: a load costs less than counting digits.
    static constexpr std::array<std::uint8_t, 256> TurnLengths = [] {
        std::array<std::uint8_t, 256> Table{};
        for (std::size_t Angle = 0; Angle < 256; ++Angle) Table[Angle] = 2 + (Angle >= 10) + (Angle >= 100);
        return Table;
    }();
    // "rA" for every angle, padded to four bytes so that one fixed-size copy writes any of them.
    static constexpr std::array<std::array<char, 4>, 256> TurnTexts = [] {
        std::array<std::array<char, 4>, 256> Table{};
        for (std::size_t Angle = 0; Angle < 256; ++Angle) {
            char* Out = Table[Angle].data();
            *Out++ = 'r';
            if (Angle >= 100) *Out++ = static_cast<char>('0' + Angle / 100);
            if (Angle >= 10) *Out++ = static_cast<char>('0' + Angle / 10 % 10);
            *Out = static_cast<char>('0' + Angle % 10);
        }
        return Table;
    }();

    // Three spare bytes: a turn's four-byte copy may start at MaxText.
    std::array<std::array<char, MaxText + 4>, MatchGuns> Texts{};
    std::array<std::size_t, MatchGuns> Lengths{};
};

/// The tap of the run being recorded; null (no cost beyond a test) when nothing records.
extern OrderTap* ActiveOrderTap;

}  // namespace brakkenfel
