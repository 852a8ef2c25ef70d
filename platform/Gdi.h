// Our device-context layer: 32-bit bitmaps, memory device contexts, brushes and the drawing calls.
//
// The game draws the way a Win32 program does (select a bitmap into a memory context, fill, set
// pixels, copy blocks) but on plain C++ pixel arrays, so it runs and is tested without a screen.
// Handles own what they name: dropping a handle (DeleteDC, DeleteObject) frees it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace brakkenfel {

/// A colour as Win32 writes it: 0x00BBGGRR.
using COLORREF = std::uint32_t;

/// A rectangle of four signed 32-bit integers; right and bottom are exclusive.
struct RECT {
    std::int32_t left = 0;    ///< first column
    std::int32_t top = 0;     ///< first row
    std::int32_t right = 0;   ///< one past the last column
    std::int32_t bottom = 0;  ///< one past the last row
};

/// A 32-bit pixel bitmap, top row first; each pixel is 0x00RRGGBB. It owns its pixels or views
/// pixels owned elsewhere (a region of a window surface).
class GdiBitmap {
public:
    /// An owned bitmap of width x height black pixels; negative sizes count as 0.
    GdiBitmap(std::int32_t width, std::int32_t height);
    /// A view of pixels owned elsewhere; `pitch` is the distance between rows in pixels.
    GdiBitmap(std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::int32_t pitch);
    /// A copy: an owned bitmap gets pixels of its own, a view looks at the same pixels.
    GdiBitmap(const GdiBitmap& other);
    /// Copies `other` the way the copy constructor does.
    GdiBitmap& operator=(const GdiBitmap& other);
    /// Takes over `other`'s pixels and leaves it 0 x 0.
    GdiBitmap(GdiBitmap&& other) noexcept;
    /// Takes over `other`'s pixels and leaves it 0 x 0.
    GdiBitmap& operator=(GdiBitmap&& other) noexcept;

    /// Width in pixels.
    std::int32_t Width() const { return Columns; }
    /// Height in pixels.
    std::int32_t Height() const { return Rows; }
    /// Distance between the starts of two rows, in pixels.
    std::int32_t Pitch() const { return RowPitch; }
    /// The first pixel of row y (0 <= y < Height()).
    std::uint32_t* Row(std::int32_t y) { return Bits + static_cast<std::ptrdiff_t>(y) * RowPitch; }
    /// The first pixel of row y (0 <= y < Height()).
    const std::uint32_t* Row(std::int32_t y) const { return Bits + static_cast<std::ptrdiff_t>(y) * RowPitch; }
    /// The pixel at (x, y) as 0x00RRGGBB; the caller keeps (x, y) inside the bitmap.
    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const { return Row(y)[x]; }
    /// Points a view at new pixels of the same size (a window surface that was re-created).
    void Retarget(std::uint32_t* pixels, std::int32_t pitch);

private:
    std::vector<std::uint32_t> Storage;
    std::uint32_t* Bits = nullptr;
    std::int32_t Columns = 0;
    std::int32_t Rows = 0;
    std::int32_t RowPitch = 0;
};

/// A solid brush of one colour.
struct GdiBrush {
    COLORREF Color = 0;  ///< the brush's colour, 0x00BBGGRR
};

/// A shared handle to a bitmap; DeleteObject drops it.
using HBITMAP = std::shared_ptr<GdiBitmap>;
/// A shared handle to a brush; DeleteObject drops it.
using HBRUSH = std::shared_ptr<GdiBrush>;

/// A device context: the bitmap and brush currently selected into it.
class GdiDC {
public:
    /// A context with `bitmap` selected (a new memory context starts with a 1 x 1 placeholder).
    explicit GdiDC(HBITMAP bitmap);
    /// The bitmap drawing lands in.
    GdiBitmap& Target() { return *SelectedBitmap; }
    /// The selected bitmap's handle.
    const HBITMAP& Bitmap() const { return SelectedBitmap; }
    /// The selected brush's handle (none at creation).
    const HBRUSH& Brush() const { return SelectedBrush; }

private:
    friend HBITMAP SelectObject(GdiDC* dc, HBITMAP bitmap);
    friend HBRUSH SelectObject(GdiDC* dc, HBRUSH brush);
    HBITMAP SelectedBitmap;
    HBRUSH SelectedBrush;
};

/// A device context handle as drawing calls take it; it does not own the context.
using HDC = GdiDC*;
/// An owned device context; DeleteDC drops it.
using DCHandle = std::unique_ptr<GdiDC>;

/// The raster operation of BitBlt: copy the source as it is.
enum RasterOp : std::uint32_t { SRCCOPY = 0x00CC0020 };

/// A new memory context for drawing like `compatible`, with a 1 x 1 placeholder bitmap selected.
DCHandle CreateCompatibleDC(HDC compatible);
/// A new black bitmap of width x height pixels in the pixel format of `compatible`.
HBITMAP CreateCompatibleBitmap(HDC compatible, std::int32_t width, std::int32_t height);
/// Selects `bitmap` into `dc` and returns the bitmap it replaces.
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);
/// Selects `brush` into `dc` and returns the brush it replaces (none at first).
HBRUSH SelectObject(HDC dc, HBRUSH brush);
/// A new solid brush of `color`.
HBRUSH CreateSolidBrush(COLORREF color);
/// Drops a bitmap or brush handle; the object goes when its last handle does.
template <class T>
void DeleteObject(std::shared_ptr<T>& object) { object.reset(); }
/// Deletes a device context; the bitmap selected into it lives on while other handles hold it.
inline void DeleteDC(DCHandle& dc) { dc.reset(); }

/// Fills `rect` of `dc`'s bitmap with `brush`, clipped to the bitmap.
void FillRect(HDC dc, const RECT& rect, const HBRUSH& brush);
/// Sets the pixel at (x, y) of `dc`'s bitmap to `color`; a pixel outside the bitmap draws nothing.
void SetPixel(HDC dc, std::int32_t x, std::int32_t y, COLORREF color);
/// Copies the width x height block at (sx, sy) of `src` to (x, y) of `dst`, clipped to both bitmaps.
void BitBlt(HDC dst, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
            HDC src, std::int32_t sx, std::int32_t sy, RasterOp rop);

/// Converts a Win32 colour (0x00BBGGRR) to a pixel (0x00RRGGBB).
constexpr std::uint32_t PixelFromColor(COLORREF color) {
    return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

}  // namespace brakkenfel
