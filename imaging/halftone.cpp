#include "imaging/halftone.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/errors.h"
#include "imaging/host_control.h"
#include "imaging/resample_taps.h"
#include "imaging/vector_clones.h"

#if QUORVEX_AVX2_DISPATCH
#include <immintrin.h>
#endif

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

// Rounding half up is floor((2 sum + total) / (2 total)), half down the same with one less on
// top; they differ only on a tie, where the even one of the two is the answer. Sums up to
// 255 * total keep both numerators below 511 * total < 2^44; halfInverse is 1 / (2 total)
// rounded up just enough that the truncated products are exact (TNormaliser).
template <class Sum>
[[gnu::always_inline]] inline void DivideRowByInverse(const Sum* __restrict sums,
                                                      uint8_t* __restrict out, size_t n,
                                                      double halfInverse, double total) {
  constexpr uint64_t kTwoTo52Bits = 0x4330000000000000;
  for (size_t e = 0; e < n; ++e) {
    // The sum below 2^52 as a double: its bits under those of 2^52, less 2^52. Unlike a
    // conversion instruction, this has a vector form for 64-bit integers.
    const uint64_t bits = uint64_t{sums[e]} | kTwoTo52Bits;
    double sum;
    std::memcpy(&sum, &bits, sizeof sum);
    const double up = 2.0 * (sum - 0x1p52) + total;
    const int32_t halfUp = static_cast<int32_t>(up * halfInverse);
    const int32_t halfDown = static_cast<int32_t>((up - 1.0) * halfInverse);
    // halfDown is halfUp or one less: keep halfUp unless it is odd and they differ.
    const int32_t even = halfUp - ((halfUp - halfDown) & halfUp & 1);
    out[e] = static_cast<uint8_t>(even < 255 ? even : 255);
  }
}

QUORVEX_VECTOR_CLONES void DivideByInverse(const uint32_t* __restrict sums, uint8_t* __restrict out,
                                           size_t n, double halfInverse, double total) {
  DivideRowByInverse(sums, out, n, halfInverse, total);
}

QUORVEX_VECTOR_CLONES void DivideByInverse(const uint64_t* __restrict sums, uint8_t* __restrict out,
                                           size_t n, double halfInverse, double total) {
  DivideRowByInverse(sums, out, n, halfInverse, total);
}

// The weighted sum over the destination area is an integer below 255 * total; dividing by the
// total and rounding half to even gives the mean. Whole rows of sums are divided at once, by the
// cheapest exact means the total allows: small totals (halving, thirds) look every possible sum
// up in a table, once there are more values to make than the table holds; most others take two
// truncated products with an inverse (below), which the compiler turns into vector code; the
// rest a product with the inverse settled by the remainder.
class TNormaliser {
 public:
  TNormaliser(uint64_t total, uint64_t uses)
      : total_(total), inverse_(1.0 / static_cast<double>(total)) {
    // 1 / (2 total) rounded up by about 2^-46 of itself: for every N below 2^44 the truncated
    // product N * halfInverse_ is then exactly floor(N / (2 total)). It is at least the true
    // quotient, and exceeds it by less than N * 2^-44 / (2 total), too little to reach the next
    // integer, which is at least 1 / (2 total) away.
    if (kInverseLimit / 511 > total)
      halfInverse_ = 1.0 / (2.0 * static_cast<double>(total)) * (1.0 + 0x1p-46);
    const uint64_t sums = 255 * total + 1;
    if (sums > kMaxTableSize || sums > uses) return;
    table_.resize(sums);
    for (uint64_t sum = 0; sum < sums; ++sum) table_[sum] = Divide(sum);
  }

  // The table, indexed by any sum up to 255 * total; nullptr when there is none.
  const uint8_t* Table() const noexcept { return table_.empty() ? nullptr : table_.data(); }

  // out[e] = sums[e] / total, rounded half to even, for e below n.
  template <class Sum>
  void Row(const Sum* __restrict sums, uint8_t* __restrict out, size_t n) const {
    if (!table_.empty()) {
      const uint8_t* __restrict table = table_.data();
      for (size_t e = 0; e < n; ++e) out[e] = table[sums[e]];
    } else if (halfInverse_ != 0) {
      RowByInverse(sums, out, n);
    } else {
      for (size_t e = 0; e < n; ++e) out[e] = Divide(sums[e]);
    }
  }

 private:
  static constexpr uint64_t kMaxTableSize = 1 << 16;
  static constexpr uint64_t kInverseLimit = uint64_t{1} << 44;

