#include "imaging/halftone.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/errors.h"
#include "imaging/resample_taps.h"

namespace quorvex {

namespace {

constexpr int kChannels = 3;
// Unweighted rows added up in 16 bits before one multiply: 257 * 255 = 65535.
constexpr int kMaxRowsPer16BitSum = 257;
// Vertical-first keeps 4 bytes per source byte of one row; wider sources go horizontal-first.
constexpr int32_t kMaxVerticalFirstWidth = 1 << 20;
// Destination columns per band of the horizontal-first pass (72 bytes of buffers each).
constexpr size_t kHorizontalFirstBand = 4096;

// Walks the rows of a raster in either direction, without a range check per row.
class TRowWalker {
 public:
  explicit TRowWalker(const TBitmap& image)
      : top_(image.ScanLine(0)),
        step_(image.Height() > 1 ? image.ScanLine(1) - image.ScanLine(0) : 0) {}
  const uint8_t* operator()(int32_t y) const noexcept { return top_ + step_ * y; }

 private:
  const uint8_t* top_;
  ptrdiff_t step_;
};

// The weighted sum over the destination area is an integer below 255 * total; dividing by the
// total and rounding half to even gives the mean. The sums stay below 2^52, so a double holds
// them exactly, and a multiply by the inverse finds the quotient to within one; the remainder
// then settles it and the tie exactly, without a division per channel. Small totals (halving,
// thirds) look every possible sum up in a table of those same results instead, once there are
// more values to make than the table holds.
class TNormaliser {
 public:
  TNormaliser(uint64_t total, uint64_t uses)
      : total_(total), inverse_(1.0 / static_cast<double>(total)) {
    const uint64_t sums = 255 * total + 1;
    if (sums > kMaxTableSize || sums > uses) return;
    table_.resize(sums);
    for (uint64_t sum = 0; sum < sums; ++sum) table_[sum] = Divide(sum);
  }
  uint8_t operator()(uint64_t sum) const noexcept {
    return sum < table_.size() ? table_[sum] : Divide(sum);
  }
  // The table, indexed by any sum up to 255 * total; nullptr when there is none.
  const uint8_t* Table() const noexcept { return table_.empty() ? nullptr : table_.data(); }

 private:
  static constexpr uint64_t kMaxTableSize = 1 << 16;

  uint8_t Divide(uint64_t sum) const noexcept {
    uint64_t quotient =
        static_cast<uint64_t>(static_cast<double>(static_cast<int64_t>(sum)) * inverse_);
    if (quotient * total_ > sum) {
      --quotient;
    } else if (sum - quotient * total_ >= total_) {
      ++quotient;
    }
    const uint64_t twiceRemainder = 2 * (sum - quotient * total_);
    if (twiceRemainder > total_ || (twiceRemainder == total_ && (quotient & 1) != 0)) ++quotient;
    return static_cast<uint8_t>(quotient > 255 ? 255 : quotient);
  }

