// The raster image properties the transforms rely on: row layout, copies and palettes.
#include "imaging/raster_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "imaging/errors.h"
#include "tests/imaging/image_helpers.h"

namespace quorvex::test {
namespace {

struct StrideCase {
  int32_t width;
  TPixelFormat format;
  size_t stride;
};

class RasterStride : public ::testing::TestWithParam<StrideCase> {};

TEST_P(RasterStride, RowsArePaddedToWholeWords) {
  const StrideCase& c = GetParam();
  EXPECT_EQ(TBitmap::StrideFor(c.width, c.format), c.stride);
  auto image = MakeImage(c.width, 3, c.format);
  EXPECT_EQ(image->Stride(), c.stride);
}

INSTANTIATE_TEST_SUITE_P(Widths, RasterStride,
                         ::testing::Values(StrideCase{1, TPixelFormat::pf24bit, 4},
                                           StrideCase{5, TPixelFormat::pf24bit, 16},
                                           StrideCase{4, TPixelFormat::pf24bit, 12},
                                           StrideCase{3, TPixelFormat::pf24bit, 12},
                                           StrideCase{1, TPixelFormat::pf8bit, 4},
                                           StrideCase{5, TPixelFormat::pf8bit, 8},
                                           StrideCase{8, TPixelFormat::pf8bit, 8},
                                           StrideCase{0, TPixelFormat::pf24bit, 0}));

TEST(RasterLayout, RowZeroIsTheTopAndLiesLastInMemory) {
  auto image = MakeImage(5, 4, TPixelFormat::pf24bit);
  // Bottom-up storage: each row sits one stride below the row above it.
  for (int32_t y = 1; y < 4; ++y)
    EXPECT_EQ(image->ScanLine(y - 1) - image->ScanLine(y), static_cast<ptrdiff_t>(image->Stride()));
  EXPECT_THROW(image->ScanLine(4), EInvalidGraphicOperation);
  EXPECT_THROW(image->Row(-1), EInvalidGraphicOperation);
}

TEST(RasterLayout, ColourValueRedLandsInTheThirdByte) {
  auto image = MakeImage(1, 1, TPixelFormat::pf24bit);
  const TColor red = 255;
  SetPixel(
      *image, 0, 0,
      {static_cast<uint8_t>(red >> 16), static_cast<uint8_t>(red >> 8), static_cast<uint8_t>(red)});
  const uint8_t* p = image->ScanLine(0);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 255);
}

class RasterCopy : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(RasterCopy, CopyIsExactAndIndependent) {
  auto source = MakeRandomImage(7, 5, GetParam(), 11);
  TBitmap copy;
  copy.CopyFrom(*source);
  ASSERT_TRUE(SameImage(copy, *source));
  EXPECT_EQ(copy.PaletteSize(), GetParam() == TPixelFormat::pf8bit ? 256 : 0);

  const uint8_t before = source->ScanLine(2)[3];
  copy.Row(2)[3] = static_cast<uint8_t>(before + 1);
  EXPECT_EQ(source->ScanLine(2)[3], before);
  source->Row(4)[0] = static_cast<uint8_t>(copy.ScanLine(4)[0] + 7);
  EXPECT_NE(copy.ScanLine(4)[0], source->ScanLine(4)[0]);
}

INSTANTIATE_TEST_SUITE_P(Formats, RasterCopy,
                         ::testing::Values(TPixelFormat::pf24bit, TPixelFormat::pf8bit));

// Large rasters reuse the memory of rasters that are gone: a new one is still black all over,
// whether it is as large as the last one or somewhat smaller, and on several threads at once.
TEST(RasterMemory, NewRastersAreBlackWhateverTheOldOnesHeld) {
  const auto blackEverywhere = [](const TBitmap& image) {
    for (int32_t y = 0; y < image.Height(); ++y) {
      const uint8_t* row = image.ScanLine(y);
      for (int32_t i = 0; i < 3 * image.Width(); ++i)
        if (row[i] != 0) return false;
    }
    return true;
  };
  const auto round = [&](int32_t width, int32_t height) {
    for (const int32_t side : {height, height - 300, height}) {
      TBitmap image;
      image.SetSize(width, side);
      if (!blackEverywhere(image)) return false;
      for (int32_t y = 0; y < image.Height(); ++y) std::memset(image.Row(y), 0xA5, 3 * width);
    }
    return true;
  };
  // 12 and 18 MiB: beyond the size where rasters get memory of their own.
  EXPECT_TRUE(round(2000, 2000));
  bool second = false;
  std::thread other([&] { second = round(2000, 3000); });
  EXPECT_TRUE(round(2000, 2000));
  other.join();
  EXPECT_TRUE(second);
}

}  // namespace
}  // namespace quorvex::test
