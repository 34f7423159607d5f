// The in-memory pixel image: 24-bit blue-green-red or 8-bit indexed, rows padded to 32 bits and
// stored bottom-up as in a device-independent bitmap. Row 0 is always the top of the picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace quorvex {

enum class TPixelFormat { pf8bit, pf24bit };

// One palette entry, laid out as in a bitmap colour table.
struct TPaletteEntry {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  uint8_t Reserved = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// A colour value 0x00BBGGRR, red in the low byte (the automation OLE_COLOR layout).
using TColor = uint32_t;

// The largest raster the system creates: 16383 x 16383 pixels. Anything larger is refused as
// out of memory before a byte is allocated, whatever asked for it (a JPEG header or a transform).
inline constexpr int64_t kMaxRasterPixels = int64_t{16383} * 16383;

inline constexpr int kMaxPaletteEntries = 256;

class TBitmap {
 public:
  TBitmap();
  virtual ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  bool Empty() const noexcept { return width_ == 0 || height_ == 0; }
  TPixelFormat PixelFormat() const noexcept { return format_; }

  // Size changes keep format and palette; the pixels afterwards are zero, callers overwrite them.
  void SetWidth(int32_t width);
  void SetHeight(int32_t height);
  void SetSize(int32_t width, int32_t height);

  // Records the format on an empty image; converts every pixel on a non-empty one (8 -> 24 bit).
  void SetPixelFormat(TPixelFormat format);

  // An exact, independent copy of source: size, format, palette and pixels. The pixel block is
  // shared until either image is written through Row().
  void CopyFrom(const TBitmap& source);

  // Exchanges the whole contents with other; used to swap a finished result in.
  void Swap(TBitmap& other) noexcept;

  // Writable row, 0 = top. Makes the pixel block this image's own first.
  uint8_t* Row(int32_t y);
  // Read-only row, 0 = top. Never copies.
  const uint8_t* ScanLine(int32_t y) const;

  size_t Stride() const noexcept { return stride_; }
  static size_t StrideFor(int32_t width, TPixelFormat format) noexcept;
  static int BytesPerPixel(TPixelFormat format) noexcept {
    return format == TPixelFormat::pf24bit ? 3 : 1;
  }

  int PaletteSize() const noexcept { return paletteSize_; }
  std::span<const TPaletteEntry> Palette() const noexcept {
    return {palette_.data(), static_cast<size_t>(paletteSize_)};
  }
  // Replaces the palette; at most 256 entries are kept.
  void SetPalette(std::span<const TPaletteEntry> entries);

 private:
  struct PixelBlock;

  void Reallocate(int32_t width, int32_t height);
  const uint8_t* RowAddress(int32_t y) const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  size_t stride_ = 0;
  std::shared_ptr<PixelBlock> pixels_;
  std::array<TPaletteEntry, kMaxPaletteEntries> palette_{};
  int paletteSize_ = 0;
};

// A raster image that also carries its resolution in pixels per metre.
class TBMPImage : public TBitmap {
 public:
  int32_t XPelsPerMeter() const noexcept { return xPelsPerMeter_; }
  int32_t YPelsPerMeter() const noexcept { return yPelsPerMeter_; }
  void SetXPelsPerMeter(int32_t value) noexcept { xPelsPerMeter_ = value; }
  void SetYPelsPerMeter(int32_t value) noexcept { yPelsPerMeter_ = value; }

 private:
  int32_t xPelsPerMeter_ = 0;
  int32_t yPelsPerMeter_ = 0;
};

}  // namespace quorvex
