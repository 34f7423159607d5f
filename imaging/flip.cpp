#include "imaging/flip.h"

#include <cstring>

namespace quorvex {

namespace {

// A blank image of the same size, format and palette. Every pixel byte is written afterwards;
// the pad bytes at the row ends stay zero and are never copied.
void MakeScratch(TBitmap& scratch, const TBitmap& image) {
  scratch.SetPixelFormat(image.PixelFormat());
  scratch.SetPalette(image.Palette());
  scratch.SetSize(image.Width(), image.Height());
}

template <int kBytes>
void MirrorRow(uint8_t* __restrict out, const uint8_t* __restrict in, int32_t width) {
  const uint8_t* from = in + static_cast<size_t>(width) * kBytes;
  for (int32_t x = 0; x < width; ++x, out += kBytes) {
    from -= kBytes;
    std::memcpy(out, from, kBytes);
  }
}

}  // namespace

void ReverseRowOrder(TBitmap& image) {
  if (image.Width() == 0) return;
  TBitmap scratch;
  MakeScratch(scratch, image);
  const int32_t height = image.Height();
  const size_t rowBytes =
      static_cast<size_t>(image.Width()) * TBitmap::BytesPerPixel(image.PixelFormat());
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(scratch.Row(height - 1 - y), image.ScanLine(y), rowBytes);
  image.CopyFrom(scratch);
}

void ReverseColumnOrder(TBitmap& image) {
  if (image.Width() == 0) return;
  TBitmap scratch;
  MakeScratch(scratch, image);
  const int32_t height = image.Height();
  const int32_t width = image.Width();
  const bool colour = image.PixelFormat() == TPixelFormat::pf24bit;
  for (int32_t y = 0; y < height; ++y) {
    if (colour)
      MirrorRow<3>(scratch.Row(y), image.ScanLine(y), width);
    else
      MirrorRow<1>(scratch.Row(y), image.ScanLine(y), width);
  }
  image.CopyFrom(scratch);
}

}  // namespace quorvex
