// The halftone stretch against a plain double-precision reference: area averaging when an axis
// shrinks, linear interpolation when it grows.
#include "imaging/halftone.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "imaging/errors.h"
#include "imaging/resample_taps.h"
#include "imaging/resize.h"
#include "tests/imaging/image_helpers.h"
#include "tests/support/external_tools.h"

namespace quorvex::test {
namespace {

// Weights of the source pixels behind destination pixel i, straight from the definition.
std::vector<std::pair<int32_t, double>> ReferenceWeights(int32_t source, int32_t dest, int32_t i) {
  std::vector<std::pair<int32_t, double>> weights;
  if (dest <= source) {
    const double scale = static_cast<double>(source) / dest;
    const double low = i * scale, high = (i + 1) * scale;
    for (int32_t j = static_cast<int32_t>(std::floor(low)); j < source && j < high; ++j) {
      const double covered = std::min<double>(j + 1, high) - std::max<double>(j, low);
      if (covered > 0) weights.emplace_back(j, covered / scale);
    }
  } else {
    double centre = (i + 0.5) * source / dest - 0.5;
    centre = std::clamp(centre, 0.0, source - 1.0);
    const auto j = static_cast<int32_t>(std::floor(centre));
    const double fraction = centre - j;
    weights.emplace_back(j, 1 - fraction);
    if (fraction > 0) weights.emplace_back(j + 1, fraction);
  }
  return weights;
}

// The exact weighted means, unrounded: width * height * 3 values.
std::vector<double> ReferenceStretch(const TBitmap& source, int32_t width, int32_t height) {
  std::vector<double> result(static_cast<size_t>(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    const auto wy = ReferenceWeights(source.Height(), height, y);
    for (int32_t x = 0; x < width; ++x) {
      const auto wx = ReferenceWeights(source.Width(), width, x);
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (auto [sy, fy] : wy)
          for (auto [sx, fx] : wx) sum += fy * fx * source.ScanLine(sy)[3 * sx + c];
        result[(static_cast<size_t>(y) * width + x) * 3 + c] = sum;
      }
    }
  }
  return result;
}

struct StretchCase {
  int32_t w, h, newW, newH;
};

void PrintTo(const StretchCase& c, std::ostream* os) {
  *os << c.w << "x" << c.h << "->" << c.newW << "x" << c.newH;
}

class HalftoneAgainstReference : public ::testing::TestWithParam<StretchCase> {
 protected:
  void Check(const TBitmap& source, THalftoneOrder order) {
    const StretchCase& c = GetParam();
    auto dest = MakeImage(c.newW, c.newH, TPixelFormat::pf24bit);
    StretchHalftone(*dest, source, order);
    const auto reference = ReferenceStretch(source, c.newW, c.newH);
    // Linear weights carry 16-bit fractions: at most 255 / 2^17 off before rounding.
    const double slack = (c.newW > c.w || c.newH > c.h) ? 0.5 + 255.0 / (1 << 16) : 0.5 + 1e-7;
    double worst = 0;
    for (int32_t y = 0; y < c.newH; ++y)
      for (int32_t x = 0; x < c.newW; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          const double exact = reference[(static_cast<size_t>(y) * c.newW + x) * 3 + ch];
          const int ours = dest->ScanLine(y)[3 * x + ch];
          worst = std::max(worst, std::fabs(ours - exact));
          // Rounded, not truncated, and never a level away from the rounded reference.
          ASSERT_LE(std::fabs(ours - exact), slack) << x << "," << y << " channel " << ch;
          ASSERT_LE(std::abs(ours - static_cast<int>(std::lround(exact))), 1);
        }
    RecordProperty("worst", std::to_string(worst));
  }
};

TEST_P(HalftoneAgainstReference, RandomContent) {
  const StretchCase& c = GetParam();
  auto source = MakeRandomImage(c.w, c.h, TPixelFormat::pf24bit, 31);
  Check(*source, THalftoneOrder::Automatic);
}

TEST_P(HalftoneAgainstReference, PhotoLikeContent) {
  const StretchCase& c = GetParam();
  auto source = MakePhotoLikeImage(c.w, c.h, 32);
  Check(*source, THalftoneOrder::Automatic);
}

TEST_P(HalftoneAgainstReference, BothPassOrdersGiveIdenticalPixels) {
  const StretchCase& c = GetParam();
  auto source = MakeRandomImage(c.w, c.h, TPixelFormat::pf24bit, 33);
  auto vertical = MakeImage(c.newW, c.newH, TPixelFormat::pf24bit);
  auto horizontal = MakeImage(c.newW, c.newH, TPixelFormat::pf24bit);
  StretchHalftone(*vertical, *source, THalftoneOrder::VerticalFirst);
  StretchHalftone(*horizontal, *source, THalftoneOrder::HorizontalFirst);
  EXPECT_TRUE(SameImage(*vertical, *horizontal));
}

TEST_P(HalftoneAgainstReference, ConstantStaysConstant) {
  const StretchCase& c = GetParam();
  for (TPixel colour :
       {TPixel{0, 0, 0}, TPixel{255, 255, 255}, TPixel{1, 128, 254}, TPixel{77, 3, 200}}) {
    auto source = MakeImage(c.w, c.h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x) SetPixel(*source, x, y, colour);
    std::unique_ptr<TBitmap> dest;
    ResizeBitmap(c.newW, c.newH, dest, *source);
    for (int32_t y = 0; y < c.newH; ++y)
      for (int32_t x = 0; x < c.newW; ++x) ASSERT_EQ(Pixel(*dest, x, y), colour);
  }
}

INSTANTIATE_TEST_SUITE_P(Ratios, HalftoneAgainstReference,
                         ::testing::Values(StretchCase{1000, 750, 133, 100},
                                           StretchCase{640, 480, 320, 240},
                                           StretchCase{37, 23, 5, 7}, StretchCase{37, 23, 36, 22},
                                           StretchCase{300, 200, 7, 3}, StretchCase{17, 13, 1, 1},
                                           StretchCase{5, 1, 2, 1}, StretchCase{1, 9, 1, 4},
                                           StretchCase{600, 400, 599, 133},
                                           // Odd sides halved.
                                           StretchCase{1001, 751, 500, 375},
                                           // Enlarging, and one axis up with the other down.
                                           StretchCase{37, 23, 100, 61}, StretchCase{2, 2, 9, 5},
                                           StretchCase{1, 1, 6, 4}, StretchCase{50, 40, 20, 90},
                                           StretchCase{12, 80, 75, 8}, StretchCase{3, 1, 1, 7}));

TEST(HalftoneShapes, VeryWideToVeryTallTakesTheCheapOrderAndStaysExact) {
  // 40000 x 1 to 1 x 40000: vertical-first would sweep 40000 source columns for each of the
  // 40000 rows. The result is the row's mean in every pixel.
  auto source = MakeRandomImage(40000, 1, TPixelFormat::pf24bit, 34);
  double sums[3] = {0, 0, 0};
  for (int32_t x = 0; x < 40000; ++x)
    for (int c = 0; c < 3; ++c) sums[c] += source->ScanLine(0)[3 * x + c];
  std::unique_ptr<TBitmap> dest;
  ResizeBitmap(1, 40000, dest, *source);
  for (int c = 0; c < 3; ++c) {
    const int expected = static_cast<int>(std::lround(sums[c] / 40000));
    EXPECT_EQ(dest->ScanLine(0)[c], expected);
    EXPECT_EQ(dest->ScanLine(39999)[c], expected);
  }
}

// Golden data from an independent tool. Pillow's BOX filter takes whole source pixels by their
// centres rather than weighing partly covered ones, so it is the same area average only at whole
// ratios; it rounds its rows to 8 bits in between, so it may be a level away from the exact mean.
TEST(HalftoneAgainstPillow, BoxFilterAgreesWithinOneLevel) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kPillow);
  const auto python = PythonWithPillow();
  ASSERT_TRUE(python);
  const auto dir = TempDir("halftone");
  auto source = MakePhotoLikeImage(640, 420, 40);
  WritePpm(*source, dir / "in.ppm");
  for (auto [w, h] :
       {std::pair{320, 210}, std::pair{160, 105}, std::pair{64, 42}, std::pair{128, 140}}) {
    const auto out = dir / ("out_" + std::to_string(w) + ".ppm");
    const std::string script = "from PIL import Image; Image.open('" + (dir / "in.ppm").string() +
                               "').resize((" + std::to_string(w) + "," + std::to_string(h) +
                               "), Image.BOX).save('" + out.string() + "')";
    ASSERT_TRUE(RunCommand(*python + " -c \"" + script + "\""));
    const auto theirs = ReadPpm(out);
    std::unique_ptr<TBitmap> ours;
    ResizeBitmap(w, h, ours, *source);
    int worst = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < 3 * w; ++x)
        worst = std::max(worst, std::abs(ours->ScanLine(y)[x] - theirs->ScanLine(y)[x]));
    EXPECT_LE(worst, 1) << w << "x" << h;
  }
  std::filesystem::remove_all(dir);
}

