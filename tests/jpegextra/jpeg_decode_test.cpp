// Decoding, compared pixel for pixel with djpeg (same library, same float IDCT) and, for CMYK,
// with Pillow's reading of the ink values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "jpegextra/cmyk_convert.h"
#include "jpegextra/jpeg_image.h"
#include "tests/jpegextra/codec_test_support.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using codectest::CjpegPattern;
using codectest::Djpeg;
using codectest::FromRaster;
using codectest::Pixels;
using codectest::StreamOf;
using codectest::TempDir;

void ExpectSamePixels(const Pixels& actual, const Pixels& expected) {
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  ASSERT_EQ(actual.channels, expected.channels);
  for (int y = 0; y < actual.height; ++y)
    for (int x = 0; x < actual.width; ++x)
      for (int c = 0; c < actual.channels; ++c)
        ASSERT_EQ(actual.At(x, y)[c], expected.At(x, y)[c])
            << "x " << x << " y " << y << " channel " << c;
}

struct ColourCase {
  const char* name;
  const char* cjpegArguments;
  int width, height;
};

class ColourDecodeTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourDecodeTest, GivesBlueGreenRedRowsLikeDjpeg) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  const auto bytes =
      CjpegPattern(dir, GetParam().width, GetParam().height, GetParam().cjpegArguments);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  const TBMPImage& raster = jpeg.Decode();
  EXPECT_EQ(raster.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_FALSE(jpeg.GetGrayscale());
  // djpeg writes red, green, blue; FromRaster reads the raster's blue, green, red bytes.
  ExpectSamePixels(FromRaster(raster, 3), Djpeg(dir, bytes));
  EXPECT_EQ(&jpeg.Decode(), &raster) << "the decoded raster is cached";
}

INSTANTIATE_TEST_SUITE_P(Files, ColourDecodeTest,
                         ::testing::Values(ColourCase{"Baseline420", "", 67, 45},
                                           ColourCase{"Baseline444", "-sample 1x1", 33, 17},
                                           ColourCase{"Progressive", "-progressive", 50, 70},
                                           ColourCase{"RgbCoded", "-rgb", 41, 23},
                                           ColourCase{"Restarts", "-restart 1", 40, 40},
                                           ColourCase{"Arithmetic", "-arithmetic", 19, 31},
                                           ColourCase{"OnePixel", "", 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ScaledCase {
  const char* name;
  const char* cjpegArguments;
  int eighths;
};

class ScaledDecodeTest : public ::testing::TestWithParam<ScaledCase> {};

TEST_P(ScaledDecodeTest, GivesDjpegsScaledPictureUnderTheFullFramesLimits) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  const ScaledCase& c = GetParam();
  const auto bytes = CjpegPattern(dir, 203, 131, c.cjpegArguments);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  jpeg.SetDecodeScale(static_cast<uint8_t>(c.eighths));
  ExpectSamePixels(FromRaster(jpeg.Decode(), 3),
                   Djpeg(dir, bytes, "-scale " + std::to_string(c.eighths) + "/8"));

  // The limits count the full frame: one pixel fewer refuses the decode, however small the
  // scaled raster would be.
  TJPEGImage limited;
  TMemoryStream again = StreamOf(bytes);
  limited.LoadFromStream(again);
  TLoadLimits limits;
  limits.MaxPixels = 203 * 131 - 1;
  limited.SetLoadLimits(limits);
  limited.SetDecodeScale(static_cast<uint8_t>(c.eighths));
  EXPECT_THROW(limited.Decode(), EOutOfMemory);
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaledDecodeTest,
                         ::testing::Values(ScaledCase{"Eighth420", "", 1},
                                           ScaledCase{"Quarter444", "-sample 1x1", 2},
                                           ScaledCase{"ThreeEighthsProgressive", "-progressive", 3},
                                           ScaledCase{"Half420", "", 4},
                                           ScaledCase{"SevenEighths", "", 7},
                                           ScaledCase{"Full", "", 8}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecodeTest, RgbCodedFileDecodesLikeTheSamePictureInYCbCr) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  const Pixels source = codectest::Pattern(30, 20);
  auto decode = [&](const std::string& arguments) {
    TMemoryStream stream = StreamOf(CjpegPattern(dir, 30, 20, "-quality 100 " + arguments));
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    return FromRaster(jpeg.Decode(), 3);
  };
  const Pixels rgb = decode("-rgb");
  const Pixels ycc = decode("-sample 1x1");
  for (size_t i = 0; i < source.data.size(); ++i) {
    ASSERT_NEAR(rgb.data[i], source.data[i], 8) << i;
    ASSERT_NEAR(ycc.data[i], source.data[i], 8) << i;
  }
}

// Gray files (and colour files with Grayscale on) go through the 236-level quantizer.
TEST(JpegDecodeTest, GrayFileGivesAn8BitRasterWith236GrayEntries) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 37, 29, "-grayscale");
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_TRUE(jpeg.GetGrayscale());
  const TBMPImage& raster = jpeg.Decode();
  ASSERT_EQ(raster.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_EQ(raster.PaletteSize(), 236);
  const auto palette = raster.Palette();
  EXPECT_EQ(palette.front(), (TPaletteEntry{0, 0, 0, 0}));
  EXPECT_EQ(palette.back(), (TPaletteEntry{255, 255, 255, 0}));
  for (size_t i = 1; i < palette.size(); ++i) {
    EXPECT_EQ(palette[i].Red, palette[i].Green);
    EXPECT_EQ(palette[i].Red, palette[i].Blue);
    EXPECT_GT(palette[i].Red, palette[i - 1].Red);
  }
  ExpectSamePixels(FromRaster(raster, 1), Djpeg(dir, bytes, "-colors 236"));
}

TEST(JpegDecodeTest, GrayscaleSettingQuantizesAColourFileToGray) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 26, 18);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.SetGrayscale(true);
  jpeg.LoadFromStream(stream);
  const TBMPImage& raster = jpeg.Decode();
  ASSERT_EQ(raster.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(raster.PaletteSize(), 236);
  ExpectSamePixels(FromRaster(raster, 1), Djpeg(dir, bytes, "-grayscale -colors 236"));
}

