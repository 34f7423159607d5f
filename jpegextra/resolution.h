// Conversions between the JFIF density, dots per inch and pixels per metre.
#pragma once

#include <cstdint>

namespace quorvex {

inline constexpr double kPelsPerMeterPerDPI = 39.37007874;

// JFIF density units.
inline constexpr uint8_t kDensityNone = 0;
inline constexpr uint8_t kDensityPerInch = 1;
inline constexpr uint8_t kDensityPerCm = 2;

// Dots per inch from a JFIF density: per inch as is, per centimetre x 2.54 rounded (ties to
// even) with the low 16 bits kept, anything else 0.
uint16_t DensityToDPI(uint8_t unit, uint16_t density) noexcept;
// Pixels per metre from a JFIF density: per inch x 39.37007874 rounded, per centimetre x 100.
int32_t DensityToPelsPerMeter(uint8_t unit, uint16_t density) noexcept;
// round(pels / 39.37007874), low 16 bits.
uint16_t PelsPerMeterToDPI(int32_t pelsPerMeter) noexcept;
// round(dpi x 39.37007874).
int32_t DPIToPelsPerMeter(uint16_t dpi) noexcept;

}  // namespace quorvex
