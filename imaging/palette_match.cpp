#include "imaging/palette_match.h"

namespace quorvex {

int FindPaletteIndex(std::span<const TPaletteEntry> palette, TColor colour) noexcept {
  const size_t count = palette.size() < kMaxPaletteEntries ? palette.size() : kMaxPaletteEntries;
  for (size_t i = 0; i < count; ++i) {
    const TPaletteEntry& entry = palette[i];
    const TColor value = TColor{entry.Red} | TColor{entry.Green} << 8 | TColor{entry.Blue} << 16;
    if (value == colour) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace quorvex
