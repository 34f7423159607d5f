#include "imaging/orientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorvex {

namespace {

// Source pixels are visited in square tiles, so that a transposing copy touches a bounded set
// of rows on both sides instead of striding through the whole picture for each output row.
constexpr int32_t kTile = 64;

// Every orientation is a transpose (or none) followed by mirrors of the result's columns and
// rows.
struct Steps {
  bool transpose;
  bool mirrorColumns;
  bool mirrorRows;
};

Steps StepsFor(int orientation) noexcept {
  return {orientation >= 5,
          orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7,
          orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8};
}

template <int kBytes>
void CopyOriented(TBitmap& out, const TBitmap& in, Steps steps) {
  const int32_t width = in.Width(), height = in.Height();
  const int32_t outWidth = out.Width(), outHeight = out.Height();
  std::vector<uint8_t*> outRows(static_cast<size_t>(outHeight));
  for (int32_t y = 0; y < outHeight; ++y) outRows[static_cast<size_t>(y)] = out.Row(y);
  for (int32_t top = 0; top < height; top += kTile) {
    const int32_t bottom = std::min(top + kTile, height);
    for (int32_t left = 0; left < width; left += kTile) {
      const int32_t right = std::min(left + kTile, width);
      for (int32_t y = top; y < bottom; ++y) {
        const uint8_t* from = in.ScanLine(y) + static_cast<size_t>(left) * kBytes;
        for (int32_t x = left; x < right; ++x, from += kBytes) {
          int32_t tx = steps.transpose ? y : x;
          int32_t ty = steps.transpose ? x : y;
          if (steps.mirrorColumns) tx = outWidth - 1 - tx;
          if (steps.mirrorRows) ty = outHeight - 1 - ty;
          std::memcpy(outRows[static_cast<size_t>(ty)] + static_cast<size_t>(tx) * kBytes, from,
                      kBytes);
        }
      }
    }
  }
}

}  // namespace

bool OrientationSwapsSides(int orientation) noexcept {
  return orientation >= 5 && orientation <= 8;
}

void OrientUpright(TBitmap& image, int orientation) {
  if (orientation < 2 || orientation > 8 || image.Empty()) return;
  const Steps steps = StepsFor(orientation);
  TBitmap result;
  result.SetPixelFormat(image.PixelFormat());
  result.SetPalette(image.Palette());
  if (steps.transpose)
    result.SetSize(image.Height(), image.Width());
  else
    result.SetSize(image.Width(), image.Height());
  if (image.PixelFormat() == TPixelFormat::pf24bit)
    CopyOriented<3>(result, image, steps);
  else
    CopyOriented<1>(result, image, steps);
  image.Swap(result);
}

}  // namespace quorvex
