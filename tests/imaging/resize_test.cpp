// The resize operation: slot handling, failures, formats and the pixel-selecting mode.
#include "imaging/resize.h"

#include <gtest/gtest.h>

#include "imaging/errors.h"
#include "tests/imaging/image_helpers.h"

namespace quorvex::test {
namespace {

// An image that reports its destruction, to see the slot's old image freed.
class TTrackedBitmap : public TBitmap {
 public:
  explicit TTrackedBitmap(bool* destroyed) : destroyed_(destroyed) {}
  ~TTrackedBitmap() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

struct DivCase {
  int32_t sourceWidth, sourceHeight, newWidth, newHeight;
};

class ResizeDivisionByZero : public ::testing::TestWithParam<DivCase> {};

TEST_P(ResizeDivisionByZero, FailsAndLeavesANewEmptyImageInTheSlot) {
  const DivCase& c = GetParam();
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
    auto source = MakeRandomImage(c.sourceWidth, c.sourceHeight, format, 1);
    TBitmap before;
    before.CopyFrom(*source);
    bool destroyed = false;
    std::unique_ptr<TBitmap> slot = std::make_unique<TTrackedBitmap>(&destroyed);
    try {
      ResizeBitmap(c.newWidth, c.newHeight, slot, *source);
      FAIL() << "no exception";
    } catch (const EDivByZero& e) {
      EXPECT_STREQ(e.what(), "Division by zero");
    }
    EXPECT_TRUE(destroyed);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->Width(), 0);
    EXPECT_EQ(slot->Height(), 0);
    EXPECT_EQ(slot->PixelFormat(), format);
    EXPECT_TRUE(SameImage(*source, before));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResizeDivisionByZero,
                         ::testing::Values(DivCase{10, 10, 5, 0}, DivCase{10, 10, 0, 0},
                                           DivCase{10, 10, 100000, 0}, DivCase{0, 0, 5, 5},
                                           DivCase{7, 0, 5, 5}, DivCase{0, 0, 0, 0}));

class ResizeFormats : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(ResizeFormats, ZeroWidthGivesAnEmptyResult) {
  auto source = MakeRandomImage(10, 8, GetParam(), 2);
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(0, 3, result, *source);
  EXPECT_EQ(result->Width(), 0);
  EXPECT_EQ(result->Height(), 3);
  EXPECT_EQ(result->PixelFormat(), GetParam());
}

TEST_P(ResizeFormats, KeepsFormatAndPalette) {
  auto source = MakeRandomImage(30, 20, GetParam(), 3);
  if (GetParam() == TPixelFormat::pf8bit) source->SetPalette(GrayPalette());
  for (auto [w, h] : {std::pair{15, 10}, std::pair{45, 7}, std::pair{1, 1}, std::pair{300, 200}}) {
    std::unique_ptr<TBitmap> result;
    ResizeBitmap(w, h, result, *source);
    EXPECT_EQ(result->Width(), w);
    EXPECT_EQ(result->Height(), h);
    EXPECT_EQ(result->PixelFormat(), GetParam());
    ASSERT_EQ(result->PaletteSize(), source->PaletteSize());
    for (int i = 0; i < source->PaletteSize(); ++i)
      EXPECT_TRUE(result->Palette()[i] == source->Palette()[i]);
  }
}

TEST_P(ResizeFormats, SameSizeIsACopy) {
  auto source = MakeRandomImage(13, 9, GetParam(), 4);
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(13, 9, result, *source);
  EXPECT_TRUE(SameImage(*result, *source));
  // The copy is independent of its source.
  result->Row(0)[0] ^= 0xFF;
  EXPECT_FALSE(SameImage(*result, *source));
}

TEST_P(ResizeFormats, SourceMayBeTheImageInTheSlot) {
  auto source = MakeRandomImage(20, 10, GetParam(), 5);
  std::unique_ptr<TBitmap> expected;
  ResizeBitmap(7, 4, expected, *source);
  std::unique_ptr<TBitmap> slot = std::move(source);
  ResizeBitmap(7, 4, slot, *slot);
  EXPECT_TRUE(SameImage(*slot, *expected));
}

TEST_P(ResizeFormats, BadSizesFailCleanly) {
  auto source = MakeRandomImage(4, 4, GetParam(), 6);
  std::unique_ptr<TBitmap> result;
  EXPECT_THROW(ResizeBitmap(-1, 5, result, *source), EInvalidGraphicOperation);
  EXPECT_THROW(ResizeBitmap(5, -1, result, *source), EInvalidGraphicOperation);
  EXPECT_THROW(ResizeBitmap(20000, 20000, result, *source), EOutOfMemory);
  EXPECT_THROW(ResizeBitmap(INT32_MAX, INT32_MAX, result, *source), EOutOfMemory);
}

INSTANTIATE_TEST_SUITE_P(Formats, ResizeFormats,
                         ::testing::Values(TPixelFormat::pf24bit, TPixelFormat::pf8bit));

TEST(ResizeSizes, OneSideWithinTheLimitAtATime) {
  // 10 x 20000 to 20000 x 10: setting the width first would ask for 20000 x 20000.
  auto source = MakeRandomImage(10, 20000, TPixelFormat::pf8bit, 7);
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(20000, 10, result, *source);
  EXPECT_EQ(result->Width(), 20000);
  EXPECT_EQ(result->Height(), 10);
}

// Colour-on-colour: every pixel the exact copy of the source pixel under its centre.
struct SelectCase {
  int32_t w, h, newW, newH;
  TPixelFormat format;
};

class ResizeColorOnColor : public ::testing::TestWithParam<SelectCase> {};

TEST_P(ResizeColorOnColor, SelectsThePixelUnderEachCentre) {
  const SelectCase& c = GetParam();
  auto source = MakeRandomImage(c.w, c.h, c.format, 9);
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(c.newW, c.newH, result, *source, TStretchMode::ColorOnColor);
  ASSERT_EQ(result->Width(), c.newW);
  ASSERT_EQ(result->Height(), c.newH);
  const int bpp = TBitmap::BytesPerPixel(c.format);
  for (int32_t y = 0; y < c.newH; ++y) {
    const auto sy = static_cast<int32_t>((y + 0.5) * c.h / c.newH);
    for (int32_t x = 0; x < c.newW; ++x) {
      const auto sx = static_cast<int32_t>((x + 0.5) * c.w / c.newW);
      for (int b = 0; b < bpp; ++b)
        ASSERT_EQ(result->ScanLine(y)[bpp * x + b], source->ScanLine(sy)[bpp * sx + b])
            << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResizeColorOnColor,
                         ::testing::Values(SelectCase{37, 23, 5, 7, TPixelFormat::pf8bit},
                                           SelectCase{10, 10, 33, 21, TPixelFormat::pf8bit},
                                           SelectCase{64, 48, 64, 12, TPixelFormat::pf8bit},
                                           SelectCase{1, 1, 9, 4, TPixelFormat::pf8bit},
                                           SelectCase{37, 23, 5, 7, TPixelFormat::pf24bit},
                                           SelectCase{6, 5, 17, 13, TPixelFormat::pf24bit},
                                           SelectCase{100, 3, 7, 30, TPixelFormat::pf24bit}));

TEST(ResizeModes, EightBitImagesNeverBlend) {
  // Halftone is asked for, but an indexed image can only select: every index is a source index.
  auto source = MakeImage(8, 8, TPixelFormat::pf8bit);
  source->SetPalette(GrayPalette());
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) SetIndex(*source, x, y, (x + y) % 2 ? 200 : 10);
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(3, 5, result, *source, TStretchMode::Halftone);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 3; ++x) {
      const uint8_t index = Index(*result, x, y);
      EXPECT_TRUE(index == 200 || index == 10) << int{index};
    }
}

TEST(ResizeModes, HalftoneAveragesColour) {
  // A 2 x 1 black-and-white checker halves to mid grey in halftone, to one of the two otherwise.
  auto source = MakeImage(2, 1, TPixelFormat::pf24bit);
  SetPixel(*source, 0, 0, {0, 0, 0});
  SetPixel(*source, 1, 0, {255, 255, 255});
  std::unique_ptr<TBitmap> result;
  ResizeBitmap(1, 1, result, *source);
  const TPixel mean = Pixel(*result, 0, 0);
  EXPECT_TRUE(mean == (TPixel{128, 128, 128}) || mean == (TPixel{127, 127, 127}));
  ResizeBitmap(1, 1, result, *source, TStretchMode::ColorOnColor);
  const TPixel picked = Pixel(*result, 0, 0);
  EXPECT_TRUE(picked == (TPixel{0, 0, 0}) || picked == (TPixel{255, 255, 255}));
}

}  // namespace
}  // namespace quorvex::test