  template <class Sum>
  void RowByInverse(const Sum* __restrict sums, uint8_t* __restrict out, size_t n) const {
    DivideByInverse(sums, out, n, halfInverse_, static_cast<double>(total_));
  }

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
  double halfInverse_ = 0;
  std::vector<uint8_t> table_;
};

// Channel values a stretch into dest produces.
uint64_t ChannelCount(const TBitmap& dest) noexcept {
  return static_cast<uint64_t>(dest.Width()) * static_cast<uint64_t>(dest.Height()) * kChannels;
}

// A weight that fits in 16 bits makes the products 16-bit ones widened to 32, which the
// compiler multiplies eight at a time (low and high halves) instead of two to four. Kept out of
// line: once inlined, the compiler knows the weight is small, drops the narrowing and with it
// the 16-bit form.
[[gnu::noinline]] QUORVEX_VECTOR_CLONES void AssignNarrowWeight(uint32_t* __restrict acc,
                                                                const uint8_t* __restrict row,
                                                                size_t n, uint16_t w) {
  for (size_t k = 0; k < n; ++k) acc[k] = uint32_t{w} * uint16_t{row[k]};
}

[[gnu::noinline]] QUORVEX_VECTOR_CLONES void AddNarrowWeight(uint32_t* __restrict acc,
                                                             const uint8_t* __restrict row,
                                                             size_t n, uint16_t w) {
  for (size_t k = 0; k < n; ++k) acc[k] += uint32_t{w} * uint16_t{row[k]};
}

template <class Acc>
void AssignWeighted(Acc* __restrict acc, const uint8_t* __restrict row, size_t n, Acc w) {
  if constexpr (sizeof(Acc) == sizeof(uint32_t)) {
    if (w <= UINT16_MAX) return AssignNarrowWeight(acc, row, n, static_cast<uint16_t>(w));
  }
  for (size_t k = 0; k < n; ++k) acc[k] = w * row[k];
}

template <class Acc>
void AddWeighted(Acc* __restrict acc, const uint8_t* __restrict row, size_t n, Acc w) {
  if constexpr (sizeof(Acc) == sizeof(uint32_t)) {
    if (w <= UINT16_MAX) return AddNarrowWeight(acc, row, n, static_cast<uint16_t>(w));
  }
  for (size_t k = 0; k < n; ++k) acc[k] += w * row[k];
}

template <class Acc>
void AddWeighted16(Acc* __restrict acc, const uint16_t* __restrict sum, size_t n, Acc w) {
  for (size_t k = 0; k < n; ++k) acc[k] += w * sum[k];
}

QUORVEX_VECTOR_CLONES void Widen(uint16_t* __restrict sum, const uint8_t* __restrict row,
                                 size_t n) {
  for (size_t k = 0; k < n; ++k) sum[k] = row[k];
}

QUORVEX_VECTOR_CLONES void Add16(uint16_t* __restrict sum, const uint8_t* __restrict row,
                                 size_t n) {
  for (size_t k = 0; k < n; ++k) sum[k] = static_cast<uint16_t>(sum[k] + row[k]);
}

// A tap of at most three source pixels: the offset of its first channel value in a row of sums
// and the weights of that pixel and the next two (0 past the tap's end).
struct TShortTap {
  uint32_t offset;
  uint32_t weights[3];
};

// out[3 x + c], the weighted sum of tap x's pixels in channel c, for n taps. Each pixel is done
// as four lanes, whose fourth the next pixel overwrites: out has one element to spare, and acc
// nine after the last tap's offset.
template <class Acc, class Sum>
void SumShortTapsPlain(const Acc* __restrict acc, const TShortTap* __restrict taps, size_t n,
                       Sum* __restrict out) {
  for (size_t x = 0; x < n; ++x, out += kChannels) {
    const Acc* a = acc + taps[x].offset;
    const Sum w0 = taps[x].weights[0], w1 = taps[x].weights[1], w2 = taps[x].weights[2];
    for (size_t c = 0; c < 4; ++c)
      out[c] = w0 * Sum{a[c]} + w1 * Sum{a[c + kChannels]} + w2 * Sum{a[c + 2 * kChannels]};
  }
}

