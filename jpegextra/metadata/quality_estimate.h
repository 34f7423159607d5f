// Estimating the JPEG quality from the quantization tables of a DQT segment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace quorvex {

// The example tables of ITU-T T.81 Annex K (K.1 luminance, K.2 chrominance) in zigzag order,
// the order in which a DQT segment lists its values.
using TQuantTable = std::array<uint16_t, 64>;
const std::array<TQuantTable, 2>& ReferenceQuantTables() noexcept;

// Sums over every table value of a file, each as a percentage of its reference value.
class TQualityStatistics {
 public:
  // One table as stored: identifier byte's low bit picks the reference (0 and 2 luminance,
  // 1 and 3 chrominance).
  void AddTable(uint8_t identifier, const TQuantTable& values) noexcept;

  int Tables() const noexcept { return tables_; }
  // Variance of the percentages; nullopt when no table was added.
  std::optional<double> Variance() const noexcept;
  // 100 when every value is 1; otherwise from the mean percentage m: 5000 / m above 100,
  // (200 - m) / 2 at or below; rounded, ties to even; 0 when outside 0..100. nullopt without
  // tables.
  std::optional<int32_t> Quality() const noexcept;

 private:
  int tables_ = 0;
  double sum_ = 0;
  double sumOfSquares_ = 0;
  bool allOnes_ = true;
};

}  // namespace quorvex
