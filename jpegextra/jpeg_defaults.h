// Process-wide defaults that every new JPEG image object copies when it is created.
#pragma once

#include <cstdint>

namespace quorvex {

struct TJPEGDefaults {
  uint8_t Quality = 90;
  bool Grayscale = false;
  // Decode to an 8-bit palette image through colour quantization. Off: there is no screen
  // device whose colour depth could ask for it.
  bool EightBitOutput = false;
  bool Progressive = false;
};

// The record is plain shared state: set it once at start-up (or in a test) before any object is
// created; objects only read it in their constructor.
const TJPEGDefaults& JPEGDefaults() noexcept;
void SetJPEGDefaults(const TJPEGDefaults& defaults) noexcept;

}  // namespace quorvex