TEST(HalftoneShapes, BandsOfTheHorizontalFirstPassJoinSeamlessly) {
  // More than two bands of destination columns, shrinking and enlarging.
  for (auto [w, h, newW, newH] : {std::array{9000, 3, 8500, 5}, std::array{3000, 4, 9001, 3}}) {
    auto source = MakeRandomImage(w, h, TPixelFormat::pf24bit, 35);
    auto vertical = MakeImage(newW, newH, TPixelFormat::pf24bit);
    auto horizontal = MakeImage(newW, newH, TPixelFormat::pf24bit);
    StretchHalftone(*vertical, *source, THalftoneOrder::VerticalFirst);
    StretchHalftone(*horizontal, *source, THalftoneOrder::HorizontalFirst);
    EXPECT_TRUE(SameImage(*vertical, *horizontal)) << w << "x" << h;
  }
}

TEST(HalftoneShapes, ExtremelyWideSourcesGiveTheSamePixels) {
  // Past a million columns the automatic choice avoids a full-width row of sums.
  auto source = MakeRandomImage((1 << 20) + 5, 2, TPixelFormat::pf24bit, 36);
  auto automatic = MakeImage(1000, 3, TPixelFormat::pf24bit);
  auto vertical = MakeImage(1000, 3, TPixelFormat::pf24bit);
  StretchHalftone(*automatic, *source);
  StretchHalftone(*vertical, *source, THalftoneOrder::VerticalFirst);
  EXPECT_TRUE(SameImage(*automatic, *vertical));
}

