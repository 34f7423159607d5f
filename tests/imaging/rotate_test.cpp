// Rotation by any angle: sizes, the quarter-turn identities, background and degenerate angles.
#include "imaging/rotate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <set>

#include "imaging/errors.h"
#include "imaging/flip.h"
#include "imaging/palette_match.h"
#include "imaging/round_half_even.h"
#include "tests/imaging/image_helpers.h"
#include "tests/support/external_tools.h"

namespace quorvex::test {
namespace {

constexpr TColor kWhite = 0xFFFFFF;

std::unique_ptr<TBitmap> Rotated(const TBitmap& source, float angle, TColor background = kWhite) {
  std::unique_ptr<TBitmap> result;
  RotateBitmap(source, result, background, angle);
  return result;
}

struct Shape {
  int32_t width;
  int32_t height;
  TPixelFormat format;
};

class RotateShapes : public ::testing::TestWithParam<Shape> {
 protected:
  std::unique_ptr<TBitmap> Source() const {
    return MakeRandomImage(GetParam().width, GetParam().height, GetParam().format, 17);
  }
};

TEST_P(RotateShapes, ZeroAndFullTurnsCopy) {
  auto source = Source();
  for (float angle : {0.0f, -0.0f, 360.0f, -360.0f}) {
    SCOPED_TRACE(angle);
    EXPECT_TRUE(SameImage(*Rotated(*source, angle), *source));
  }
}

TEST_P(RotateShapes, QuarterTurnCounterClockwise) {
  auto source = Source();
  auto result = Rotated(*source, 90);
  const int32_t w = source->Width(), h = source->Height();
  ASSERT_EQ(result->Width(), h);
  ASSERT_EQ(result->Height(), w);
  const int bpp = TBitmap::BytesPerPixel(source->PixelFormat());
  for (int32_t y = 0; y < w; ++y)
    for (int32_t x = 0; x < h; ++x)
      for (int b = 0; b < bpp; ++b)
        ASSERT_EQ(result->ScanLine(y)[bpp * x + b], source->ScanLine(x)[bpp * (w - 1 - y) + b])
            << x << "," << y;
}

TEST_P(RotateShapes, QuarterTurnClockwiseForMinus90And270) {
  auto source = Source();
  const int32_t w = source->Width(), h = source->Height();
  const int bpp = TBitmap::BytesPerPixel(source->PixelFormat());
  for (float angle : {-90.0f, 270.0f}) {
    SCOPED_TRACE(angle);
    auto result = Rotated(*source, angle);
    ASSERT_EQ(result->Width(), h);
    ASSERT_EQ(result->Height(), w);
    for (int32_t y = 0; y < w; ++y)
      for (int32_t x = 0; x < h; ++x)
        for (int b = 0; b < bpp; ++b)
          ASSERT_EQ(result->ScanLine(y)[bpp * x + b], source->ScanLine(h - 1 - x)[bpp * y + b]);
  }
}

TEST_P(RotateShapes, HalfTurnEqualsBothFlips) {
  auto source = Source();
  TBitmap flipped;
  flipped.CopyFrom(*source);
  ReverseRowOrder(flipped);
  ReverseColumnOrder(flipped);
  EXPECT_TRUE(SameImage(*Rotated(*source, 180), flipped));
  EXPECT_TRUE(SameImage(*Rotated(*source, -180), flipped));
}

TEST_P(RotateShapes, EveryPixelIsASourcePixelOrBackground) {
  auto source = Source();
  const int bpp = TBitmap::BytesPerPixel(source->PixelFormat());
  std::set<std::vector<uint8_t>> present;
  for (int32_t y = 0; y < source->Height(); ++y)
    for (int32_t x = 0; x < source->Width(); ++x)
      present.insert({source->ScanLine(y) + bpp * x, source->ScanLine(y) + bpp * (x + 1)});
  const TColor background = 0x123456;
  const std::vector<uint8_t> fill =
      bpp == 3 ? std::vector<uint8_t>{0x12, 0x34, 0x56}
               : std::vector<uint8_t>{
                     static_cast<uint8_t>(FindPaletteIndex(source->Palette(), background))};
  present.insert(fill);
  for (float angle : {13.0f, 45.0f, -33.3f, 100.0f, 222.5f}) {
    auto result = Rotated(*source, angle, background);
    EXPECT_EQ(result->PixelFormat(), source->PixelFormat());
    EXPECT_EQ(result->PaletteSize(), source->PaletteSize());
    for (int32_t y = 0; y < result->Height(); ++y)
      for (int32_t x = 0; x < result->Width(); ++x)
        ASSERT_TRUE(
            present.count({result->ScanLine(y) + bpp * x, result->ScanLine(y) + bpp * (x + 1)}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RotateShapes,
    ::testing::Values(Shape{1, 1, TPixelFormat::pf24bit}, Shape{5, 3, TPixelFormat::pf24bit},
                      Shape{4, 7, TPixelFormat::pf24bit}, Shape{40, 25, TPixelFormat::pf24bit},
                      Shape{1, 9, TPixelFormat::pf8bit}, Shape{6, 6, TPixelFormat::pf8bit},
                      Shape{31, 18, TPixelFormat::pf8bit}));

// Straight from the rotation's rules with the library's rounding: every stored real a float,
// arithmetic in double, nearest with ties to even.
std::unique_ptr<TBitmap> ReferenceRotation(const TBitmap& source, float angle, TColor background) {
  const float rad = static_cast<float>(static_cast<double>(angle) * std::numbers::pi / 180);
  const float s = static_cast<float>(std::sin(static_cast<double>(rad)));
  const float c = static_cast<float>(std::cos(static_cast<double>(rad)));
  const double w = source.Width(), h = source.Height();
  const auto w2 = static_cast<int32_t>(std::nearbyint(std::fabs(w * c) + std::fabs(h * s)));
  const auto h2 = static_cast<int32_t>(std::nearbyint(std::fabs(w * s) + std::fabs(h * c)));
  auto result = MakeImage(w2, h2, TPixelFormat::pf24bit);
  const float cx2 = static_cast<float>((w2 - 1) / 2.0), cy2 = static_cast<float>((h2 - 1) / 2.0);
  const float cx = static_cast<float>((w - 1) / 2.0), cy = static_cast<float>((h - 1) / 2.0);
  for (int32_t y = 0; y < h2; ++y)
    for (int32_t x = 0; x < w2; ++x) {
      const float sx = static_cast<float>((x - double{cx2}) * c - (y - double{cy2}) * s + cx);
      const float sy = static_cast<float>((x - double{cx2}) * s + (y - double{cy2}) * c + cy);
      const double ix = std::nearbyint(sx), iy = std::nearbyint(sy);
      if (ix >= 0 && ix < w && iy >= 0 && iy < h)
        SetPixel(*result, x, y, Pixel(source, static_cast<int32_t>(ix), static_cast<int32_t>(iy)));
      else
        SetPixel(*result, x, y,
                 {static_cast<uint8_t>(background >> 16), static_cast<uint8_t>(background >> 8),
                  static_cast<uint8_t>(background)});
    }
  return result;
}

TEST(RotateMapping, MatchesThePlainPerPixelFormula) {
  auto source = MakeRandomImage(37, 22, TPixelFormat::pf24bit, 3);
  for (float angle : {1.0f, 30.0f, 45.0f, 60.0f, 89.9f, 135.0f, -17.5f, 300.0f, 1000.0f}) {
    SCOPED_TRACE(angle);
    EXPECT_TRUE(SameImage(*Rotated(*source, angle, 0x0000FF),
                          *ReferenceRotation(*source, angle, 0x0000FF)));
  }
}

TEST(RotateMapping, FortyFiveDegreesLeavesBackgroundCorners) {
  auto source = MakeImage(100, 100, TPixelFormat::pf24bit);
  const TPixel grey{50, 60, 70};
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 100; ++x) SetPixel(*source, x, y, grey);
  auto result = Rotated(*source, 45, 0x0000FF);
  ASSERT_EQ(result->Width(), 141);
  ASSERT_EQ(result->Height(), 141);
  const TPixel red{0, 0, 255};
  // Each corner triangle (x + y small seen from that corner) is background, the middle diamond
  // is picture.
  for (int32_t y = 0; y < 141; ++y)
    for (int32_t x = 0; x < 141; ++x) {
      const int32_t fromCorner =
          std::min({x + y, (140 - x) + y, x + (140 - y), (140 - x) + (140 - y)});
      if (fromCorner < 66) {
        ASSERT_EQ(Pixel(*result, x, y), red) << x << "," << y;
      } else if (fromCorner > 74) {
        ASSERT_EQ(Pixel(*result, x, y), grey) << x << "," << y;
      }
    }
}

TEST(RotateSize, FollowsTheRoundedProjections) {
  const TRotation quarter = RotationFor(90);
  EXPECT_EQ(RotatedSize(640, 480, quarter).width, 480);
  EXPECT_EQ(RotatedSize(640, 480, quarter).height, 640);
  const TRotation thirty = RotationFor(30);
  // 6000 * 0.866 + 4000 * 0.5 = 7196.2; 6000 * 0.5 + 4000 * 0.866 = 6464.1
  EXPECT_EQ(RotatedSize(6000, 4000, thirty).width, 7196);
  EXPECT_EQ(RotatedSize(6000, 4000, thirty).height, 6464);
  // Wider than a signed 32-bit integer: no overflow, a clean failure.
  const int32_t huge = std::numeric_limits<int32_t>::max();
  EXPECT_THROW(RotatedSize(huge, huge, RotationFor(45)), EOutOfMemory);
  EXPECT_EQ(RotatedSize(huge, 1, RotationFor(0)).width, huge);
}

TEST(RotateSize, ResultsBeyondTheRasterLimitFailCleanly) {
  // 23200 x 1 turned by 45 degrees needs about 16405 x 16405 pixels, more than the limit.
  auto source = MakeImage(23200, 1, TPixelFormat::pf24bit);
  std::unique_ptr<TBitmap> result;
  EXPECT_THROW(RotateBitmap(*source, result, kWhite, 45), EOutOfMemory);
}

class RotateDegenerateAngle : public ::testing::TestWithParam<float> {};

TEST_P(RotateDegenerateAngle, GivesAnEmptyResult) {
  const TRotation rotation = RotationFor(GetParam());
  EXPECT_EQ(rotation.sine, 0.0f);
  EXPECT_EQ(rotation.cosine, 0.0f);
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
    auto source = MakeRandomImage(9, 4, format, 1);
    auto result = Rotated(*source, GetParam());
    EXPECT_EQ(result->Width(), 0);
    EXPECT_EQ(result->Height(), 0);
    EXPECT_EQ(result->PixelFormat(), format);
  }
}

INSTANTIATE_TEST_SUITE_P(Angles, RotateDegenerateAngle,
                         ::testing::Values(1e30f, -1e30f, 5.3e20f,
                                           std::numeric_limits<float>::max(),
                                           std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity(),
                                           std::numeric_limits<float>::quiet_NaN()));

TEST(RotateDegenerate, JustBelowTwoToThe63StillTurns) {
  // 5.2e20 degrees is about 9.08e18 radians, below 2^63 (9.22e18).
  const TRotation rotation = RotationFor(5.2e20f);
  EXPECT_NE(std::fabs(rotation.sine) + std::fabs(rotation.cosine), 0.0f);
}

TEST(RotateDegenerate, EmptySourceGivesEmptyResult) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 10}, std::pair{10, 0}}) {
    auto source = MakeImage(w, h, TPixelFormat::pf24bit);
    auto result = Rotated(*source, 45);
    EXPECT_TRUE(result->Empty());
  }
}

