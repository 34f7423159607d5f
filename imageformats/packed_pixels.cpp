#include "imageformats/packed_pixels.h"

namespace quorvex {

TPackedPixels PackPixels(const TBitmap& image, TPacking packing) {
  const int channels = packing == TPacking::Gray ? 1 : 3;
  const size_t width = static_cast<size_t>(image.Width());
  TPackedPixels packed;
  packed.Channels = channels;
  packed.Width = image.Width();
  packed.Height = image.Height();
  packed.Bytes.resize(width * static_cast<size_t>(image.Height()) * static_cast<size_t>(channels));
  const bool indexed = image.PixelFormat() == TPixelFormat::pf8bit;
  const auto palette = image.Palette();
  uint8_t* out = packed.Bytes.data();
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.ScanLine(y);
    for (size_t x = 0; x < width; ++x) {
      uint8_t b, g, r;
      if (indexed) {
        // An index outside a short palette reads as black, as the JPEG encoder's does.
        const TPaletteEntry entry = row[x] < palette.size() ? palette[row[x]] : TPaletteEntry{};
        b = entry.Blue;
        g = entry.Green;
        r = entry.Red;
      } else {
        b = row[3 * x];
        g = row[3 * x + 1];
        r = row[3 * x + 2];
      }
      if (packing == TPacking::Rgb) {
        *out++ = r;
        *out++ = g;
        *out++ = b;
        continue;
      }
      const auto gray = static_cast<uint8_t>((b + g + r) / 3);
      for (int c = 0; c < channels; ++c) *out++ = gray;
    }
  }
  return packed;
}

}  // namespace quorvex
