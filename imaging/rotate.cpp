#include "imaging/rotate.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "imaging/errors.h"
#include "imaging/palette_match.h"
#include "imaging/round_half_even.h"

namespace quorvex {

namespace {

int32_t RoundedExtent(double extent) {
  const double rounded = RoundHalfEven(extent);
  if (!(rounded <= std::numeric_limits<int32_t>::max())) throw EOutOfMemory();
  return static_cast<int32_t>(rounded);
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

  for (int32_t y = 0; y < dest.Height(); ++y) {
    uint8_t* out = dest.Row(y);
    const double dy = y - destCentreY;
    const double dyS = dy * s;
    const double dyC = dy * c;
    for (int32_t x = 0; x < dest.Width(); ++x, out += kBytes) {
      const double dx = x - destCentreX;
      const float sx = static_cast<float>(dx * c - dyS + centreX);
      const float sy = static_cast<float>(dx * s + dyC + centreY);
      const double ix = RoundHalfEven(sx);
      const double iy = RoundHalfEven(sy);
      // NaN fails every comparison and takes the background.
      if (ix >= 0 && ix <= maxX && iy >= 0 && iy <= maxY) {
        const uint8_t* in =
            top + step * static_cast<ptrdiff_t>(iy) + static_cast<ptrdiff_t>(ix) * kBytes;
        std::memcpy(out, in, kBytes);
      } else {
        std::memcpy(out, fill, kBytes);
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