class EightBitOutputTest : public ::testing::TestWithParam<bool> {};

TEST_P(EightBitOutputTest, QuantizesColourTo236ColoursLikeDjpeg) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 48, 40);
  TMemoryStream stream = StreamOf(bytes);
  const TJPEGDefaults saved = JPEGDefaults();
  const bool throughDefaults = GetParam();
  if (throughDefaults) {
    TJPEGDefaults eightBit = saved;
    eightBit.EightBitOutput = true;
    SetJPEGDefaults(eightBit);
  }
  TJPEGImage jpeg;
  SetJPEGDefaults(saved);
  if (!throughDefaults) jpeg.SetEightBitOutput(true);
  ASSERT_TRUE(jpeg.EightBitOutput());
  jpeg.LoadFromStream(stream);
  const TBMPImage& raster = jpeg.Decode();
  ASSERT_EQ(raster.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_GT(raster.PaletteSize(), 16);
  EXPECT_LE(raster.PaletteSize(), 236);
  ExpectSamePixels(FromRaster(raster, 3), Djpeg(dir, bytes, "-colors 236"));
}

INSTANTIATE_TEST_SUITE_P(Switch, EightBitOutputTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Defaults" : "Object"; });

// Four-component files: ImageMagick writes Adobe YCCK, Pillow writes Adobe CMYK.
struct CmykCase {
  const char* name;
  const char* command;  // %in = PPM, %out = JPEG
};

class CmykDecodeTest : public ::testing::TestWithParam<CmykCase> {};

std::string Substitute(std::string text, const std::string& key, const std::string& value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key))
    text.replace(at, key.size(), value);
  return text;
}