  uint64_t total_;
  double inverse_;
  std::vector<uint8_t> table_;
};

// Channel values a stretch into dest produces.
uint64_t ChannelCount(const TBitmap& dest) noexcept {
  return static_cast<uint64_t>(dest.Width()) * static_cast<uint64_t>(dest.Height()) * kChannels;
}

template <class Acc>
void AssignWeighted(Acc* __restrict acc, const uint8_t* __restrict row, size_t n, Acc w) {
  for (size_t k = 0; k < n; ++k) acc[k] = w * row[k];
}

template <class Acc>
void AddWeighted(Acc* __restrict acc, const uint8_t* __restrict row, size_t n, Acc w) {
  for (size_t k = 0; k < n; ++k) acc[k] += w * row[k];
}

template <class Acc>
void AddWeighted16(Acc* __restrict acc, const uint16_t* __restrict sum, size_t n, Acc w) {
  for (size_t k = 0; k < n; ++k) acc[k] += w * sum[k];
}

void Widen(uint16_t* __restrict sum, const uint8_t* __restrict row, size_t n) {
  for (size_t k = 0; k < n; ++k) sum[k] = row[k];
}

void Add16(uint16_t* __restrict sum, const uint8_t* __restrict row, size_t n) {
  for (size_t k = 0; k < n; ++k) sum[k] = static_cast<uint16_t>(sum[k] + row[k]);
}

// Vertical pass first: for each destination row, the weighted sum of its source rows at full
// source width, then the horizontal taps over that one row. Reads the source once, in order,
// with loops the compiler turns into vector code. Acc must hold 255 * the vertical total.
template <class Acc>
class TVerticalFirst {
 public:
  TVerticalFirst(const TBitmap& source, const TBitmap& dest, const TAxisTaps& horizontal,
                 const TAxisTaps& vertical)
      : rows_(source),
        horizontal_(horizontal),
        vertical_(vertical),
        width_(static_cast<size_t>(source.Width()) * kChannels),
        acc_(width_),
        normalise_(horizontal.total * vertical.total, ChannelCount(dest)) {
    // A width that is a whole multiple of the result's makes every horizontal weight 1.
    if (source.Width() >= dest.Width() && source.Width() % dest.Width() == 0)
      wholeMultiple_ = static_cast<size_t>(source.Width() / dest.Width());
    // So does a height that is one, and then each destination row is a plain 16-bit sum.
    plainRows_ = wholeMultiple_ != 0 && source.Height() >= dest.Height() &&
                 source.Height() % dest.Height() == 0 &&
                 source.Height() / dest.Height() <= kMaxRowsPer16BitSum;
  }

  void Run(TBitmap& dest) {
    const int32_t height = dest.Height();
    for (int32_t y = 0; y < height; ++y) {
      const TTap& tap = vertical_.taps[static_cast<size_t>(y)];
      if (plainRows_) {
        SumPlainRows(tap);
        if (wholeMultiple_ == 2)
          ReduceWholeMultiple<2>(sum_.data(), dest.Row(y));
        else
          ReduceWholeMultiple<0>(sum_.data(), dest.Row(y));
        continue;
      }
      SumRows(tap);
      ReduceRow(dest.Row(y));
    }
  }

 private:
  void SumRows(const TTap& tap) {
    Acc* acc = acc_.data();
    AssignWeighted<Acc>(acc, rows_(tap.first), width_, tap.firstWeight);
    if (tap.count == 1) return;
    const int32_t last = tap.first + tap.count - 1;
    for (int32_t y = tap.first + 1; y < last;) {
      const int32_t run = std::min(last - y, kMaxRowsPer16BitSum);
      if (run == 1) {
        AddWeighted<Acc>(acc, rows_(y), width_, vertical_.innerWeight);
      } else {
        if (sum_.empty()) sum_.resize(width_);
        Widen(sum_.data(), rows_(y), width_);
        for (int32_t k = 1; k < run; ++k) Add16(sum_.data(), rows_(y + k), width_);
        AddWeighted16<Acc>(acc, sum_.data(), width_, vertical_.innerWeight);
      }
      y += run;
    }
    AddWeighted<Acc>(acc, rows_(last), width_, tap.lastWeight);
  }

  void SumPlainRows(const TTap& tap) {
    if (sum_.empty()) sum_.resize(width_);
    Widen(sum_.data(), rows_(tap.first), width_);
    for (int32_t k = 1; k < tap.count; ++k) Add16(sum_.data(), rows_(tap.first + k), width_);
  }

  void ReduceRow(uint8_t* out) const {
    if (wholeMultiple_ == 2)
      ReduceWholeMultiple<2>(acc_.data(), out);
    else if (wholeMultiple_ != 0)
      ReduceWholeMultiple<0>(acc_.data(), out);
    else
      ReduceWeighted(out);
  }

