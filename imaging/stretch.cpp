#include "imaging/stretch.h"

#include <cstring>
#include <new>
#include <vector>

#include "imaging/errors.h"
#include "imaging/halftone.h"
#include "imaging/host_control.h"
#include "imaging/resample_taps.h"

namespace quorvex {

namespace {

template <int kBytes>
void SelectPixels(uint8_t* __restrict out, const uint8_t* __restrict in,
                  const std::vector<int32_t>& columns) {
  const size_t width = columns.size();
  for (size_t x = 0; x < width; ++x)
    std::memcpy(out + kBytes * x, in + static_cast<size_t>(kBytes) * columns[x], kBytes);
}

}  // namespace

void StretchColorOnColor(TBitmap& dest, const TBitmap& source) {
  if (source.Empty() || dest.Empty()) return;
  if (source.PixelFormat() != dest.PixelFormat())
    throw EInvalidGraphicOperation("Unsupported pixel format");
  std::vector<int32_t> columns;
  try {
    columns = BuildNearestMap(source.Width(), dest.Width());
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  const int32_t height = dest.Height();
  const bool colour = source.PixelFormat() == TPixelFormat::pf24bit;
  const size_t rowBytes =
      static_cast<size_t>(dest.Width()) * TBitmap::BytesPerPixel(dest.PixelFormat());
  int32_t previous = -1;
  for (int32_t y = 0; y < height; ++y) {
    CheckCancelled();
    const int32_t from = NearestSource(y, source.Height(), height);
    uint8_t* out = dest.Row(y);
    if (from == previous) {
      // A repeated source row: the row above is already its stretch.
      std::memcpy(out, dest.ScanLine(y - 1), rowBytes);
      continue;
    }
    previous = from;
    if (colour)
      SelectPixels<3>(out, source.ScanLine(from), columns);
    else
      SelectPixels<1>(out, source.ScanLine(from), columns);
  }
}

void StretchBitmap(TBitmap& dest, const TBitmap& source, TStretchMode mode) {
  if (mode == TStretchMode::Halftone && source.PixelFormat() == TPixelFormat::pf24bit)
    StretchHalftone(dest, source);
  else
    StretchColorOnColor(dest, source);
}

}  // namespace quorvex