TEST(RotateSlot, FreesWhatTheSlotHeldAndAcceptsTheSourceItself) {
  auto source = MakeRandomImage(8, 5, TPixelFormat::pf24bit, 2);
  TBitmap expected;
  expected.CopyFrom(*Rotated(*source, 90));
  std::unique_ptr<TBitmap> slot = std::move(source);
  RotateBitmap(*slot, slot, kWhite, 90);
  EXPECT_TRUE(SameImage(*slot, expected));
}

TEST(RotateBackground, EightBitCornersTakeTheLowestMatchingIndex) {
  auto source = MakeImage(10, 10, TPixelFormat::pf8bit);
  auto palette = GrayPalette();
  palette[3] = {0x30, 0x20, 0x10, 0};  // colour 0x302010
  palette[7] = palette[3];
  source->SetPalette(palette);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x) SetIndex(*source, x, y, 100);
  EXPECT_EQ(Index(*Rotated(*source, 45, 0x302010), 0, 0), 3);
  EXPECT_EQ(Index(*Rotated(*source, 45, 0x302011), 0, 0), 0);
  EXPECT_EQ(Index(*Rotated(*source, 45, kWhite), 0, 0), 255);
  EXPECT_EQ(Index(*Rotated(*source, 45, 0x01302010), 0, 0), 0);
  EXPECT_EQ(Rotated(*source, 45, kWhite)->PaletteSize(), 256);
  EXPECT_TRUE(Rotated(*source, 45, kWhite)->Palette()[7] == palette[7]);
}