  // Plain sums of wholeMultiple_ neighbours (kMultiple when known at compile time).
  template <size_t kMultiple, class Sum>
  void ReduceWholeMultiple(const Sum* __restrict acc, uint8_t* __restrict out) const {
    const size_t multiple = kMultiple != 0 ? kMultiple : wholeMultiple_;
    const size_t width = horizontal_.taps.size();
    // The table pointer is held here: byte stores could alias it as a member.
    const uint8_t* __restrict table = normalise_.Table();
    for (size_t x = 0; x < width; ++x, out += kChannels) {
      uint64_t b = 0, g = 0, r = 0;
      for (size_t k = 0; k < multiple; ++k, acc += kChannels) {
        b += acc[0];
        g += acc[1];
        r += acc[2];
      }
      if (table != nullptr) {
        out[0] = table[b];
        out[1] = table[g];
        out[2] = table[r];
      } else {
        out[0] = normalise_(b);
        out[1] = normalise_(g);
        out[2] = normalise_(r);
      }
    }
  }

  void ReduceWeighted(uint8_t* out) const {
    const Acc* acc = acc_.data();
    const size_t width = horizontal_.taps.size();
    const uint64_t inner = horizontal_.innerWeight;
    for (size_t x = 0; x < width; ++x) {
      const TTap& tap = horizontal_.taps[x];
      const Acc* p = acc + static_cast<size_t>(tap.first) * kChannels;
      const uint64_t w0 = tap.firstWeight;
      uint64_t b = w0 * p[0];
      uint64_t g = w0 * p[1];
      uint64_t r = w0 * p[2];
      if (tap.count > 1) {
        uint64_t ib = 0, ig = 0, ir = 0;
        const Acc* q = p + kChannels;
        const Acc* end = p + static_cast<size_t>(tap.count - 1) * kChannels;
        for (; q != end; q += kChannels) {
          ib += q[0];
          ig += q[1];
          ir += q[2];
        }
        const uint64_t w1 = tap.lastWeight;
        b += inner * ib + w1 * end[0];
        g += inner * ig + w1 * end[1];
        r += inner * ir + w1 * end[2];
      }
      out[kChannels * x] = normalise_(b);
      out[kChannels * x + 1] = normalise_(g);
      out[kChannels * x + 2] = normalise_(r);
    }
  }

  TRowWalker rows_;
  const TAxisTaps& horizontal_;
  const TAxisTaps& vertical_;
  size_t width_;
  std::vector<Acc> acc_;
  std::vector<uint16_t> sum_;
  TNormaliser normalise_;
  size_t wholeMultiple_ = 0;
  bool plainRows_ = false;
};

// Horizontal pass first: each source row is reduced to destination width once, and destination
// rows sum those. Wins when the source is much wider than the result and the result much taller
// than the source, where the vertical-first pass would sweep the full width for every row. Works
// on one band of destination columns at a time, so its buffers never exceed a band.
class THorizontalFirst {
 public:
  THorizontalFirst(const TBitmap& source, const TBitmap& dest, const TAxisTaps& horizontal,
                   const TAxisTaps& vertical, size_t firstColumn, size_t endColumn)
      : rows_(source),
        horizontal_(horizontal),
        vertical_(vertical),
        firstColumn_(firstColumn),
        endColumn_(endColumn),
        width_((endColumn - firstColumn) * kChannels),
        acc_(width_),
        normalise_(horizontal.total * vertical.total,
                   (endColumn - firstColumn) * kChannels * static_cast<uint64_t>(dest.Height())) {
    for (TCached& slot : cache_) slot.values.resize(width_);
  }

  void Run(TBitmap& dest) {
    const int32_t height = dest.Height();
    for (int32_t y = 0; y < height; ++y) {
      const TTap& tap = vertical_.taps[static_cast<size_t>(y)];
      std::fill(acc_.begin(), acc_.end(), 0);
      for (int32_t k = 0; k < tap.count; ++k) {
        const uint64_t w = vertical_.WeightOf(tap, k);
        const uint64_t* row = Reduced(tap.first + k);
        for (size_t e = 0; e < width_; ++e) acc_[e] += w * row[e];
      }
      uint8_t* out = dest.Row(y) + firstColumn_ * kChannels;
      for (size_t e = 0; e < width_; ++e) out[e] = normalise_(acc_[e]);
    }
  }

 private:
  struct TCached {
    int32_t row = -1;
    std::vector<uint64_t> values;
  };

