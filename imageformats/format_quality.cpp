// The tables pair JPEG qualities with the other formats' settings that gave the same mean SSIM
// (scikit-image, on RGB) over twenty camera photos fitted into 400 x 400 (bench/formats measures
// it again); between two rows the setting is interpolated linearly.
#include "imageformats/format_quality.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvex {
namespace {

struct Anchor {
  int Jpeg;
  double Setting;
};

template <size_t N>
double Interpolate(const std::array<Anchor, N>& anchors, int quality) noexcept {
  quality = std::clamp(quality, 0, 100);
  for (size_t i = 1; i < N; ++i) {
    const Anchor& low = anchors[i - 1];
    const Anchor& high = anchors[i];
    if (quality <= high.Jpeg) {
      const double t = static_cast<double>(quality - low.Jpeg) / (high.Jpeg - low.Jpeg);
      return low.Setting + t * (high.Setting - low.Setting);
    }
  }
  return anchors[N - 1].Setting;
}

// WebP needs lower numbers than JPEG for the same look through the middle of the scale: its
// quality 78 measures as JPEG's 80.
constexpr std::array<Anchor, 11> kWebP = {{{0, 0},
                                           {30, 19},
                                           {50, 39},
                                           {60, 48},
                                           {70, 63},
                                           {75, 72},
                                           {80, 78},
                                           {85, 82},
                                           {90, 87},
                                           {95, 94},
                                           {100, 100}}};
// Quantizer 29 measures as JPEG's 80; the top of the scale is kept for near-lossless pictures.
constexpr std::array<Anchor, 11> kAvif = {{{0, 63},
                                           {30, 45},
                                           {50, 39},
                                           {60, 37},
                                           {70, 34},
                                           {75, 32},
                                           {80, 29},
                                           {85, 25},
                                           {90, 17},
                                           {95, 7},
                                           {100, 0}}};

}  // namespace

int WebPQuality(int jpegQuality) noexcept {
  return static_cast<int>(std::lround(Interpolate(kWebP, jpegQuality)));
}

int AvifQuantizer(int jpegQuality) noexcept {
  return static_cast<int>(std::lround(Interpolate(kAvif, jpegQuality)));
}

}  // namespace quorvex
