// How the JPEG quality scale (0..100) maps onto the other formats' settings, and the encoder
// effort chosen for thumbnails.
#pragma once

namespace quorvex {

// libwebp's method: 4, its command line's default, a balance of time and size.
inline constexpr int kWebPMethod = 4;
// libaom's speed through libavif (0 slowest .. 10 fastest).
inline constexpr int kAvifSpeed = 6;

// The WebP quality whose pictures measure as alike as a JPEG of this quality does.
int WebPQuality(int jpegQuality) noexcept;
// The AV1 quantizer (0 best .. 63 worst) whose pictures measure as alike as a JPEG of this quality.
int AvifQuantizer(int jpegQuality) noexcept;

}  // namespace quorvex
