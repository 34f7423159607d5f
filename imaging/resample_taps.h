// Per-axis sampling plans for the stretches: which source pixels make up each destination pixel,
// and with which integer weights.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex {

// The run of source pixels first .. first + count - 1 behind one destination pixel. The first
// pixel weighs firstWeight, the last (when count > 1) lastWeight, every one between them the
// axis' innerWeight.
struct TTap {
  int32_t first = 0;
  int32_t count = 0;
  uint32_t firstWeight = 0;
  uint32_t lastWeight = 0;
};

// The weights of every destination pixel add up to total, so a constant line stays constant and
// a sum divided by total is an exact weighted mean.
struct TAxisTaps {
  std::vector<TTap> taps;
  uint32_t innerWeight = 0;
  uint64_t total = 1;

  uint32_t WeightOf(const TTap& tap, int32_t k) const noexcept {
    if (k == 0) return tap.firstWeight;
    return k == tap.count - 1 ? tap.lastWeight : innerWeight;
  }
};

// Area coverage: destination pixel i covers source interval [i*S/D, (i+1)*S/D) and each source
// pixel weighs the length it contributes; fractional edge pixels weigh their covered fraction.
// Weights are exact (in units of 1/D of a source pixel, reduced), total is S reduced the same way.
TAxisTaps BuildAreaTaps(int32_t sourceLength, int32_t destLength);

// Area coverage of a picture of P = numerator / denominator source pixels that starts offset /
// denominator pixels into the source and so may begin or end inside a pixel (a picture decoded
// at a reduced scale, its side rounded up, perhaps turned): destination pixel i covers
// [O + i*P/D, O + (i+1)*P/D). With denominator 1, no offset and numerator the source length,
// the same taps as BuildAreaTaps.
TAxisTaps BuildAreaTapsOver(int64_t numerator, int64_t denominator, int32_t destLength,
                            int64_t offset = 0);

// Linear interpolation between the two source pixel centres around each destination pixel
// centre, with 16-bit fractions; edges repeat the outermost pixel.
TAxisTaps BuildLinearTaps(int32_t sourceLength, int32_t destLength);

// The halftone plan: area coverage when shrinking or keeping the size, linear when enlarging
// (area coverage would only repeat pixels and show blocks).
TAxisTaps BuildHalftoneTaps(int32_t sourceLength, int32_t destLength);

// Point sampling: destination pixel i takes source pixel floor((i + 1/2) * S / D), the one under
// its centre.
std::vector<int32_t> BuildNearestMap(int32_t sourceLength, int32_t destLength);
int32_t NearestSource(int32_t index, int32_t sourceLength, int32_t destLength) noexcept;

}  // namespace quorvex