TEST(HalftoneTaps, AreaWeightsAreExactCoverage) {
  // 5 -> 2: each destination pixel covers 2.5 source pixels; in units of 1/2 pixel the weights
  // are 2, 2, 1 and 1, 2, 2 out of 5.
  const TAxisTaps axis = BuildAreaTaps(5, 2);
  ASSERT_EQ(axis.taps.size(), 2u);
  EXPECT_EQ(axis.total, 5u);
  EXPECT_EQ(axis.taps[0].first, 0);
  EXPECT_EQ(axis.taps[0].count, 3);
  EXPECT_EQ(axis.taps[0].firstWeight, 2u);
  EXPECT_EQ(axis.innerWeight, 2u);
  EXPECT_EQ(axis.taps[0].lastWeight, 1u);
  EXPECT_EQ(axis.taps[1].first, 2);
  EXPECT_EQ(axis.taps[1].firstWeight, 1u);
  EXPECT_EQ(axis.taps[1].lastWeight, 2u);
  // 4 -> 2 reduces to unit weights.
  const TAxisTaps halves = BuildAreaTaps(4, 2);
  EXPECT_EQ(halves.total, 2u);
  EXPECT_EQ(halves.taps[1].first, 2);
}

TEST(HalftoneTaps, EveryDestinationPixelSumsToTheTotal) {
  for (auto [s, d] : {std::pair{1000, 133}, std::pair{7, 3}, std::pair{3, 7}, std::pair{1, 5},
                      std::pair{5, 1}, std::pair{16383, 16382}, std::pair{2, 16383}}) {
    const TAxisTaps axis = BuildHalftoneTaps(s, d);
    for (const TTap& tap : axis.taps) {
      uint64_t sum = 0;
      for (int32_t k = 0; k < tap.count; ++k) sum += axis.WeightOf(tap, k);
      ASSERT_EQ(sum, axis.total) << s << "->" << d;
      ASSERT_GE(tap.first, 0);
      ASSERT_LE(tap.first + tap.count, s);
    }
  }
}