  // Source row y at destination width. Rows are asked for in rising order and each destination
  // row needs at most the last two of its predecessor, so two slots compute every row once.
  const uint64_t* Reduced(int32_t y) {
    for (TCached& slot : cache_)
      if (slot.row == y) return slot.values.data();
    TCached& slot = cache_[next_];
    next_ ^= 1;
    slot.row = y;
    const uint8_t* in = rows_(y);
    uint64_t* out = slot.values.data();
    for (size_t x = firstColumn_; x < endColumn_; ++x, out += kChannels) {
      const TTap& tap = horizontal_.taps[x];
      for (int c = 0; c < kChannels; ++c) {
        uint64_t sum = 0;
        for (int32_t k = 0; k < tap.count; ++k)
          sum += uint64_t{horizontal_.WeightOf(tap, k)} *
                 in[static_cast<size_t>(tap.first + k) * kChannels + c];
        out[c] = sum;
      }
    }
    return slot.values.data();
  }

  TRowWalker rows_;
  const TAxisTaps& horizontal_;
  const TAxisTaps& vertical_;
  size_t firstColumn_;
  size_t endColumn_;
  size_t width_;
  std::vector<uint64_t> acc_;
  TCached cache_[2];
  int next_ = 0;
  TNormaliser normalise_;
};

uint64_t TapCount(const TAxisTaps& axis) {
  uint64_t count = 0;
  for (const TTap& tap : axis.taps) count += static_cast<uint64_t>(tap.count);
  return count;
}

bool PreferHorizontalFirst(const TBitmap& source, const TBitmap& dest, const TAxisTaps& horizontal,
                           const TAxisTaps& vertical) {
  // Vertical-first keeps a full source row of sums; for extremely wide sources (only crops make
  // them) that alone would be several times the source image.
  if (source.Width() > kMaxVerticalFirstWidth) return true;
  // Work in source-pixel reads and accumulator updates per channel. Vertical-first also pays the
  // horizontal taps once per destination row; horizontal-first pays them once per source row.
  // Vertical-first runs as vector code, so horizontal-first must win clearly.
  const double tx = static_cast<double>(TapCount(horizontal));
  const double ty = static_cast<double>(TapCount(vertical));
  const double verticalFirst = ty * source.Width() + dest.Height() * tx;
  const double horizontalFirst = source.Height() * tx + ty * dest.Width();
  return horizontalFirst * 4 < verticalFirst;
}

void Stretch(TBitmap& dest, const TBitmap& source, THalftoneOrder order) {
  const TAxisTaps horizontal = BuildHalftoneTaps(source.Width(), dest.Width());
  const TAxisTaps vertical = BuildHalftoneTaps(source.Height(), dest.Height());
  if (order == THalftoneOrder::Automatic)
    order = PreferHorizontalFirst(source, dest, horizontal, vertical)
                ? THalftoneOrder::HorizontalFirst
                : THalftoneOrder::VerticalFirst;
  if (order == THalftoneOrder::HorizontalFirst) {
    const size_t width = horizontal.taps.size();
    for (size_t first = 0; first < width; first += kHorizontalFirstBand)
      THorizontalFirst(source, dest, horizontal, vertical, first,
                       std::min(width, first + kHorizontalFirstBand))
          .Run(dest);
  } else if (vertical.total * 255 <= UINT32_MAX) {
    TVerticalFirst<uint32_t>(source, dest, horizontal, vertical).Run(dest);
  } else {
    // Only a source taller than 2^24 rows shrunk in height gets here.
    TVerticalFirst<uint64_t>(source, dest, horizontal, vertical).Run(dest);
  }
}

}  // namespace

void StretchHalftone(TBitmap& dest, const TBitmap& source, THalftoneOrder order) {
  if (source.Empty() || dest.Empty()) return;
  if (source.PixelFormat() != TPixelFormat::pf24bit || dest.PixelFormat() != TPixelFormat::pf24bit)
    throw EInvalidGraphicOperation("Unsupported pixel format");
  try {
    Stretch(dest, source, order);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

}  // namespace quorvex
