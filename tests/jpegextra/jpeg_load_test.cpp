// Loading: header values, resolution, refusals and the library's error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "jpegextra/jpeg_image.h"
#include "tests/jpegextra/codec_test_support.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using codectest::CjpegPattern;
using codectest::StreamOf;
using codectest::TempDir;

// Loads the bytes and returns the EJPEG code, or -1 if loading succeeded.
int LoadErrorCode(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  try {
    jpeg.LoadFromStream(stream);
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), "JPEG error #" + std::to_string(e.Code()));
    return e.Code();
  }
  return -1;
}

// Rewrites the frame size of the first baseline SOF0 segment.
void SetFrameSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height) {
  const size_t sof = codectest::FindMarker(jpeg, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  jpeg[sof + 5] = static_cast<uint8_t>(height >> 8);
  jpeg[sof + 6] = static_cast<uint8_t>(height);
  jpeg[sof + 7] = static_cast<uint8_t>(width >> 8);
  jpeg[sof + 8] = static_cast<uint8_t>(width);
}

struct BadInput {
  const char* name;
  std::vector<uint8_t> bytes;
  int code;
};

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, FailsWithTheLibraryCode) {
  EXPECT_EQ(LoadErrorCode(GetParam().bytes), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, BadInputTest,
    ::testing::Values(BadInput{"SoiOnly", {0xFF, 0xD8}, 50},
                      BadInput{"SoiEoi", {0xFF, 0xD8, 0xFF, 0xD9}, 50},
                      BadInput{"Gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, 52},
                      BadInput{"Text", {'h', 'e', 'l', 'l', 'o'}, 52},
                      BadInput{"OneByte", {0xFF}, 52}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegLoadTest, ZeroBytesLoadButFailToDecodeEveryTime) {
  TMemoryStream stream;
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.Width(), 0);
  EXPECT_EQ(jpeg.Height(), 0);
  EXPECT_TRUE(jpeg.IsEmpty());
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      jpeg.Decode();
      FAIL() << "decoding empty data succeeded";
    } catch (const EJPEG& e) {
      EXPECT_EQ(e.Code(), 41);
      EXPECT_STREQ(e.what(), "JPEG error #41");
    }
  }
}

TEST(JpegLoadTest, FrameWiderThanTheLibraryAllowsFailsInTheHeader) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 16, 8);
  SetFrameSize(bytes, 65501, 8);
  EXPECT_EQ(LoadErrorCode(bytes), 40);
}

TEST(JpegLoadTest, FrameAboveTheRasterLimitIsRefusedBeforeDecoding) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 16, 8);
  SetFrameSize(bytes, 16384, 16384);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  EXPECT_THROW(jpeg.LoadFromStream(stream), EOutOfMemory);

  // The largest allowed frame parses without taking any pixel memory.
  SetFrameSize(bytes, 16383, 16383);
  TMemoryStream allowed = StreamOf(bytes);
  jpeg.LoadFromStream(allowed);
  EXPECT_EQ(jpeg.Width(), 16383);
  EXPECT_EQ(jpeg.Raster(), nullptr);
}

TEST(JpegLoadTest, HeaderValuesOfColourGrayAndProgressiveFiles) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  struct Case {
    std::string arguments;
    bool gray;
    bool progressive;
  };
  for (const Case& c : {Case{"", false, false}, Case{"-grayscale", true, false},
                        Case{"-progressive", false, true}}) {
    TMemoryStream stream = StreamOf(CjpegPattern(dir, 67, 45, c.arguments));
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    EXPECT_EQ(jpeg.Width(), 67) << c.arguments;
    EXPECT_EQ(jpeg.Height(), 45) << c.arguments;
    EXPECT_EQ(jpeg.GetGrayscale(), c.gray) << c.arguments;
    EXPECT_EQ(jpeg.Progressive(), c.progressive) << c.arguments;
    EXPECT_FALSE(jpeg.IsEmpty());
    EXPECT_EQ(jpeg.Raster(), nullptr) << "pixels are decoded only on demand";
  }
}

struct Density {
  uint8_t unit;
  uint16_t x, y;
  uint32_t xdpi, ydpi;
};

class DensityTest : public ::testing::TestWithParam<Density> {};

TEST_P(DensityTest, JfifDensityBecomesDpi) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 8, 8);
  codectest::SetDensity(bytes, GetParam().unit, GetParam().x, GetParam().y);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.GetXDPI(), GetParam().xdpi);
  EXPECT_EQ(jpeg.GetYDPI(), GetParam().ydpi);
}

