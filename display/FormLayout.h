// The main window's stored layout, in pixels: every backend builds its window from these numbers.
#pragma once

#include <cstdint>

namespace brakkenfel::FormLayout {

/// Client area of the main window.
inline constexpr std::int32_t ClientWidth = 601;
/// Client area of the main window.
inline constexpr std::int32_t ClientHeight = 369;
/// Outer left edge of the picture box.
inline constexpr std::int32_t PictureLeft = 8;
/// Outer top edge of the picture box.
inline constexpr std::int32_t PictureTop = 8;
/// Outer width of the picture box, border included.
inline constexpr std::int32_t PictureOuterWidth = 377;
/// Outer height of the picture box, border included.
inline constexpr std::int32_t PictureOuterHeight = 289;
/// Width of the picture box's sunken border on each side.
inline constexpr std::int32_t PictureBorder = 2;
/// Inner width of the picture box: the field.
inline constexpr std::int32_t PictureInnerWidth = PictureOuterWidth - 2 * PictureBorder;
/// Inner height of the picture box: the field.
inline constexpr std::int32_t PictureInnerHeight = PictureOuterHeight - 2 * PictureBorder;
/// Left edge of the bullet-count label.
inline constexpr std::int32_t LabelLeft = 8;
/// Top edge of the bullet-count label.
inline constexpr std::int32_t LabelTop = 304;
/// Height of the bullet-count label: one line.
inline constexpr std::int32_t LabelHeight = 19;

}  // namespace brakkenfel::FormLayout
