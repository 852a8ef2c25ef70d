// The device-context layer on plain pixel arrays: bitmaps, memory contexts, fills, pixels and blocks.
#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace brakkenfel {

GdiBitmap::GdiBitmap(std::int32_t width, std::int32_t height)
    : Columns(std::max(width, 0)), Rows(std::max(height, 0)), RowPitch(std::max(width, 0)) {
    Storage.assign(static_cast<std::size_t>(Columns) * static_cast<std::size_t>(Rows), 0u);
    Bits = Storage.data();
}

GdiBitmap::GdiBitmap(std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::int32_t pitch)
    : Bits(pixels), Columns(std::max(width, 0)), Rows(std::max(height, 0)), RowPitch(pitch) {}

GdiBitmap::GdiBitmap(const GdiBitmap& other)
    : Storage(other.Storage), Columns(other.Columns), Rows(other.Rows), RowPitch(other.RowPitch) {
    // Only an owned bitmap has storage; a view shares what it looks at.
    Bits = Storage.empty() ? other.Bits : Storage.data();
}

GdiBitmap& GdiBitmap::operator=(const GdiBitmap& other) {
    if (this != &other) {
        GdiBitmap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

GdiBitmap::GdiBitmap(GdiBitmap&& other) noexcept
    : Storage(std::move(other.Storage)), Bits(std::exchange(other.Bits, nullptr)),
      Columns(std::exchange(other.Columns, 0)), Rows(std::exchange(other.Rows, 0)),
      RowPitch(std::exchange(other.RowPitch, 0)) {
    // A moved vector keeps its buffer, so Bits still points at live pixels.
    other.Storage.clear();
}

GdiBitmap& GdiBitmap::operator=(GdiBitmap&& other) noexcept {
    if (this != &other) {
        Storage = std::move(other.Storage);
        other.Storage.clear();
        Bits = std::exchange(other.Bits, nullptr);
        Columns = std::exchange(other.Columns, 0);
        Rows = std::exchange(other.Rows, 0);
        RowPitch = std::exchange(other.RowPitch, 0);
    }
    return *this;
}

void GdiBitmap::Retarget(std::uint32_t* pixels, std::int32_t pitch) {
    // An owned bitmap turned into a view no longer needs its own pixels.
    Storage.clear();
    Storage.shrink_to_fit();
    Bits = pixels;
    RowPitch = pitch;
}

GdiDC::GdiDC(HBITMAP bitmap) : SelectedBitmap(bitmap ? std::move(bitmap) : std::make_shared<GdiBitmap>(1, 1)) {}

DCHandle CreateCompatibleDC(HDC /*compatible*/) {
    return std::make_unique<GdiDC>(std::make_shared<GdiBitmap>(1, 1));
}

HBITMAP CreateCompatibleBitmap(HDC /*compatible*/, std::int32_t width, std::int32_t height) {
    // Every context draws in the one 32-bit format, so any context is compatible.
    return std::make_shared<GdiBitmap>(width, height);
}

HBITMAP SelectObject(HDC dc, HBITMAP bitmap) {
    // As in Win32, a failed selection returns no handle and leaves the context as it was.
    if (dc == nullptr || !bitmap) return nullptr;
    std::swap(dc->SelectedBitmap, bitmap);
    return bitmap;
}

HBRUSH SelectObject(HDC dc, HBRUSH brush) {
    if (dc == nullptr || !brush) return nullptr;
    std::swap(dc->SelectedBrush, brush);
    return brush;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    return std::make_shared<GdiBrush>(GdiBrush{color});
}

void FillRect(HDC dc, const RECT& rect, const HBRUSH& brush) {
    if (dc == nullptr || !brush) return;
    GdiBitmap& target = dc->Target();
    const std::int32_t left = std::max(rect.left, 0);
    const std::int32_t top = std::max(rect.top, 0);
    const std::int32_t right = std::min(rect.right, target.Width());
    const std::int32_t bottom = std::min(rect.bottom, target.Height());
    if (left >= right || top >= bottom) return;
    const std::uint32_t pixel = PixelFromColor(brush->Color);
    for (std::int32_t y = top; y < bottom; ++y) {
        std::uint32_t* row = target.Row(y);
        std::fill(row + left, row + right, pixel);
    }
}

void SetPixel(HDC dc, std::int32_t x, std::int32_t y, COLORREF color) {
    if (dc == nullptr) return;
    GdiBitmap& target = dc->Target();
    if (x < 0 || y < 0 || x >= target.Width() || y >= target.Height()) return;
    target.Row(y)[x] = PixelFromColor(color);
}

namespace {

/// Clips one axis of a block copy to both bitmaps; false when nothing of it is left.
bool ClipSpan(std::int64_t& dst, std::int64_t& src, std::int64_t& length, std::int64_t dstLimit,
              std::int64_t srcLimit) {
    const std::int64_t skip = std::max<std::int64_t>({0, -dst, -src});
    dst += skip;
    src += skip;
    length = std::min({length - skip, dstLimit - dst, srcLimit - src});
    return length > 0;
}

}  // namespace

void BitBlt(HDC dst, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
            HDC src, std::int32_t sx, std::int32_t sy, RasterOp rop) {
    if (dst == nullptr || src == nullptr || rop != SRCCOPY) return;
    GdiBitmap& to = dst->Target();
    const GdiBitmap& from = src->Target();
    // 64-bit arithmetic so offsets near the 32-bit limits cannot wrap into the bitmaps.
    std::int64_t dx = x, dy = y, fx = sx, fy = sy, w = width, h = height;
    if (!ClipSpan(dx, fx, w, to.Width(), from.Width())) return;
    if (!ClipSpan(dy, fy, h, to.Height(), from.Height())) return;
    const auto rowBytes = static_cast<std::size_t>(w) * sizeof(std::uint32_t);
    const auto copyRow = [&](std::int64_t row) {
        std::memmove(to.Row(static_cast<std::int32_t>(dy + row)) + dx,
                     from.Row(static_cast<std::int32_t>(fy + row)) + fx, rowBytes);
    };
    // Source and target may share pixels (one bitmap, or two views of one surface): copy the rows
    // in the order that never reads a row already overwritten.
    const bool targetAfterSource = std::greater<const std::uint32_t*>()(
        to.Row(static_cast<std::int32_t>(dy)) + dx, from.Row(static_cast<std::int32_t>(fy)) + fx);
    if (targetAfterSource) {
        for (std::int64_t row = h - 1; row >= 0; --row) copyRow(row);
    } else {
        for (std::int64_t row = 0; row < h; ++row) copyRow(row);
    }
}

}  // namespace brakkenfel
