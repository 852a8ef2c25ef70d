// A value's bits read as another type of the same size: std::bit_cast where the standard library has it.
#pragma once

#include <bit>
#include <type_traits>

namespace brakkenfel {

/// The bits of `Value` as a `To`; usable in constant expressions. The browser build's standard
/// library (libc++ 13) has no std::bit_cast, so the compiler's built-in stands in for it there.
template <class To, class From>
    requires(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>)
constexpr To BitCast(const From& Value) noexcept {
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(Value);
#else
    return __builtin_bit_cast(To, Value);
#endif
}

}  // namespace brakkenfel
