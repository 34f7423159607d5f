// The Resize object's transforms: size arithmetic, tie rules, failures and what they leave.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imaging/errors.h"
#include "tests/support/failure.h"

namespace quorvex {
namespace {

// A Resize object whose image a test can set directly, in any size and format.
class TestResize : public TResize {
 public:
  void SetImage(int32_t width, int32_t height, TPixelFormat format = TPixelFormat::pf24bit) {
    TBitmap image;
    image.SetPixelFormat(format);
    image.SetSize(width, height);
    if (format == TPixelFormat::pf8bit) {
      std::vector<TPaletteEntry> gray(256);
      for (int i = 0; i < 256; ++i)
        gray[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
      image.SetPalette(gray);
    }
    const int bytes = TBitmap::BytesPerPixel(format);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width * bytes; ++x)
        image.Row(y)[x] = static_cast<uint8_t>(x * 7 + y * 13);
    ReplaceImage(image);
  }
};

using testing::FailureOf;

struct Size {
  int32_t width, height;
};

struct SizeCase {
  const char* name;
  Size image;
  std::function<void(TResize&)> transform;
  Size expected;
};
class TransformSizes : public ::testing::TestWithParam<SizeCase> {};
TEST_P(TransformSizes, GiveTheExpectedSize) {
  TestResize resize;
  resize.SetImage(GetParam().image.width, GetParam().image.height);
  GetParam().transform(resize);
  EXPECT_EQ(resize.Width(), GetParam().expected.width);
  EXPECT_EQ(resize.Height(), GetParam().expected.height);
}
INSTANTIATE_TEST_SUITE_P(
    Arithmetic, TransformSizes,
    ::testing::Values(
        SizeCase{"HeightGiven", {1000, 750}, [](TResize& r) { r.ResizeImage(0, 100); }, {133, 100}},
        SizeCase{"WidthGiven", {1000, 750}, [](TResize& r) { r.ResizeImage(200, 0); }, {200, 150}},
        SizeCase{
            "NegativeIsZero", {1000, 750}, [](TResize& r) { r.ResizeImage(-5, 0); }, {1000, 750}},
        SizeCase{"BothZero", {1000, 750}, [](TResize& r) { r.ResizeImage(0, 0); }, {1000, 750}},
        SizeCase{"NoAspectCorrection",
                 {1000, 750},
                 [](TResize& r) { r.ResizeImage(300, 300); },
                 {300, 300}},
        SizeCase{"NothingLoaded", {0, 0}, [](TResize& r) { r.ResizeImage(100, 100); }, {0, 0}},
        SizeCase{"DerivedWidthZero", {100, 1000}, [](TResize& r) { r.ResizeImage(-1, 1); }, {0, 1}},
        SizeCase{"BoxOfZeroWidthImage", {0, 10}, [](TResize& r) { r.ResizeBox(5, 5); }, {0, 5}},
        SizeCase{"ScaleHalf", {1001, 751}, [](TResize& r) { r.ScaleImage(50); }, {500, 375}},
        SizeCase{"ScaleZero", {1001, 751}, [](TResize& r) { r.ScaleImage(0); }, {1001, 751}},
        SizeCase{"ScaleNegative", {1001, 751}, [](TResize& r) { r.ScaleImage(-20); }, {1001, 751}},
        SizeCase{"ScaleUp", {100, 80}, [](TResize& r) { r.ScaleImage(250); }, {250, 200}},
        SizeCase{"Scale100", {37, 23}, [](TResize& r) { r.ScaleImage(100); }, {37, 23}},
        SizeCase{"BoxLarger", {640, 480}, [](TResize& r) { r.ResizeBox(800, 600); }, {640, 480}},
        SizeCase{"BoxEqual", {640, 480}, [](TResize& r) { r.ResizeBox(640, 480); }, {640, 480}},
        SizeCase{"BoxByWidth", {640, 480}, [](TResize& r) { r.ResizeBox(320, 320); }, {320, 240}},
        SizeCase{"BoxOneSideExceeds",
                 {640, 480},
                 [](TResize& r) { r.ResizeBox(1000, 100); },
                 {133, 100}},
        SizeCase{"BoxTieGoesToHeight",
                 {800, 600},
                 [](TResize& r) { r.ResizeBox(400, 300); },
                 {400, 300}},
        SizeCase{"BoxZeroWidth", {640, 480}, [](TResize& r) { r.ResizeBox(0, 100); }, {640, 480}},
        SizeCase{"BoxZeroHeight", {640, 480}, [](TResize& r) { r.ResizeBox(100, 0); }, {640, 480}},
        SizeCase{"BoxZero", {640, 480}, [](TResize& r) { r.ResizeBox(0, 0); }, {640, 480}},
        SizeCase{"CropNormalised",
                 {200, 200},
                 [](TResize& r) { r.CropImage(100, 80, 20, 10); },
                 {80, 70}},
        SizeCase{
            "CropZeroWidth", {200, 200}, [](TResize& r) { r.CropImage(5, 0, 5, 10); }, {0, 10}},
        SizeCase{"Rotate90", {30, 20}, [](TResize& r) { r.RotateImage(90); }, {20, 30}},
        SizeCase{"Rotate45", {100, 100}, [](TResize& r) { r.RotateImage(45); }, {141, 141}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  Size image;
  std::function<void(TResize&)> transform;
  const char* message;
};
class TransformFailures : public ::testing::TestWithParam<FailureCase> {};
TEST_P(TransformFailures, ReportTheMessageAndKeepTheImage) {
  TestResize resize;
  resize.SetImage(GetParam().image.width, GetParam().image.height);
  EXPECT_EQ(FailureOf([&] { GetParam().transform(resize); }), GetParam().message);
  EXPECT_EQ(resize.Width(), GetParam().image.width);
  EXPECT_EQ(resize.Height(), GetParam().image.height);
}
INSTANTIATE_TEST_SUITE_P(
    Messages, TransformFailures,
    ::testing::Values(
        FailureCase{
            "ScaleNothingLoaded", {0, 0}, [](TResize& r) { r.ScaleImage(50); }, "Division by zero"},
        FailureCase{
            "ScaleToZeroHeight", {50, 50}, [](TResize& r) { r.ScaleImage(1); }, "Division by zero"},
        FailureCase{"DerivedHeightZero",
                    {100, 10},
                    [](TResize& r) { r.ResizeImage(1, 0); },
                    "Division by zero"},
        FailureCase{"DeriveFromZeroWidth",
                    {0, 10},
                    [](TResize& r) { r.ResizeImage(5, 0); },
                    "Division by zero"},
        FailureCase{"HugeResize",
                    {100, 80},
                    [](TResize& r) { r.ResizeImage(100000, 100000); },
                    "Out of memory"},
        FailureCase{"HugeDerivedSide",
                    {1, 1000},
                    [](TResize& r) { r.ResizeImage(0, INT_MAX); },
                    "Out of memory"},
        FailureCase{
            "HugeScale", {1000, 1000}, [](TResize& r) { r.ScaleImage(INT_MAX); }, "Out of memory"},
        FailureCase{"HugeCrop",
                    {10, 10},
                    [](TResize& r) { r.CropImage(INT_MIN, 0, INT_MAX, 1); },
                    "Out of memory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransformResults, ZeroSidedCropCannotBeSaved) {
  TestResize resize;
  resize.SetImage(20, 20);
  resize.CropImage(5, 0, 5, 10);
  BSTR name = Utf8ToNewBstr("/tmp/quorvex-never-written.jpg");
  EXPECT_EQ(FailureOf([&] { resize.SaveToFile(name); }), "No image loaded.");
  SysFreeString(name);
}

TEST(TransformResults, CropOutsideTheImageTakesTheBackground) {
  TestResize resize;
  resize.SetImage(100, 100);
  const std::vector<uint8_t> corner(resize.Image().ScanLine(0), resize.Image().ScanLine(0) + 30);
  resize.SetBackgroundColor(0x00332211);
  resize.CropImage(-10, -10, 10, 10);
  ASSERT_EQ(resize.Width(), 20);
  ASSERT_EQ(resize.Height(), 20);
  const TBitmap& image = resize.Image();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const uint8_t* pixel = image.ScanLine(y) + 3 * x;
      if (x >= 10 && y >= 10) continue;
      ASSERT_EQ(pixel[0], 0x33) << x << "," << y;
      ASSERT_EQ(pixel[1], 0x22);
      ASSERT_EQ(pixel[2], 0x11);
    }
  EXPECT_TRUE(std::equal(corner.begin(), corner.end(), image.ScanLine(10) + 30))
      << "the lower-right quarter is the image's top-left corner";
}

TEST(TransformResults, OnePixelCropsArePaintedToo) {
  TestResize resize;
  resize.SetImage(10, 10);
  resize.SetBackgroundColor(0x000000FF);
  resize.CropImage(20, 0, 21, 5);
  ASSERT_EQ(resize.Width(), 1);
  for (int y = 0; y < 5; ++y) {
    EXPECT_EQ(resize.Image().ScanLine(y)[0], 0) << "blue";
    EXPECT_EQ(resize.Image().ScanLine(y)[2], 255) << "red";
  }
}

TEST(TransformResults, CropOfAnIndexedImageIsColour) {
  TestResize resize;
  resize.SetImage(10, 10, TPixelFormat::pf8bit);
  const uint8_t index = resize.Image().ScanLine(3)[4];
  resize.CropImage(4, 3, 6, 5);
  ASSERT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(resize.Image().ScanLine(0)[0], index);
  EXPECT_EQ(resize.Image().ScanLine(0)[2], index);
}

TEST(TransformResults, IndexedImagesStayIndexedThroughResizeRotateAndFlips) {
  TestResize resize;
  resize.SetImage(40, 30, TPixelFormat::pf8bit);
  resize.ResizeImage(20, 0);
  resize.RotateImage(30);
  resize.FlipHorizontal();
  resize.FlipVertical();
  EXPECT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(resize.Image().PaletteSize(), 256);
}

TEST(TransformResults, FlipsMirrorTheRightAxis) {
  TestResize resize;
  resize.SetImage(3, 2);
  const TBitmap& image = resize.Image();
  const auto pixel = [&](int x, int y) {
    const uint8_t* p = image.ScanLine(y) + 3 * x;
    return (p[0] << 16) | (p[1] << 8) | p[2];
  };
  const int a = pixel(0, 0), c = pixel(2, 0), d = pixel(0, 1), f = pixel(2, 1);
  resize.FlipHorizontal();
  EXPECT_EQ(pixel(0, 0), d) << "rows reversed: the bottom row is now on top";
  EXPECT_EQ(pixel(2, 1), c);
  resize.FlipHorizontal();
  resize.FlipVertical();
  EXPECT_EQ(pixel(0, 0), c) << "each row reversed";
  EXPECT_EQ(pixel(2, 1), d);
  EXPECT_EQ(pixel(0, 1), f);
  EXPECT_EQ(pixel(2, 0), a);
}

TEST(TransformResults, RotationFillsTheCornersWithTheBackground) {
  TestResize resize;
  resize.SetImage(100, 100);
  resize.SetBackgroundColor(0x00FF0000);
  resize.RotateImage(45);
  const uint8_t* corner = resize.Image().ScanLine(0);
  EXPECT_EQ(corner[0], 0xFF);
  EXPECT_EQ(corner[1], 0);
  EXPECT_EQ(corner[2], 0);
}

}  // namespace
}  // namespace quorvex
