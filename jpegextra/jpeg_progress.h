// Progress reporting of long decodes and encodes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quorvex {

class TJPEGImage;

enum class TProgressStage { psStarting, psRunning, psEnding };

// The rows that changed since the last report (decoding only; empty when encoding).
struct TProgressRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend bool operator==(const TProgressRect&, const TProgressRect&) = default;
};

// May raise EAbort to cancel the operation.
using TProgressEvent =
    std::function<void(TJPEGImage& sender, TProgressStage stage, uint8_t percentDone,
                       bool redrawNow, const TProgressRect& rect, const std::string& message)>;

// A millisecond tick counter that wraps at 2^32. Replaceable so that tests need no waiting.
using TTickSource = std::function<uint32_t()>;
uint32_t SteadyTickCount() noexcept;

// The library's pass counters at one progress callback.
struct TProgressSample {
  long PassCounter = 0;
  long PassLimit = 0;
  int CompletedPasses = 0;
  int TotalPasses = 0;
  bool Decompressing = false;
  int32_t OutputScanline = 0;
  int32_t OutputWidth = 0;
  int32_t OutputHeight = 0;
};

struct TProgressReport {
  uint8_t Percent = 0;
  bool RedrawNow = false;
  TProgressRect Rect;
};

// Throttles the library's frequent callbacks to at most one report per 500 ms and per change
// of the percentage. The first callback only starts the clock.
class TProgressThrottle {
 public:
  static constexpr uint32_t kIntervalMs = 500;

  std::optional<TProgressReport> Update(uint32_t tick, const TProgressSample& sample) noexcept;

 private:
  int lastPercent_ = 0;
  uint32_t lastTick_ = 0;
  int32_t lastRow_ = 0;
};

}  // namespace quorvex