TEST_P(CmykDecodeTest, ConvertsInvertedInkToBlueGreenRed) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kPillow, quorvex_test::Tool::kImageMagick);
  TempDir dir;
  // Top half white, a black band, then the pattern.
  Pixels source = codectest::Pattern(32, 48);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c) source.At(x, y)[c] = y < 16 ? 255 : 0;
  codectest::WritePnm(dir.File("in.ppm"), source);
  const std::string command = Substitute(Substitute(GetParam().command, "%in", dir.File("in.ppm")),
                                         "%out", dir.File("cmyk.jpg"));
  codectest::Run(command);
  // Pillow reports ink values (the file stores them inverted).
  codectest::Run(
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "im = Image.open(sys.argv[1]); assert im.mode == 'CMYK'; "
      "open(sys.argv[2], 'wb').write(im.tobytes())\" " +
      dir.File("cmyk.jpg") + " " + dir.File("ink.raw"));
  const auto ink = codectest::ReadFile(dir.File("ink.raw"));
  ASSERT_EQ(ink.size(), 32u * 48 * 4);

  TMemoryStream stream = StreamOf(codectest::ReadFile(dir.File("cmyk.jpg")));
  TJPEGImage jpeg;
  jpeg.SetEightBitOutput(true);  // CMYK always decodes to 24-bit colour
  jpeg.LoadFromStream(stream);
  const Pixels decoded = FromRaster(jpeg.Decode(), 3);
  ASSERT_EQ(jpeg.Raster()->PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(decoded.At(8, 8)[0], 255);
  EXPECT_EQ(decoded.At(8, 8)[2], 255);
  EXPECT_EQ(decoded.At(8, 24)[0], 0);
  EXPECT_EQ(decoded.At(8, 24)[1], 0);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t* in = &ink[(static_cast<size_t>(y) * 32 + x) * 4];
      const int k = 255 - in[3];
      for (int c = 0; c < 3; ++c) {
        const int stored = 255 - in[c];
        const double v = std::nearbyint((255.0 - stored) / 255.0 * k + (255.0 - k));
        const int expected = 255 - std::min(static_cast<int>(v), 255);
        // Pillow decodes with the integer IDCT, the codec with the float one.
        ASSERT_NEAR(decoded.At(x, y)[c], expected, 3) << x << "," << y << " channel " << c;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Makers, CmykDecodeTest,
    ::testing::Values(CmykCase{"ImageMagickYcck", "convert %in -colorspace CMYK %out"},
                      CmykCase{"PillowCmyk",
                               "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                               "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2], "
                               "quality=95)\" %in %out"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CmykConvertTest, FormulaCorners) {
  EXPECT_EQ(InvertedCmykChannel(255, 255), 255);
  for (int x : {0, 1, 128, 255}) EXPECT_EQ(InvertedCmykChannel(static_cast<uint8_t>(x), 0), 0);
  EXPECT_EQ(InvertedCmykChannel(0, 255), 0);
  // (255 - 128) / 255 * 200 + 55 = 154.6 -> 155; 255 - 155 = 100
  EXPECT_EQ(InvertedCmykChannel(128, 200), 100);
  const uint8_t cmyk[8] = {255, 0, 128, 255, 10, 20, 30, 0};
  uint8_t bgr[6];
  InvertedCmykRowToBgr(cmyk, bgr, 2);
  EXPECT_EQ(bgr[0], InvertedCmykChannel(128, 255));  // blue from Y
  EXPECT_EQ(bgr[1], 0);                              // green from M
  EXPECT_EQ(bgr[2], 255);                            // red from C
  EXPECT_EQ(bgr[3] | bgr[4] | bgr[5], 0);
}

TEST(JpegDecodeTest, AssignToCopiesPixelsAndResolution) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 12, 10);
  codectest::SetDensity(bytes, 2, 28, 40);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  const TBMPImage& decoded = jpeg.Decode();
  // The decoded raster takes the density of the file; the copy takes the DPI.
  EXPECT_EQ(decoded.XPelsPerMeter(), 2800);
  EXPECT_EQ(decoded.YPelsPerMeter(), 4000);
  TBMPImage target;
  jpeg.AssignTo(target);
  EXPECT_EQ(jpeg.GetXDPI(), 71u);
  EXPECT_EQ(target.XPelsPerMeter(), 2795);  // round(71 x 39.37007874)
  EXPECT_EQ(target.YPelsPerMeter(), 4016);  // 102 dpi
  ExpectSamePixels(FromRaster(target, 3), Djpeg(dir, bytes));
  TBitmap plain;
  jpeg.AssignTo(plain);
  ExpectSamePixels(FromRaster(plain, 3), FromRaster(target, 3));
}

TEST(JpegDecodeTest, HandlerFailureStopsTheDecodeAndLeavesNoRaster) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  TMemoryStream stream = StreamOf(CjpegPattern(dir, 64, 64));
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  jpeg.SetOnProgress([](TJPEGImage&, TProgressStage stage, uint8_t, bool, const TProgressRect&,
                        const std::string&) {
    if (stage == TProgressStage::psStarting) throw EInvalidGraphic("stop");
  });
  EXPECT_THROW(jpeg.Decode(), EInvalidGraphic);
  EXPECT_EQ(jpeg.Raster(), nullptr);
  jpeg.SetOnProgress(nullptr);
  EXPECT_EQ(jpeg.Decode().Width(), 64);
}

}  // namespace
}  // namespace quorvex
