#include "imaging/saliency.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace quorvex {

namespace {

// The picture is scored on a grid of at most this many points along its longer side: enough to
// place a window within a fraction of a percent, and cheap whatever the picture's size.
constexpr int32_t kGridPoints = 400;
constexpr int kEntropyBins = 32;

struct TSample {
  int Luma = 0;
  int Chroma = 0;
  bool Skin = false;
};

// The picture's colours on the grid, row by row.
class TSampleGrid {
 public:
  TSampleGrid(const TBitmap& picture, int32_t step)
      : step_(step),
        width_((picture.Width() + step - 1) / step),
        height_((picture.Height() + step - 1) / step),
        samples_(static_cast<size_t>(width_) * static_cast<size_t>(height_)) {
    const bool indexed = picture.PixelFormat() == TPixelFormat::pf8bit;
    const auto palette = picture.Palette();
    for (int32_t gy = 0; gy < height_; ++gy) {
      const uint8_t* row = picture.ScanLine(gy * step);
      for (int32_t gx = 0; gx < width_; ++gx) {
        int b, g, r;
        if (indexed) {
          const uint8_t index = row[gx * step];
          const TPaletteEntry entry = index < palette.size() ? palette[index] : TPaletteEntry{};
          b = entry.Blue, g = entry.Green, r = entry.Red;
        } else {
          const uint8_t* pixel = row + 3 * static_cast<size_t>(gx * step);
          b = pixel[0], g = pixel[1], r = pixel[2];
        }
        TSample& s = At(gx, gy);
        s.Luma = (77 * r + 150 * g + 29 * b) >> 8;
        s.Chroma = std::max({r, g, b}) - std::min({r, g, b});
        // A common rule for skin under daylight: red leads, with some green and blue.
        s.Skin = r > 95 && g > 40 && b > 20 && r > g && r > b && r - g > 15 && s.Chroma > 15;
      }
    }
  }
  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  int32_t Step() const noexcept { return step_; }
  TSample& At(int32_t x, int32_t y) { return samples_[static_cast<size_t>(y) * width_ + x]; }
  const TSample& At(int32_t x, int32_t y) const {
    return samples_[static_cast<size_t>(y) * width_ + x];
  }

 private:
  int32_t step_, width_, height_;
  std::vector<TSample> samples_;
};

// Attention per grid point: edges of brightness above the noise, colour more saturated than the
// picture's own average, and skin tones. A gently graded or plain background scores little on
// all three, whatever its hue.
std::vector<double> AttentionScores(const TSampleGrid& grid) {
  const int32_t w = grid.Width(), h = grid.Height();
  double chromaSum = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) chromaSum += grid.At(x, y).Chroma;
  const double meanChroma = chromaSum / (static_cast<double>(w) * h);
  std::vector<double> scores(static_cast<size_t>(w) * h, 0.0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const TSample& s = grid.At(x, y);
      int edge = 0;
      if (x > 0 && x + 1 < w) edge += std::abs(grid.At(x + 1, y).Luma - grid.At(x - 1, y).Luma);
      if (y > 0 && y + 1 < h) edge += std::abs(grid.At(x, y + 1).Luma - grid.At(x, y - 1).Luma);
      const double edges = std::max(0, edge - 12);
      const double saturation = std::max(0.0, s.Chroma - meanChroma - 24);
      scores[static_cast<size_t>(y) * w + x] = edges + 1.5 * saturation + (s.Skin ? 48 : 0);
    }
  }
  return scores;
}

double Entropy(const std::array<int64_t, kEntropyBins>& histogram, int64_t total) {
  if (total == 0) return 0;
  double sum = 0;
  for (const int64_t n : histogram) {
    if (n == 0) continue;
    const double p = static_cast<double>(n) / static_cast<double>(total);
    sum -= p * std::log2(p);
  }
  return sum;
}

}  // namespace

int32_t BestWindowOffset(const TBitmap& picture, int32_t windowWidth, int32_t windowHeight,
                         TSaliency kind) {
  const bool alongX = windowWidth < picture.Width();
  const int32_t room = alongX ? picture.Width() - windowWidth : picture.Height() - windowHeight;
  if (room <= 0) return 0;
  const int32_t step = std::max<int32_t>(
      1, (std::max(picture.Width(), picture.Height()) + kGridPoints - 1) / kGridPoints);
  const TSampleGrid grid(picture, step);
  // Lines across the sliding axis, in grid units, and the window's length in them.
  const int32_t lines = alongX ? grid.Width() : grid.Height();
  const int32_t across = alongX ? grid.Height() : grid.Width();
  const int32_t window =
      std::clamp<int32_t>(((alongX ? windowWidth : windowHeight) + step / 2) / step, 1, lines);
  auto sampleOf = [&](int32_t line, int32_t k) -> const TSample& {
    return alongX ? grid.At(line, k) : grid.At(k, line);
  };

  std::vector<double> windowScores(static_cast<size_t>(lines - window + 1));
  if (kind == TSaliency::Attention) {
    const std::vector<double> scores = AttentionScores(grid);
    std::vector<double> prefix(static_cast<size_t>(lines) + 1, 0.0);
    for (int32_t line = 0; line < lines; ++line) {
      double sum = 0;
      for (int32_t k = 0; k < across; ++k)
        sum += alongX ? scores[static_cast<size_t>(k) * grid.Width() + line]
                      : scores[static_cast<size_t>(line) * grid.Width() + k];
      prefix[static_cast<size_t>(line) + 1] = prefix[static_cast<size_t>(line)] + sum;
    }
    for (size_t i = 0; i < windowScores.size(); ++i)
      windowScores[i] = prefix[i + window] - prefix[i];
  } else {
    std::array<int64_t, kEntropyBins> histogram{};
    auto addLine = [&](int32_t line, int64_t sign) {
      for (int32_t k = 0; k < across; ++k)
        histogram[sampleOf(line, k).Luma * kEntropyBins / 256] += sign;
    };
    for (int32_t line = 0; line < window; ++line) addLine(line, 1);
    const int64_t total = static_cast<int64_t>(window) * across;
    for (size_t i = 0; i < windowScores.size(); ++i) {
      if (i > 0) {
        addLine(static_cast<int32_t>(i - 1), -1);
        addLine(static_cast<int32_t>(i) + window - 1, 1);
      }
      windowScores[i] = Entropy(histogram, total);
    }
  }

  // The best score; among equals, the window nearest the centre.
  const double centre = (static_cast<double>(lines) - window) / 2;
  size_t best = 0;
  for (size_t i = 1; i < windowScores.size(); ++i) {
    const double difference = windowScores[i] - windowScores[best];
    const double tolerance = 1e-9 * std::max(1.0, std::abs(windowScores[best]));
    if (difference > tolerance ||
        (difference >= -tolerance &&
         std::abs(static_cast<double>(i) - centre) < std::abs(static_cast<double>(best) - centre)))
      best = i;
  }
  return std::clamp<int32_t>(static_cast<int32_t>(best) * step, 0, room);
}

}  // namespace quorvex