INSTANTIATE_TEST_SUITE_P(Units, DensityTest,
                         ::testing::Values(Density{1, 300, 300, 300, 300},
                                           Density{1, 72, 96, 72, 96}, Density{2, 28, 28, 71, 71},
                                           // 65535 x 2.54 = 166458.9 -> 166459, low 16 bits
                                           Density{2, 65535, 1, 35387, 3}, Density{0, 1, 1, 0, 0},
                                           Density{3, 300, 300, 0, 0}));

TEST(JpegLoadTest, DensityWrittenByImageMagick) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick);
  TempDir dir;
  codectest::WritePnm(dir.File("p.ppm"), codectest::Pattern(10, 10));
  codectest::Run("convert " + dir.File("p.ppm") + " -units PixelsPerInch -density 300 " +
                 dir.File("im.jpg"));
  TMemoryStream stream = StreamOf(codectest::ReadFile(dir.File("im.jpg")));
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.GetXDPI(), 300u);
  EXPECT_EQ(jpeg.GetYDPI(), 300u);
}

TEST(JpegLoadTest, NoJfifSegmentMeansNoDpi) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 8, 8);
  codectest::SetDensity(bytes, 1, 300, 300);
  TMemoryStream stream = StreamOf(codectest::WithoutApp0(bytes));
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.Width(), 8);
  EXPECT_EQ(jpeg.GetXDPI(), 0u);
}

TEST(JpegLoadTest, LoadsFromTheStreamPositionToItsEnd) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  const auto bytes = CjpegPattern(dir, 9, 7);
  std::vector<uint8_t> prefixed(3 + bytes.size(), 7);
  std::copy(bytes.begin(), bytes.end(), prefixed.begin() + 3);
  TMemoryStream stream = StreamOf(prefixed);
  stream.Seek(3);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.Width(), 9);
  ASSERT_NE(jpeg.Data(), nullptr);
  EXPECT_EQ(jpeg.Data()->Size(), bytes.size());
}

TEST(JpegLoadTest, ReadFromStreamNeedsAllBytes) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  TMemoryStream stream = StreamOf(CjpegPattern(dir, 9, 7));
  TJPEGImage jpeg;
  EXPECT_THROW(jpeg.ReadFromStream(static_cast<int32_t>(stream.Size() + 1), stream), EReadError);
  stream.Seek(0);
  EXPECT_THROW(jpeg.ReadFromStream(-1, stream), EReadError);
}

TEST(JpegLoadTest, CutOffFilesDecodeWithTheRowsBeforeTheCut) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  for (const std::string arguments : {"", "-progressive"}) {
    const auto full = CjpegPattern(dir, 64, 64, arguments);
    TMemoryStream whole = StreamOf(full);
    TJPEGImage reference;
    reference.LoadFromStream(whole);
    const TBMPImage& expected = reference.Decode();

    const std::vector<uint8_t> cut(full.begin(), full.begin() + full.size() * 3 / 5);
    TMemoryStream stream = StreamOf(cut);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    const TBMPImage& raster = jpeg.Decode();
    ASSERT_EQ(raster.Width(), 64) << arguments;
    ASSERT_EQ(raster.Height(), 64) << arguments;
    if (arguments.empty()) {
      // The first MCU row of a sequential file lies well before the cut.
      EXPECT_EQ(0, std::memcmp(raster.ScanLine(0), expected.ScanLine(0), 64 * 3));
    }
  }
}

// A derived object sees the loaded data and the DPI when its metadata hook runs.
class RecordingJpeg : public TJPEGImage {
 public:
  int calls = 0;
  size_t position = 99;
  uint32_t xdpi = 0;

 protected:
  void ReadMetadata() override {
    ++calls;
    position = Data()->Position();
    xdpi = GetXDPI();
    SetXDPI(123);
  }
};

TEST(JpegLoadTest, MetadataHookRunsLastWithDataAtTheStart) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = CjpegPattern(dir, 8, 8);
  codectest::SetDensity(bytes, 1, 1, 1);
  TMemoryStream stream = StreamOf(bytes);
  RecordingJpeg jpeg;
  jpeg.LoadFromStream(stream);
  EXPECT_EQ(jpeg.calls, 1);
  EXPECT_EQ(jpeg.position, 0u);
  EXPECT_EQ(jpeg.xdpi, 1u);
  EXPECT_EQ(jpeg.GetXDPI(), 123u);
}

TEST(JpegLoadTest, FailedLoadLeavesAUsableObject) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  TJPEGImage jpeg;
  TMemoryStream bad = StreamOf({0xFF, 0xD8});
  EXPECT_THROW(jpeg.LoadFromStream(bad), EJPEG);
  TMemoryStream good = StreamOf(CjpegPattern(dir, 5, 6));
  jpeg.LoadFromStream(good);
  EXPECT_EQ(jpeg.Decode().Height(), 6);
}

}  // namespace
}  // namespace quorvex
