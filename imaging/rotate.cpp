#include "imaging/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "imaging/errors.h"
#include "imaging/host_control.h"
#include "imaging/palette_match.h"
#include "imaging/round_half_even.h"

namespace quorvex {

namespace {

int32_t RoundedExtent(double extent) {
  const double rounded = RoundHalfEven(extent);
  if (!(rounded <= std::numeric_limits<int32_t>::max())) throw EOutOfMemory();
  return static_cast<int32_t>(rounded);
}

// Nearest integer, ties to even, for the rotation's coordinates. Values beyond 2^51 in magnitude
// come back still beyond 2^50, infinities and NaN unchanged, so the range test rejects them all;
// no branch, so the coordinate loop below becomes vector code.
inline double RoundCoordinate(double value) noexcept {
  constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
  return (value + kShift) - kShift;
}

// Inverse mapping of every result pixel into the source, nearest neighbour. Reals follow the
// rotation's rules: stored values are 32-bit floats, arithmetic between them in double.
template <int kBytes>
void Rotate(TBitmap& dest, const TBitmap& source, TRotation rotation,
            const uint8_t (&fill)[kBytes]) {
  const int32_t width = source.Width();
  const int32_t height = source.Height();
  const double s = rotation.sine;
  const double c = rotation.cosine;
  const double destCentreX = static_cast<float>((dest.Width() - 1.0) / 2);
  const double destCentreY = static_cast<float>((dest.Height() - 1.0) / 2);
  const double centreX = static_cast<float>((width - 1.0) / 2);
  const double centreY = static_cast<float>((height - 1.0) / 2);
  const double maxX = width - 1.0;
  const double maxY = height - 1.0;
  const uint8_t* top = source.ScanLine(0);
  const ptrdiff_t step = height > 1 ? source.ScanLine(1) - top : 0;

  // Tiles keep the source area read for a stretch of result rows in cache; the order of the
  // pixels makes no difference to their values.
  constexpr int32_t kTileRows = 32;
  constexpr int32_t kTileColumns = 32;
  int32_t columns[kTileColumns];
  int32_t rows[kTileColumns];
  for (int32_t tileY = 0; tileY < dest.Height(); tileY += kTileRows) {
    CheckCancelled();
    const int32_t endY = std::min(dest.Height(), tileY + kTileRows);
    for (int32_t tileX = 0; tileX < dest.Width(); tileX += kTileColumns) {
      const int32_t count = std::min(dest.Width() - tileX, kTileColumns);
      for (int32_t y = tileY; y < endY; ++y) {
        const double dy = y - destCentreY;
        const double dyS = dy * s;
        const double dyC = dy * c;
        const double dx0 = tileX - destCentreX;
        for (int32_t i = 0; i < count; ++i) {
          const double dx = dx0 + i;  // exact: both are multiples of 1/2 far below 2^52
          const float sx = static_cast<float>(dx * c - dyS + centreX);
          const float sy = static_cast<float>(dx * s + dyC + centreY);
          const double ix = RoundCoordinate(sx);
          const double iy = RoundCoordinate(sy);
          // NaN fails every comparison and takes the background.
          const bool inside = (ix >= 0) & (ix <= maxX) & (iy >= 0) & (iy <= maxY);
          columns[i] = static_cast<int32_t>(inside ? ix : -1.0);
          rows[i] = static_cast<int32_t>(inside ? iy : 0.0);
        }
        uint8_t* out = dest.Row(y) + static_cast<size_t>(tileX) * kBytes;
        for (int32_t i = 0; i < count; ++i, out += kBytes) {
          if (columns[i] >= 0)
            std::memcpy(out, top + step * rows[i] + ptrdiff_t{columns[i]} * kBytes, kBytes);
          else
            std::memcpy(out, fill, kBytes);
        }
      }
    }
  }
}

}  // namespace

TRotation RotationFor(float angle) noexcept {
  const float radians = static_cast<float>(static_cast<double>(angle) * std::numbers::pi / 180);
  TRotation rotation;
  // The processor's sine gives up at 2^63; such angles have no meaningful turn. NaN fails the
  // test as well, so no NaN ever reaches the size computation.
  if (std::fabs(radians) < 0x1p63f) {
    rotation.sine = static_cast<float>(std::sin(static_cast<double>(radians)));
    rotation.cosine = static_cast<float>(std::cos(static_cast<double>(radians)));
  }
  return rotation;
}

TRotatedSize RotatedSize(int32_t width, int32_t height, TRotation rotation) {
  const double w = width;
  const double h = height;
  const double s = rotation.sine;
  const double c = rotation.cosine;
  TRotatedSize size;
  size.width = RoundedExtent(std::fabs(w * c) + std::fabs(h * s));
  size.height = RoundedExtent(std::fabs(w * s) + std::fabs(h * c));
  return size;
}

void RotateBitmap(const TBitmap& source, std::unique_ptr<TBitmap>& result, TColor background,
                  float angle) {
  const TRotation rotation = RotationFor(angle);
  std::unique_ptr<TBitmap> held = std::move(result);
  if (held.get() != &source) held.reset();

  result = std::make_unique<TBitmap>();
  // Nothing to turn: the formula would otherwise make a picture of background out of nothing.
  if (source.Empty()) {
    result->CopyFrom(source);
    return;
  }
  const TRotatedSize size = RotatedSize(source.Width(), source.Height(), rotation);
  // Format and palette of the source; its pixels are not wanted, every result pixel is written.
  result->SetPixelFormat(source.PixelFormat());
  result->SetPalette(source.Palette());
  result->SetSize(size.width, size.height);
  if (result->Empty()) return;

  if (source.PixelFormat() == TPixelFormat::pf24bit) {
    const uint8_t fill[3] = {static_cast<uint8_t>(background >> 16),
                             static_cast<uint8_t>(background >> 8),
                             static_cast<uint8_t>(background)};
    Rotate<3>(*result, source, rotation, fill);
  } else {
    const uint8_t fill[1] = {static_cast<uint8_t>(FindPaletteIndex(source.Palette(), background))};
    Rotate<1>(*result, source, rotation, fill);
  }
}

}  // namespace quorvex