#if QUORVEX_AVX2_DISPATCH
// The same with one pixel's four lanes in one register: 32-bit sums times 32-bit weights, kept
// whole in 64 bits, or wrapping in 32 as the plain loop's do.
[[gnu::target("avx2")]] void SumShortTapsAvx2(const uint32_t* __restrict acc,
                                              const TShortTap* __restrict taps, size_t n,
                                              uint64_t* __restrict out) {
  for (size_t x = 0; x < n; ++x, out += kChannels) {
    const uint32_t* a = acc + taps[x].offset;
    const uint32_t* w = taps[x].weights;
    const __m256i p0 = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
    const __m256i p1 =
        _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + kChannels)));
    const __m256i p2 =
        _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * kChannels)));
    const __m256i sum =
        _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epu32(p0, _mm256_set1_epi64x(w[0])),
                                          _mm256_mul_epu32(p1, _mm256_set1_epi64x(w[1]))),
                         _mm256_mul_epu32(p2, _mm256_set1_epi64x(w[2])));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), sum);
  }
}

[[gnu::target("avx2")]] void SumShortTapsAvx2(const uint32_t* __restrict acc,
                                              const TShortTap* __restrict taps, size_t n,
                                              uint32_t* __restrict out) {
  for (size_t x = 0; x < n; ++x, out += kChannels) {
    const uint32_t* a = acc + taps[x].offset;
    const uint32_t* w = taps[x].weights;
    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + kChannels));
    const __m128i p2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * kChannels));
    const __m128i sum =
        _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(p0, _mm_set1_epi32(static_cast<int>(w[0]))),
                                    _mm_mullo_epi32(p1, _mm_set1_epi32(static_cast<int>(w[1])))),
                      _mm_mullo_epi32(p2, _mm_set1_epi32(static_cast<int>(w[2]))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
  }
}
#endif

template <class Sum>
void SumShortTaps(const uint32_t* acc, const TShortTap* taps, size_t n, Sum* out) {
#if QUORVEX_AVX2_DISPATCH
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return SumShortTapsAvx2(acc, taps, n, out);
#endif
  SumShortTapsPlain(acc, taps, n, out);
}

void SumShortTaps(const uint64_t* acc, const TShortTap* taps, size_t n, uint64_t* out) {
  SumShortTapsPlain(acc, taps, n, out);
}

// Vertical pass first: for each destination row, the weighted sum of its source rows at full
// source width, then the horizontal taps over that one row, then the division of the row's sums.
// Reads the source once, in order, with loops the compiler turns into vector code. Acc must hold
// 255 * the vertical total, Sum 255 * the whole total; unsigned wrap-around in between is
// harmless, since every sum is exact modulo 2^bits and the final one fits.
template <class Acc, class Sum>
class TVerticalFirst {
 public:
  TVerticalFirst(const TBitmap& source, const TBitmap& dest, const TAxisTaps& horizontal,
                 const TAxisTaps& vertical)
      : rows_(source),
        horizontal_(horizontal),
        vertical_(vertical),
        width_(static_cast<size_t>(source.Width()) * kChannels),
        acc_(width_),
        sums_(horizontal.taps.size() * kChannels),
        normalise_(horizontal.total * vertical.total, ChannelCount(dest)) {
    // Area taps whose unit is a whole source pixel cover a whole multiple of source pixels
    // each, all weighing 1: the width is that multiple of the result's.
    if (horizontal.innerWeight == 1) wholeMultiple_ = static_cast<size_t>(horizontal.total);
    // So does a height that is one, and then each destination row is a plain 16-bit sum.
    plainRows_ =
        wholeMultiple_ != 0 && vertical.innerWeight == 1 && vertical.total <= kMaxRowsPer16BitSum;
    if (wholeMultiple_ == 0) PlanTaps();
  }

  void Run(TBitmap& dest) {
    const int32_t height = dest.Height();
    const size_t outBytes = horizontal_.taps.size() * kChannels;
    for (int32_t y = 0; y < height; ++y) {
      CheckCancelled();
      const TTap& tap = vertical_.taps[static_cast<size_t>(y)];
      if (plainRows_) {
        SumPlainRows(tap);
        ReduceWholeMultiple(sum_.data(), dest.Row(y));
        continue;
      }
      SumRows(tap);
      if (wholeMultiple_ != 0) {
        ReduceWholeMultiple(acc_.data(), dest.Row(y));
      } else {
        ReduceTaps();
        normalise_.Row(sums_.data(), dest.Row(y), outBytes);
      }
    }
  }

 private:
  // One destination pixel's horizontal tap as offsets into a row of channel values: its first
  // pixel at first, its last at last (weight 0 when it is the first), and the pixels between
  // them, all weighing the inner weight, as the difference of two running sums: from the one
  // after the first up to betweenEnd. Taps of at most three pixels (shrinking to half or more) are
  // planned as TShortTap instead.
  struct TPlannedTap {
    uint32_t first, last, betweenEnd;
    Sum firstWeight, lastWeight;
  };

