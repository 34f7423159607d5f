#include "jpegextra/cmyk_convert.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvex {

namespace {

uint8_t ComputeChannel(int x, int k) noexcept {
  const double v = std::nearbyint((255.0 - x) / 255.0 * k + (255.0 - k));
  return static_cast<uint8_t>(255 - std::min(static_cast<int>(v), 255));
}

// All 65536 results, so a row costs three lookups per pixel instead of floating point.
struct ChannelTable {
  std::array<uint8_t, 256 * 256> values;
  ChannelTable() noexcept {
    for (int k = 0; k < 256; ++k)
      for (int x = 0; x < 256; ++x) values[k * 256 + x] = ComputeChannel(x, k);
  }
};

const ChannelTable& Table() noexcept {
  static const ChannelTable table;
  return table;
}

}  // namespace

uint8_t InvertedCmykChannel(uint8_t x, uint8_t k) noexcept {
  return Table().values[k * 256 + x];
}

void InvertedCmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width) noexcept {
  const uint8_t* values = Table().values.data();
  for (int32_t i = 0; i < width; ++i, cmyk += 4, bgr += 3) {
    const uint8_t* row = values + cmyk[3] * 256;
    bgr[0] = row[cmyk[2]];
    bgr[1] = row[cmyk[1]];
    bgr[2] = row[cmyk[0]];
  }
}

}  // namespace quorvex
