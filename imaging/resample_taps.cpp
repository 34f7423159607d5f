#include "imaging/resample_taps.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace quorvex {

namespace {

constexpr uint32_t kLinearOne = 1u << 16;

// Divides every weight and the total by their common divisor; keeps the sums small.
void Reduce(TAxisTaps& axis) {
  uint64_t divisor = axis.total;
  if (axis.innerWeight != 0) divisor = std::gcd(divisor, uint64_t{axis.innerWeight});
  for (const TTap& tap : axis.taps) {
    divisor = std::gcd(divisor, uint64_t{tap.firstWeight});
    if (tap.count > 1) divisor = std::gcd(divisor, uint64_t{tap.lastWeight});
  }
  if (divisor <= 1) return;
  axis.total /= divisor;
  axis.innerWeight = static_cast<uint32_t>(axis.innerWeight / divisor);
  for (TTap& tap : axis.taps) {
    tap.firstWeight = static_cast<uint32_t>(tap.firstWeight / divisor);
    tap.lastWeight = static_cast<uint32_t>(tap.lastWeight / divisor);
  }
}

}  // namespace

TAxisTaps BuildAreaTaps(int32_t sourceLength, int32_t destLength) {
  return BuildAreaTapsOver(sourceLength, 1, destLength);
}

TAxisTaps BuildAreaTapsOver(int64_t numerator, int64_t denominator, int32_t destLength,
                            int64_t offset) {
  TAxisTaps axis;
  if (numerator <= 0 || denominator <= 0 || destLength <= 0 || offset < 0) return axis;
  // In units of 1/(denominator*D/g) source pixel: destination pixel i covers
  // [o + i*s, o + (i+1)*s) and source pixel j covers [j*d, (j+1)*d). Every boundary is a whole
  // unit, so the weights are exact.
  const int64_t g = std::gcd(std::gcd(numerator, denominator * destLength), offset * destLength);
  const int64_t s = numerator / g;
  const int64_t d = denominator * destLength / g;
  const int64_t o = offset * destLength / g;
  axis.total = static_cast<uint64_t>(s);
  axis.innerWeight = static_cast<uint32_t>(d);
  axis.taps.resize(static_cast<size_t>(destLength));
  for (int64_t i = 0; i < destLength; ++i) {
    const int64_t low = o + i * s;
    const int64_t high = low + s;
    const int64_t first = low / d;
    const int64_t last = (high - 1) / d;
    TTap& tap = axis.taps[static_cast<size_t>(i)];
    tap.first = static_cast<int32_t>(first);
    tap.count = static_cast<int32_t>(last - first + 1);
    tap.firstWeight = static_cast<uint32_t>(std::min(high, (first + 1) * d) - low);
    tap.lastWeight = static_cast<uint32_t>(tap.count == 1 ? tap.firstWeight : high - last * d);
  }
  return axis;
}

TAxisTaps BuildLinearTaps(int32_t sourceLength, int32_t destLength) {
  TAxisTaps axis;
  if (sourceLength <= 0 || destLength <= 0) return axis;
  axis.total = kLinearOne;
  axis.taps.resize(static_cast<size_t>(destLength));
  const int64_t twoD = 2 * int64_t{destLength};
  for (int64_t i = 0; i < destLength; ++i) {
    // Centre of destination pixel i in source pixel units, minus 1/2, times 2D.
    const int64_t position = (2 * i + 1) * sourceLength - destLength;
    int64_t first = 0;
    int64_t fraction = 0;
    if (position > 0) {
      first = position / twoD;
      fraction = ((position % twoD) * kLinearOne + destLength) / twoD;
      if (fraction == kLinearOne) {
        ++first;
        fraction = 0;
      }
    }
    TTap& tap = axis.taps[static_cast<size_t>(i)];
    if (first >= sourceLength - 1) {
      first = sourceLength - 1;
      fraction = 0;
    }
    tap.first = static_cast<int32_t>(first);
    tap.count = fraction == 0 ? 1 : 2;
    tap.firstWeight = static_cast<uint32_t>(kLinearOne - fraction);
    tap.lastWeight = static_cast<uint32_t>(fraction == 0 ? tap.firstWeight : fraction);
  }
  Reduce(axis);
  return axis;
}

TAxisTaps BuildHalftoneTaps(int32_t sourceLength, int32_t destLength) {
  return destLength > sourceLength ? BuildLinearTaps(sourceLength, destLength)
                                   : BuildAreaTaps(sourceLength, destLength);
}

int32_t NearestSource(int32_t index, int32_t sourceLength, int32_t destLength) noexcept {
  return static_cast<int32_t>((2 * int64_t{index} + 1) * sourceLength / (2 * int64_t{destLength}));
}

std::vector<int32_t> BuildNearestMap(int32_t sourceLength, int32_t destLength) {
  std::vector<int32_t> map;
  if (sourceLength <= 0 || destLength <= 0) return map;
  map.resize(static_cast<size_t>(destLength));
  for (int32_t i = 0; i < destLength; ++i) map[i] = NearestSource(i, sourceLength, destLength);
  return map;
}

}  // namespace quorvex
