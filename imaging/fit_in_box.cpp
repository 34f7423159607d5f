#include "imaging/fit_in_box.h"

#include "imaging/errors.h"

namespace quorvex {

std::optional<TFitSize> FitInBox(int64_t width, int64_t height, int64_t boxWidth,
                                 int64_t boxHeight) {
  if (boxWidth >= width && boxHeight >= height) return std::nullopt;
  const double rw = static_cast<double>(width) / static_cast<double>(boxWidth);
  const double rh = static_cast<double>(height) / static_cast<double>(boxHeight);
  if (height == 0) return std::nullopt;
  if (rw > rh) {
    if (boxWidth <= 0) return std::nullopt;
    if (width == 0) throw EDivByZero();
    return TFitSize{boxWidth, boxWidth * height / width};
  }
  if (boxHeight <= 0) return std::nullopt;
  return TFitSize{boxHeight * width / height, boxHeight};
}

}  // namespace quorvex
