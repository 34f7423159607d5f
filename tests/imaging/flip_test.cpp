// Reverse row order (FlipHorizontal) and reverse column order (FlipVertical).
#include "imaging/flip.h"

#include <gtest/gtest.h>

#include "tests/imaging/image_helpers.h"
#include "tests/support/external_tools.h"

namespace quorvex::test {
namespace {

// Pixel (x, y) of the example image reads as one distinct value per position.
std::unique_ptr<TBitmap> Letters(TPixelFormat format) {
  // Top row A B C, bottom row D E F.
  auto image = MakeImage(3, 2, format);
  if (format == TPixelFormat::pf8bit) image->SetPalette(GrayPalette());
  const uint8_t letters[2][3] = {{'A', 'B', 'C'}, {'D', 'E', 'F'}};
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) {
      if (format == TPixelFormat::pf8bit)
        SetIndex(*image, x, y, letters[y][x]);
      else
        SetPixel(*image, x, y, {letters[y][x], static_cast<uint8_t>(letters[y][x] + 1), 9});
    }
  return image;
}

std::string Rows(const TBitmap& image) {
  std::string text;
  for (int32_t y = 0; y < image.Height(); ++y) {
    if (y) text += '/';
    for (int32_t x = 0; x < image.Width(); ++x)
      text += static_cast<char>(
          image.PixelFormat() == TPixelFormat::pf8bit ? Index(image, x, y) : Pixel(image, x, y)[0]);
  }
  return text;
}

class FlipExample : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(FlipExample, ReverseRowOrderTurnsUpsideDown) {
  auto image = Letters(GetParam());
  ReverseRowOrder(*image);
  EXPECT_EQ(Rows(*image), "DEF/ABC");
}

TEST_P(FlipExample, ReverseColumnOrderSwapsLeftAndRight) {
  auto image = Letters(GetParam());
  ReverseColumnOrder(*image);
  EXPECT_EQ(Rows(*image), "CBA/FED");
  if (GetParam() == TPixelFormat::pf24bit) {
    // The three bytes of a pixel keep their order.
    EXPECT_EQ(Pixel(*image, 0, 0), (TPixel{'C', 'D', 9}));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FlipExample,
                         ::testing::Values(TPixelFormat::pf24bit, TPixelFormat::pf8bit));

struct FlipShape {
  int32_t width;
  int32_t height;
  TPixelFormat format;
};

class FlipShapes : public ::testing::TestWithParam<FlipShape> {};

TEST_P(FlipShapes, EachFlipMirrorsEveryPixelAndTwiceRestores) {
  const FlipShape& shape = GetParam();
  auto original = MakeRandomImage(shape.width, shape.height, shape.format, 5);
  TBitmap rows, columns;
  rows.CopyFrom(*original);
  columns.CopyFrom(*original);
  ReverseRowOrder(rows);
  ReverseColumnOrder(columns);
  const int bpp = TBitmap::BytesPerPixel(shape.format);
  for (int32_t y = 0; y < shape.height; ++y)
    for (int32_t x = 0; x < shape.width; ++x)
      for (int b = 0; b < bpp; ++b) {
        const uint8_t value = original->ScanLine(y)[bpp * x + b];
        ASSERT_EQ(rows.ScanLine(shape.height - 1 - y)[bpp * x + b], value);
        ASSERT_EQ(columns.ScanLine(y)[bpp * (shape.width - 1 - x) + b], value);
      }
  EXPECT_EQ(rows.PaletteSize(), original->PaletteSize());
  EXPECT_TRUE(SameImage(*original, rows) == (shape.height <= 1));
  EXPECT_TRUE(SameImage(*original, columns) == (shape.width <= 1));
  ReverseRowOrder(rows);
  ReverseColumnOrder(columns);
  EXPECT_TRUE(SameImage(*original, rows));
  EXPECT_TRUE(SameImage(*original, columns));
}

TEST_P(FlipShapes, FlipsLeaveTheSourceOfACopyAlone) {
  const FlipShape& shape = GetParam();
  auto original = MakeRandomImage(shape.width, shape.height, shape.format, 6);
  TBitmap copy;
  copy.CopyFrom(*original);
  TBitmap flipped;
  flipped.CopyFrom(*original);
  ReverseRowOrder(flipped);
  ReverseColumnOrder(flipped);
  EXPECT_TRUE(SameImage(*original, copy));
}

INSTANTIATE_TEST_SUITE_P(Shapes, FlipShapes,
                         ::testing::Values(FlipShape{1, 1, TPixelFormat::pf24bit},
                                           FlipShape{1, 7, TPixelFormat::pf24bit},
                                           FlipShape{7, 1, TPixelFormat::pf24bit},
                                           FlipShape{5, 4, TPixelFormat::pf24bit},
                                           FlipShape{33, 17, TPixelFormat::pf24bit},
                                           FlipShape{1, 9, TPixelFormat::pf8bit},
                                           FlipShape{9, 1, TPixelFormat::pf8bit},
                                           FlipShape{6, 5, TPixelFormat::pf8bit},
                                           FlipShape{31, 12, TPixelFormat::pf8bit}));

TEST(FlipEmpty, WidthZeroIsLeftAsItIs) {
  auto image = MakeImage(0, 5, TPixelFormat::pf8bit);
  image->SetPalette(GrayPalette());
  ReverseRowOrder(*image);
  ReverseColumnOrder(*image);
  EXPECT_EQ(image->Width(), 0);
  EXPECT_EQ(image->Height(), 5);
  EXPECT_EQ(image->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(image->PaletteSize(), 256);
}

TEST(FlipEmpty, HeightZeroStaysEmpty) {
  auto image = MakeImage(4, 0, TPixelFormat::pf24bit);
  ReverseRowOrder(*image);
  ReverseColumnOrder(*image);
  EXPECT_EQ(image->Width(), 4);
  EXPECT_EQ(image->Height(), 0);
}

// Golden data from an independent tool: ImageMagick's -flip (upside down) and -flop (mirror).
TEST(FlipAgainstImageMagick, MatchesFlipAndFlop) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick);
  const auto dir = TempDir("flip");
  auto original = MakeRandomImage(23, 14, TPixelFormat::pf24bit, 21);
  WritePpm(*original, dir / "in.ppm");
  ASSERT_TRUE(
      RunCommand("convert " + (dir / "in.ppm").string() + " -flip " + (dir / "flip.ppm").string()));
  ASSERT_TRUE(
      RunCommand("convert " + (dir / "in.ppm").string() + " -flop " + (dir / "flop.ppm").string()));
  TBitmap rows, columns;
  rows.CopyFrom(*original);
  columns.CopyFrom(*original);
  ReverseRowOrder(rows);
  ReverseColumnOrder(columns);
  EXPECT_TRUE(SameImage(rows, *ReadPpm(dir / "flip.ppm")));
  EXPECT_TRUE(SameImage(columns, *ReadPpm(dir / "flop.ppm")));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvex::test