// Exact halves of the area average round to the even level, in both pass orders.
TEST(HalftoneRounding, HalvesGoToTheEvenLevel) {
  const struct {
    uint8_t left, right, mean;
  } cases[] = {{0, 1, 0},       {1, 2, 2},       {2, 3, 2},    {3, 4, 4},
               {254, 255, 254}, {253, 254, 254}, {10, 13, 12}, {0, 255, 128}};
  // One pair alone, and the pairs repeated across a picture large enough that the averages are
  // looked up rather than divided.
  for (const int32_t repeats : {1, 64}) {
    const auto width = static_cast<int32_t>(std::size(cases)) * repeats;
    auto source = MakeImage(2 * width, 1, TPixelFormat::pf24bit);
    for (int32_t x = 0; x < width; ++x) {
      const auto& c = cases[x % std::size(cases)];
      SetPixel(*source, 2 * x, 0, {c.left, c.left, c.left});
      SetPixel(*source, 2 * x + 1, 0, {c.right, c.right, c.right});
    }
    for (THalftoneOrder order : {THalftoneOrder::VerticalFirst, THalftoneOrder::HorizontalFirst}) {
      auto dest = MakeImage(width, 1, TPixelFormat::pf24bit);
      StretchHalftone(*dest, *source, order);
      for (int32_t x = 0; x < width; ++x) {
        const auto& c = cases[x % std::size(cases)];
        EXPECT_EQ(Pixel(*dest, x, 0), (TPixel{c.mean, c.mean, c.mean}))
            << int{c.left} << " and " << int{c.right};
      }
    }
  }
}

// Halving noise makes a quarter of the averages exact halves; rounding them all up would add
// an eighth of a level to the mean brightness.
TEST(HalftoneRounding, HalvingNoiseKeepsTheMeanBrightness) {
  auto source = MakeRandomImage(512, 512, TPixelFormat::pf24bit, 7);
  auto dest = MakeImage(256, 256, TPixelFormat::pf24bit);
  StretchHalftone(*dest, *source);
  const auto mean = [](const TBitmap& image) {
    double sum = 0;
    for (int32_t y = 0; y < image.Height(); ++y)
      for (int32_t x = 0; x < image.Width(); ++x)
        for (uint8_t v : Pixel(image, x, y)) sum += v;
    return sum / (3.0 * image.Width() * image.Height());
  };
  EXPECT_NEAR(mean(*dest), mean(*source), 0.03);
}

}  // namespace
}  // namespace quorvex::test

