#include "jpegextra/jpeg_progress.h"

#include <chrono>
#include <cmath>

namespace quorvex {

uint32_t SteadyTickCount() noexcept {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

namespace {

// The share of all passes done so far, 0 to 100. Library counters that are not set up yet
// (a limit or a pass total of 0) count as no progress rather than a division by zero.
int PercentDone(const TProgressSample& s) noexcept {
  if (s.TotalPasses <= 0) return 0;
  const double pass = s.PassLimit > 0 ? static_cast<double>(s.PassCounter) / s.PassLimit : 0.0;
  const double percent = (pass + s.CompletedPasses) * 100.0 / s.TotalPasses;
  if (!(percent > 0)) return 0;
  if (percent >= 100) return 100;
  return static_cast<int>(std::trunc(percent));
}

}  // namespace

std::optional<TProgressReport> TProgressThrottle::Update(uint32_t tick,
                                                         const TProgressSample& sample) noexcept {
  // Unsigned difference, so a wrapping tick counter still measures the interval.
  if (tick - lastTick_ < kIntervalMs) return std::nullopt;
  const uint32_t previous = lastTick_;
  lastTick_ = tick;
  if (previous == 0) return std::nullopt;

  TProgressRect rect;
  if (sample.Decompressing) {
    rect = {0, lastRow_, sample.OutputWidth, sample.OutputScanline};
    if (sample.OutputScanline < lastRow_) rect.Bottom = sample.OutputHeight;
  }
  const int percent = PercentDone(sample);
  if (percent == lastPercent_) return std::nullopt;
  lastPercent_ = percent;
  if (sample.Decompressing) lastRow_ = sample.OutputScanline;
  return TProgressReport{static_cast<uint8_t>(percent), rect.Bottom - rect.Top >= 4, rect};
}

}  // namespace quorvex
