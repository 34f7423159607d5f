// The bounds of a load: frames the memory budget admits or refuses, limits set per object, the
// scan limits, and the library's own refusal to allocate beyond its share.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

#include "imaging/errors.h"
#include "jpegextra/jpeg_encoder.h"
#include "jpegextra/jpeg_image.h"
#include "jpegextra/jpeg_message_codes.h"
#include "jpegextra/libjpeg_binding.h"
#include "tests/jpegextra/codec_test_support.h"
#include "tests/support/hostile_jpeg.h"

// clang-format off
#include <jerror.h>
// clang-format on

namespace quorvex {
namespace {

using codectest::CjpegPattern;
using codectest::StreamOf;
using codectest::TempDir;

// A 16 x 16 file made by cjpeg (or, for "cmyk", by ImageMagick) whose frame claims the size.
std::vector<uint8_t> Claiming(const TempDir& dir, const std::string& maker, uint16_t width,
                              uint16_t height) {
  std::vector<uint8_t> small;
  if (maker.starts_with("cmyk")) {
    codectest::WritePnm(dir.File("small.ppm"), codectest::Pattern(16, 16));
    codectest::Run("convert " + dir.File("small.ppm") + " -colorspace CMYK " + maker.substr(4) +
                   " " + dir.File("cmyk.jpg"));
    small = codectest::ReadFile(dir.File("cmyk.jpg"));
  } else {
    small = CjpegPattern(dir, 16, 16, maker);
  }
  return testing::WithFrameSize(small, width, height);
}

struct Frame {
  const char* name;
  const char* maker;  // cjpeg arguments, or "cmyk" and ImageMagick arguments
  uint16_t width, height;
  bool grayscaleSetting;
  bool admitted;
};

class FrameAdmissionTest : public ::testing::TestWithParam<Frame> {};

TEST_P(FrameAdmissionTest, TheMemoryBudgetDecidesAtTheHeader) {
  const Frame& frame = GetParam();
  TempDir dir;
  TMemoryStream stream = StreamOf(Claiming(dir, frame.maker, frame.width, frame.height));
  TJPEGImage jpeg;
  jpeg.SetGrayscale(frame.grayscaleSetting);
  if (!frame.admitted) {
    EXPECT_THROW(jpeg.LoadFromStream(stream), EOutOfMemory);
    return;
  }
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.Width(), frame.width);
  EXPECT_EQ(jpeg.Raster(), nullptr);
}

// Bytes per pixel: raster 3 (1 when gray) plus, for progressive files, 2 per component sample.
INSTANTIATE_TEST_SUITE_P(
    DefaultBudget, FrameAdmissionTest,
    ::testing::Values(
        Frame{"BaselineLargest", "", 16383, 16383, false, true},
        Frame{"CmykBaselineLargest", "cmyk", 16383, 16383, false, true},
        Frame{"ProgressiveGrayLargest", "-progressive -grayscale", 16383, 16383, false, true},
        Frame{"Progressive420", "-progressive", 12500, 12500, false, true},
        Frame{"Progressive420Larger", "-progressive", 13500, 13500, false, false},
        Frame{"Progressive444", "-progressive -sample 1x1", 10000, 10000, false, true},
        Frame{"Progressive444Larger", "-progressive -sample 1x1", 11000, 11000, false, false},
        Frame{"Progressive444AsGray", "-progressive -sample 1x1", 11000, 11000, true, true},
        Frame{"Progressive444Largest", "-progressive -sample 1x1", 16383, 16383, false, false},
        Frame{"CmykProgressiveLargest", "cmyk -interlace JPEG", 16383, 16383, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadLimitsTest, LimitsSetPerObjectHoldForLoadAndDecode) {
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 64, 64, "-progressive");
  const auto load = [&](const TLoadLimits& limits) {
    TMemoryStream stream = StreamOf(bytes);
    TJPEGImage jpeg;
    jpeg.SetLoadLimits(limits);
    jpeg.LoadFromStream(stream);
    return jpeg.Decode().Height();
  };
  EXPECT_EQ(load({}), 64);
  EXPECT_EQ(load({.MaxPixels = 64 * 64}), 64);
  EXPECT_THROW(load({.MaxPixels = 64 * 64 - 1}), EOutOfMemory);
  EXPECT_THROW(load({.MaxMemoryBytes = 64 * 1024}), EOutOfMemory);

  // Limits narrowed after loading hold for the decode, which then keeps no raster.
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  jpeg.SetLoadLimits({.MaxMemoryBytes = 64 * 1024});
  EXPECT_THROW(jpeg.Decode(), EOutOfMemory);
  EXPECT_EQ(jpeg.Raster(), nullptr);
}

struct Scans {
  const char* name;
  uint16_t side;  // the frame the 16 x 16 progressive 4:4:4 file claims
  bool dc;        // append DC scan headers rather than AC ones
  int count;
  TLoadLimits limits;
  bool decodes;
};

class ScanLimitTest : public ::testing::TestWithParam<Scans> {};

TEST_P(ScanLimitTest, EmptyScansCountAgainstTheirLimits) {
  const Scans& c = GetParam();
  TempDir dir;
  const auto file =
      testing::WithEmptyScans(Claiming(dir, "-progressive -sample 1x1", c.side, c.side),
                              c.dc ? testing::DcScanHeader() : testing::AcScanHeader(), c.count);
  TMemoryStream stream = StreamOf(file);
  TJPEGImage jpeg;
  jpeg.SetLoadLimits(c.limits);
  jpeg.LoadFromStream(stream);
  if (c.decodes) {
    EXPECT_EQ(jpeg.Decode().Width(), c.side);
    return;
  }
  try {
    jpeg.Decode();
    FAIL() << "decoded";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Code(), jpeglib::kScanBudgetCode);
  }
  EXPECT_EQ(jpeg.Raster(), nullptr);
}

// cjpeg's progressive 4:4:4 file has 10 scans covering 4 2/3 passes over the frame; a DC scan
// covers one pass, an AC scan of one component a third of one.
constexpr TLoadLimits kScansOnly{.MaxScanPasses = UINT32_MAX};
INSTANTIATE_TEST_SUITE_P(
    Files, ScanLimitTest,
    ::testing::Values(Scans{"AcScans990", 1024, false, 990, {}, false},
                      Scans{"DcScans990", 1024, true, 990, {}, false},
                      Scans{"AcScansWithinTheWork", 1024, false, 40, {}, true},
                      Scans{"DcScansWithinTheWork", 1024, true, 15, {}, true},
                      Scans{"DcScansBeyondTheWork", 1024, true, 16, {}, false},
                      Scans{"ScanCountAtTheCap", 16, false, 990, kScansOnly, true},
                      Scans{"ScanCountBeyondTheCap", 16, false, 991, kScansOnly, false},
                      Scans{"LoweredScanCap", 16, false, 1, {.MaxScans = 10}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadLimitsTest, ManyScansOfARealScriptDecodeLikeDjpeg) {
  TempDir dir;
  // 13 scans with successive approximation on every component: about 6.3 passes.
  std::ofstream(dir.File("scans.txt")) << "0,1,2: 0 0 0 2;\n0: 1 5 0 2;\n0: 6 63 0 2;\n"
                                          "1: 1 63 0 2;\n2: 1 63 0 2;\n0,1,2: 0 0 2 1;\n"
                                          "0,1,2: 0 0 1 0;\n0: 1 63 2 1;\n0: 1 63 1 0;\n"
                                          "1: 1 63 2 1;\n1: 1 63 1 0;\n2: 1 63 2 1;\n"
                                          "2: 1 63 1 0;\n";
  const auto bytes = CjpegPattern(dir, 97, 61, "-sample 1x1 -scans " + dir.File("scans.txt"));
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_TRUE(jpeg.Progressive());
  const codectest::Pixels decoded = codectest::FromRaster(jpeg.Decode(), 3);
  EXPECT_EQ(decoded.data, codectest::Djpeg(dir, bytes).data);
}

TEST(LoadLimitsTest, TheLibraryFailsAllocationsBeyondItsShare) {
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 256, 256, "-progressive");
  // The coefficient buffers alone take 256 x 256 x 3 bytes.
  for (const uint64_t share : {uint64_t{64} * 1024, uint64_t{64} << 20}) {
    TMemoryStream stream = StreamOf(bytes);
    jpeglib::Decompressor decompressor(stream, nullptr);
    jpeg_decompress_struct& info = decompressor.Info();
    decompressor.Run([&] { jpeg_read_header(&info, TRUE); });
    decompressor.LimitMemory(share);
    int code = -1;
    try {
      decompressor.Run([&] { jpeg_start_decompress(&info); });
    } catch (const EJPEG& e) {
      code = e.Code();
    }
    EXPECT_EQ(code, share < (1u << 20) ? Release6aMessageCode(JERR_NO_BACKING_STORE) : -1) << share;
  }
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {

// Progressive and optimized output keep every coefficient of the frame besides the raster being
// saved: for a 13000 x 13000 colour picture that is about 1 GB, past the budget, so the save is
// refused before the library allocates anything.
TEST(SaveBudgetTest, SeveralScansOrOptimizedTablesPastTheBudgetAreRefusedBeforeEncoding) {
  TBitmap raster;
  raster.SetPixelFormat(TPixelFormat::pf24bit);
  raster.SetSize(13000, 13000);
  for (const TEncodeOptions options : {TEncodeOptions{90, false, true, false},
                                       TEncodeOptions{90, false, false, true}}) {
    TMemoryStream out;
    EXPECT_THROW(EncodeJPEG(raster, options, out, nullptr), EOutOfMemory);
    EXPECT_EQ(out.Size(), 0u);
  }
}

}  // namespace
}  // namespace quorvex