namespace quorvex::test {
namespace {

// A source whose picture ends inside its last pixel (a DCT-scaled decode, sides rounded up):
// that pixel weighs only the part the extent covers, and a result pixel is the mean over the
// extent. Rows hold 1 pixel, so each case is one horizontal line; the vertical axis is 1 -> 1.
TEST(HalftoneOverExtent, LastPixelWeighsWhatTheExtentCovers) {
  struct Case {
    std::vector<uint8_t> source;
    TSourceExtent extent;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      // (10 + 20 + 250 / 2) / 2.5 = 62.
      {{10, 20, 250}, {5, 2}, {62}},
      // The whole source: the plain area average, (10 + 20 + 250) / 3 = 93.33.
      {{10, 20, 250}, {3, 1}, {93}},
      // 2.5 pixels into 2: (10 + 30 / 4) / 1.25 = 14, (30 * 3 / 4 + 250 / 2) / 1.25 = 118.
      {{10, 30, 250}, {5, 2}, {14, 118}},
      // 8 pixels of 1/8-scale blocks over a 57-pixel line: the last weighs 1/8.
      {{0, 0, 0, 0, 0, 0, 0, 255}, {57, 8}, {4}},
  };
  for (const Case& c : cases) {
    auto source = MakeImage(static_cast<int32_t>(c.source.size()), 1, TPixelFormat::pf24bit);
    for (size_t x = 0; x < c.source.size(); ++x)
      SetPixel(*source, static_cast<int32_t>(x), 0, {c.source[x], c.source[x], c.source[x]});
    auto dest = MakeImage(static_cast<int32_t>(c.expected.size()), 1, TPixelFormat::pf24bit);
    ShrinkHalftoneOver(*dest, *source, c.extent, {1, 1});
    for (size_t x = 0; x < c.expected.size(); ++x)
      EXPECT_EQ(Pixel(*dest, static_cast<int32_t>(x), 0)[0], c.expected[x])
          << "case of " << c.source.size() << " pixels over " << c.extent.Numerator << "/"
          << c.extent.Denominator << ", pixel " << x;
  }
  // An extent beyond the source, or smaller than the result, is refused.
  auto source = MakeImage(3, 1, TPixelFormat::pf24bit);
  auto dest = MakeImage(2, 1, TPixelFormat::pf24bit);
  EXPECT_THROW(ShrinkHalftoneOver(*dest, *source, {7, 2}, {1, 1}), EInvalidGraphicOperation);
  EXPECT_THROW(ShrinkHalftoneOver(*dest, *source, {3, 2}, {1, 1}), EInvalidGraphicOperation);
}

// Extents in eighths over a long line make the divisor of the mean large (8 * 2^20 - 1 times
// 15), as a photo's odd sides do; every result is still the mean rounded to nearest.
TEST(HalftoneOverExtent, LargeDivisorsStayExact) {
  const int32_t width = 1 << 20;
  const int64_t numerator = 8 * int64_t{width} - 1;
  auto source = MakeRandomImage(width, 2, TPixelFormat::pf24bit, 41);
  for (const int32_t destWidth : {1, 3, 1001, 699050}) {
    auto dest = MakeImage(destWidth, 1, TPixelFormat::pf24bit);
    ShrinkHalftoneOver(*dest, *source, {numerator, 8}, {15, 8, true});
    const double span = static_cast<double>(numerator) / 8 / destWidth;
    for (int32_t x = 0; x < destWidth; ++x) {
      const double low = x * span, high = (x + 1) * span;
      for (int c = 0; c < 3; ++c) {
        // The picture covers the last 15/8 rows: the top row weighs 7/15, the bottom one 8/15.
        double sum = 0;
        for (auto j = static_cast<int32_t>(low); j < width && j < high; ++j) {
          const double covered = std::min<double>(j + 1, high) - std::max<double>(j, low);
          sum +=
              covered * (7 * source->ScanLine(0)[3 * j + c] + 8 * source->ScanLine(1)[3 * j + c]);
        }
        const double exact = sum / 15 / span;
        ASSERT_LE(std::fabs(dest->ScanLine(0)[3 * x + c] - exact), 0.5 + 1e-6)
            << destWidth << " pixels, pixel " << x << " channel " << c;
      }
    }
  }
}

}  // namespace
}  // namespace quorvex::test