  void PlanTaps() {
    const std::vector<TTap>& taps = horizontal_.taps;
    shortTaps_ = std::all_of(taps.begin(), taps.end(), [](const TTap& t) { return t.count <= 3; });
    if (shortTaps_) {
      shortPlan_.resize(taps.size());
      for (size_t x = 0; x < taps.size(); ++x) {
        const TTap& tap = taps[x];
        shortPlan_[x] = {
            static_cast<uint32_t>(tap.first) * kChannels,
            {tap.firstWeight,
             tap.count == 3 ? horizontal_.innerWeight : (tap.count == 2 ? tap.lastWeight : 0),
             tap.count == 3 ? tap.lastWeight : 0}};
      }
      // The spare lanes of the last pixels (SumShortTaps), read as zeros and written unread.
      acc_.resize(width_ + 3 * kChannels - 2);
      sums_.resize(sums_.size() + 1);
      return;
    }
    plan_.resize(taps.size());
    for (size_t x = 0; x < plan_.size(); ++x) {
      const TTap& tap = taps[x];
      const uint32_t first = static_cast<uint32_t>(tap.first) * kChannels;
      const uint32_t last = static_cast<uint32_t>(tap.first + tap.count - 1) * kChannels;
      plan_[x] = {first, last, tap.count > 1 ? last : first + kChannels, tap.firstWeight,
                  tap.count > 1 ? Sum{tap.lastWeight} : Sum{0}};
    }
    running_.resize(width_ + kChannels);
  }

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

  // Plain sums of wholeMultiple_ neighbours, divided into dest's row. Small totals look each sum
  // up as it is made; the others go through a row of sums. Halving gets loops of its own.
  template <class In>
  void ReduceWholeMultiple(const In* __restrict in, uint8_t* __restrict dest) {
    if (const uint8_t* table = normalise_.Table()) {
      if (wholeMultiple_ == 2)
        LookUpWholeMultiple<2>(in, dest, table);
      else
        LookUpWholeMultiple<0>(in, dest, table);
      return;
    }
    Sum* __restrict out = sums_.data();
    const size_t width = horizontal_.taps.size();
    if (wholeMultiple_ == 2) {
      for (size_t x = 0; x < width; ++x, out += kChannels, in += 2 * kChannels)
        for (size_t c = 0; c < kChannels; ++c) out[c] = Sum{in[c]} + Sum{in[c + kChannels]};
    } else {
      const size_t multiple = wholeMultiple_;
      for (size_t x = 0; x < width; ++x, out += kChannels) {
        Sum b = 0, g = 0, r = 0;
        for (size_t k = 0; k < multiple; ++k, in += kChannels) {
          b += in[0];
          g += in[1];
          r += in[2];
        }
        out[0] = b;
        out[1] = g;
        out[2] = r;
      }
    }
    normalise_.Row(sums_.data(), dest, horizontal_.taps.size() * kChannels);
  }

  template <size_t kMultiple, class In>
  void LookUpWholeMultiple(const In* __restrict in, uint8_t* __restrict out,
                           const uint8_t* __restrict table) const {
    const size_t multiple = kMultiple != 0 ? kMultiple : wholeMultiple_;
    const size_t width = horizontal_.taps.size();
    for (size_t x = 0; x < width; ++x, out += kChannels) {
      size_t b = 0, g = 0, r = 0;
      for (size_t k = 0; k < multiple; ++k, in += kChannels) {
        b += in[0];
        g += in[1];
        r += in[2];
      }
      out[0] = table[b];
      out[1] = table[g];
      out[2] = table[r];
    }
  }

