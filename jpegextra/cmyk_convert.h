// Conversion of the four-byte CMYK pixels the JPEG library delivers for CMYK and YCCK files.
#pragma once

#include <cstdint>

namespace quorvex {

// One colour channel from an inverted ink value X (as Adobe files store C, M and Y) and the
// inverted black K: 255 - min(round((255 - X) / 255 * K + (255 - K)), 255). So (255, 255) is
// full intensity and K = 0 is black.
uint8_t InvertedCmykChannel(uint8_t x, uint8_t k) noexcept;

// Converts width pixels of C, M, Y, K into blue, green, red (C gives red, M green, Y blue).
void InvertedCmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width) noexcept;

}  // namespace quorvex
