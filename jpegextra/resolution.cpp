#include "jpegextra/resolution.h"

#include <cmath>

namespace quorvex {

namespace {

// Nearest integer, ties to even (the default floating-point rounding mode).
int64_t RoundEven(double value) noexcept {
  return static_cast<int64_t>(std::nearbyint(value));
}

}  // namespace

uint16_t DensityToDPI(uint8_t unit, uint16_t density) noexcept {
  switch (unit) {
    case kDensityPerInch:
      return density;
    case kDensityPerCm:
      return static_cast<uint16_t>(RoundEven(density * 2.54) & 0xFFFF);
    default:
      return 0;
  }
}

int32_t DensityToPelsPerMeter(uint8_t unit, uint16_t density) noexcept {
  switch (unit) {
    case kDensityPerInch:
      return static_cast<int32_t>(RoundEven(density * kPelsPerMeterPerDPI));
    case kDensityPerCm:
      return int32_t{density} * 100;
    default:
      return 0;
  }
}

uint16_t PelsPerMeterToDPI(int32_t pelsPerMeter) noexcept {
  return static_cast<uint16_t>(RoundEven(pelsPerMeter / kPelsPerMeterPerDPI) & 0xFFFF);
}

int32_t DPIToPelsPerMeter(uint16_t dpi) noexcept {
  return static_cast<int32_t>(RoundEven(dpi * kPelsPerMeterPerDPI));
}

}  // namespace quorvex