  // Weighted taps of any length in a fixed number of steps: the inner pixels' sum is the
  // difference of two running sums, so no pixel loop depends on the tap.
  void ReduceTaps() {
    const Acc* __restrict acc = acc_.data();
    Sum* __restrict out = sums_.data();
    if (shortTaps_) return SumShortTaps(acc, shortPlan_.data(), shortPlan_.size(), out);
    Sum* __restrict running = running_.data();
    Sum b = 0, g = 0, r = 0;
    running[0] = running[1] = running[2] = 0;
    for (size_t e = 0; e < width_; e += kChannels) {
      running[e + 3] = b += acc[e];
      running[e + 4] = g += acc[e + 1];
      running[e + 5] = r += acc[e + 2];
    }
    const Sum inner = horizontal_.innerWeight;
    for (const TPlannedTap& tap : plan_) {
      const Acc* first = acc + tap.first;
      const Acc* last = acc + tap.last;
      const Sum* start = running + tap.first + kChannels;
      const Sum* end = running + tap.betweenEnd;
      const Sum w0 = tap.firstWeight, w1 = tap.lastWeight;
      out[0] = w0 * first[0] + w1 * last[0] + inner * (end[0] - start[0]);
      out[1] = w0 * first[1] + w1 * last[1] + inner * (end[1] - start[1]);
      out[2] = w0 * first[2] + w1 * last[2] + inner * (end[2] - start[2]);
      out += kChannels;
    }
  }

  TRowWalker rows_;
  const TAxisTaps& horizontal_;
  const TAxisTaps& vertical_;
  size_t width_;
  std::vector<Acc> acc_;
  std::vector<uint16_t> sum_;
  std::vector<Sum> sums_;
  std::vector<Sum> running_;
  std::vector<TPlannedTap> plan_;
  std::vector<TShortTap> shortPlan_;
  TNormaliser normalise_;
  size_t wholeMultiple_ = 0;
  bool plainRows_ = false;
  bool shortTaps_ = false;
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
      CheckCancelled();
      const TTap& tap = vertical_.taps[static_cast<size_t>(y)];
      std::fill(acc_.begin(), acc_.end(), 0);
      for (int32_t k = 0; k < tap.count; ++k) {
        const uint64_t w = vertical_.WeightOf(tap, k);
        const uint64_t* row = Reduced(tap.first + k);
        for (size_t e = 0; e < width_; ++e) acc_[e] += w * row[e];
      }
      normalise_.Row(acc_.data(), dest.Row(y) + firstColumn_ * kChannels, width_);
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

void Stretch(TBitmap& dest, const TBitmap& source, const TAxisTaps& horizontal,
             const TAxisTaps& vertical, THalftoneOrder order) {
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
  } else if (horizontal.total * vertical.total * 255 <= UINT32_MAX) {
    TVerticalFirst<uint32_t, uint32_t>(source, dest, horizontal, vertical).Run(dest);
  } else if (vertical.total * 255 <= UINT32_MAX) {
    TVerticalFirst<uint32_t, uint64_t>(source, dest, horizontal, vertical).Run(dest);
  } else {
    // Only a source taller than 2^24 rows shrunk in height gets here.
    TVerticalFirst<uint64_t, uint64_t>(source, dest, horizontal, vertical).Run(dest);
  }
}

void RequireColour(const TBitmap& dest, const TBitmap& source) {
  if (source.PixelFormat() != TPixelFormat::pf24bit || dest.PixelFormat() != TPixelFormat::pf24bit)
    throw EInvalidGraphicOperation("Unsupported pixel format");
}

}  // namespace

void StretchHalftone(TBitmap& dest, const TBitmap& source, THalftoneOrder order) {
  if (source.Empty() || dest.Empty()) return;
  RequireColour(dest, source);
  try {
    Stretch(dest, source, BuildHalftoneTaps(source.Width(), dest.Width()),
            BuildHalftoneTaps(source.Height(), dest.Height()), order);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

void ShrinkHalftoneOver(TBitmap& dest, const TBitmap& source, TSourceExtent width,
                        TSourceExtent height) {
  if (source.Empty() || dest.Empty()) return;
  RequireColour(dest, source);
  // Extents beyond the source, or smaller than the result, are outside what this is for.
  const auto within = [](TSourceExtent extent, int32_t sourceSide, int32_t destSide) {
    return extent.Denominator > 0 && extent.Numerator <= extent.Denominator * sourceSide &&
           extent.Numerator >= extent.Denominator * destSide;
  };
  if (!within(width, source.Width(), dest.Width()) ||
      !within(height, source.Height(), dest.Height()))
    throw EInvalidGraphicOperation("Invalid extent");
  try {
    const auto taps = [](TSourceExtent extent, int32_t sourceSide, int32_t destSide) {
      return BuildAreaTapsOver(
          extent.Numerator, extent.Denominator, destSide,
          extent.AtEnd ? extent.Denominator * sourceSide - extent.Numerator : 0);
    };
    Stretch(dest, source, taps(width, source.Width(), dest.Width()),
            taps(height, source.Height(), dest.Height()), THalftoneOrder::Automatic);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

}  // namespace quorvex