TEST(PaletteMatch, LowestIndexOrZero) {
  std::vector<TPaletteEntry> palette(4);
  palette[1] = {0xCC, 0xBB, 0xAA, 0};  // 0xCCBBAA
  palette[2] = palette[1];
  palette[3] = {0, 0, 0xFF, 0x55};  // reserved byte never takes part
  EXPECT_EQ(FindPaletteIndex(palette, 0xCCBBAA), 1);
  EXPECT_EQ(FindPaletteIndex(palette, 0x0000FF), 3);
  EXPECT_EQ(FindPaletteIndex(palette, 0x123456), 0);
  EXPECT_EQ(FindPaletteIndex(palette, 0x80CCBBAA), 0);
  EXPECT_EQ(FindPaletteIndex({}, 0), 0);
}

TEST(RoundHalfEven, AgreesWithNearbyint) {
  for (double v : {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.49999997, 1e15 + 0.5, -7.25, 3.0, 1e300})
    EXPECT_EQ(RoundHalfEven(v), std::nearbyint(v)) << v;
  std::mt19937 random(4);
  for (int i = 0; i < 100000; ++i) {
    const float v = std::uniform_real_distribution<float>(-70000, 70000)(random);
    ASSERT_EQ(RoundHalfEven(v), std::nearbyint(v)) << v;
    const float half = std::floor(v) + 0.5f;
    ASSERT_EQ(RoundHalfEven(half), std::nearbyint(half)) << half;
  }
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(std::isinf(RoundHalfEven(std::numeric_limits<double>::infinity())));
}

// Golden data from an independent tool for the quarter and half turns (ImageMagick turns
// clockwise for positive angles).
TEST(RotateAgainstImageMagick, QuarterAndHalfTurns) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick);
  const auto dir = TempDir("rotate");
  auto source = MakeRandomImage(19, 11, TPixelFormat::pf24bit, 8);
  WritePpm(*source, dir / "in.ppm");
  for (auto [ours, theirs] :
       {std::pair{90.0f, "-90"}, std::pair{-90.0f, "90"}, std::pair{180.0f, "180"}}) {
    const auto out = dir / ("out" + std::string(theirs) + ".ppm");
    ASSERT_TRUE(RunCommand("convert " + (dir / "in.ppm").string() + " -rotate " + theirs + " " +
                           out.string()));
    EXPECT_TRUE(SameImage(*Rotated(*source, ours), *ReadPpm(out))) << ours;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvex::test
