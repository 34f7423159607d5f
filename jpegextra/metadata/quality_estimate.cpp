#include "jpegextra/metadata/quality_estimate.h"

#include <cmath>

namespace quorvex {
namespace {

constexpr std::array<uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr TQuantTable kLuminanceNatural = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

constexpr TQuantTable kChrominanceNatural = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

constexpr TQuantTable Zigzag(const TQuantTable& natural) {
  TQuantTable zigzag{};
  for (size_t k = 0; k < 64; ++k) zigzag[k] = natural[kZigzagToNatural[k]];
  return zigzag;
}

constexpr std::array<TQuantTable, 2> kReference = {Zigzag(kLuminanceNatural),
                                                   Zigzag(kChrominanceNatural)};

}  // namespace

const std::array<TQuantTable, 2>& ReferenceQuantTables() noexcept {
  return kReference;
}

void TQualityStatistics::AddTable(uint8_t identifier, const TQuantTable& values) noexcept {
  ++tables_;
  const TQuantTable& reference = kReference[identifier & 1];
  for (size_t k = 0; k < 64; ++k) {
    if (values[k] != 1) allOnes_ = false;
    const double percent = values[k] * 100.0 / reference[k];
    sum_ += percent;
    sumOfSquares_ += percent * percent;
  }
}

std::optional<double> TQualityStatistics::Variance() const noexcept {
  if (tables_ == 0) return std::nullopt;
  const double n = tables_ * 64.0;
  const double mean = sum_ / n;
  return sumOfSquares_ / n - mean * mean;
}

std::optional<int32_t> TQualityStatistics::Quality() const noexcept {
  if (tables_ == 0) return std::nullopt;
  const double mean = sum_ / (tables_ * 64.0);
  double quality;
  if (allOnes_)
    quality = 100;
  else if (mean > 100)
    quality = 5000 / mean;
  else
    quality = (200 - mean) / 2;
  if (!(quality >= 0 && quality <= 100)) return 0;
  return static_cast<int32_t>(std::nearbyint(quality));
}

}  // namespace quorvex
