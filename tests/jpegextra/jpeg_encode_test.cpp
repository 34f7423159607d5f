// Encoding and saving, compared byte for byte with cjpeg (same library, float DCT).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "jpegextra/jpeg_image.h"
#include "tests/jpegextra/codec_test_support.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using codectest::FromRaster;
using codectest::Pixels;
using codectest::StreamOf;
using codectest::TempDir;

std::vector<uint8_t> Save(TJPEGImage& jpeg) {
  TMemoryStream out;
  jpeg.SaveToStream(out);
  EXPECT_EQ(out.Position(), 0u);
  return std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().end());
}

std::vector<uint8_t> Cjpeg(const TempDir& dir, const Pixels& pixels, const std::string& arguments) {
  const std::string input = dir.File(pixels.channels == 3 ? "in.ppm" : "in.pgm");
  codectest::WritePnm(input, pixels);
  codectest::Run("cjpeg -dct float " + arguments + " -outfile " + dir.File("ref.jpg") + " " +
                 input);
  return codectest::ReadFile(dir.File("ref.jpg"));
}

// Equal apart from the density fields, which SaveToStream fills in.
void ExpectSameExceptDensity(std::vector<uint8_t> actual, std::vector<uint8_t> expected) {
  ASSERT_EQ(actual.size(), expected.size());
  ASSERT_GE(actual.size(), 20u);
  std::fill(actual.begin() + 13, actual.begin() + 18, 0);
  std::fill(expected.begin() + 13, expected.begin() + 18, 0);
  EXPECT_TRUE(actual == expected);
}

struct EncodeCase {
  const char* name;
  int quality;
  bool progressive;
  const char* cjpegArguments;
  int width, height;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, MatchesCjpeg) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  const Pixels source = codectest::Pattern(GetParam().width, GetParam().height);
  TBitmap raster;
  codectest::ToRaster(source, raster);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  jpeg.SetQuality(static_cast<uint8_t>(GetParam().quality));
  jpeg.SetProgressive(GetParam().progressive);
  ExpectSameExceptDensity(Save(jpeg), Cjpeg(dir, source, GetParam().cjpegArguments));
  EXPECT_EQ(jpeg.Width(), GetParam().width);
  EXPECT_FALSE(jpeg.GetGrayscale());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EncodeTest,
    ::testing::Values(EncodeCase{"Default90", 90, false, "-quality 90", 67, 45},
                      EncodeCase{"Quality75", 75, false, "-quality 75", 16, 16},
                      EncodeCase{"Quality100", 100, false, "-quality 100", 9, 30},
                      // The library's scaling treats 0 as 1 and anything above 100 as 100.
                      EncodeCase{"Quality0", 0, false, "-quality 1 -baseline", 20, 12},
                      EncodeCase{"Quality200", 200, false, "-quality 100", 20, 12},
                      EncodeCase{"Progressive", 90, true, "-quality 90 -progressive", 50, 33},
                      EncodeCase{"OnePixel", 90, false, "-quality 90", 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegEncodeTest, GrayscaleEncodesTheChannelAverageAndKeepsTheGrayRaster) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  const Pixels source = codectest::Pattern(35, 21);
  Pixels gray{35, 21, 1, std::vector<uint8_t>(35 * 21)};
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 35; ++x) {
      const uint8_t* px = source.At(x, y);
      gray.At(x, y)[0] = static_cast<uint8_t>((px[0] + px[1] + px[2]) / 3);
    }
  TBitmap raster;
  codectest::ToRaster(source, raster);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  jpeg.SetGrayscale(true);
  ExpectSameExceptDensity(Save(jpeg), Cjpeg(dir, gray, "-quality 90"));
  ASSERT_EQ(jpeg.Raster()->PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_EQ(jpeg.Raster()->PaletteSize(), 256);
  EXPECT_EQ(jpeg.Raster()->Palette()[200], (TPaletteEntry{200, 200, 200, 0}));
  EXPECT_TRUE(FromRaster(*jpeg.Raster(), 1).data == gray.data);
  EXPECT_TRUE(jpeg.GetGrayscale());
}

TEST(JpegEncodeTest, IndexedRasterIsEncodedThroughItsPalette) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  TBitmap raster;
  raster.SetPixelFormat(TPixelFormat::pf8bit);
  std::vector<TPaletteEntry> palette;
  for (int i = 0; i < 16; ++i)
    palette.push_back({static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 16),
                       static_cast<uint8_t>(i * 7), 0});
  raster.SetPalette(palette);
  raster.SetSize(24, 18);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 24; ++x) raster.Row(y)[x] = static_cast<uint8_t>((x / 3 + y / 2) % 16);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  ExpectSameExceptDensity(Save(jpeg), Cjpeg(dir, FromRaster(raster, 3), "-quality 90"));
  EXPECT_EQ(jpeg.Raster()->PixelFormat(), TPixelFormat::pf8bit) << "encoding works on a copy";
}

struct DpiCase {
  uint32_t x, y;
  std::array<uint8_t, 5> bytes;
};

class SavedDensityTest : public ::testing::TestWithParam<DpiCase> {};

TEST_P(SavedDensityTest, DpiGoesIntoTheJfifHeader) {
  TBitmap raster;
  codectest::ToRaster(codectest::Pattern(8, 8), raster);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  jpeg.SetXDPI(GetParam().x);
  jpeg.SetYDPI(GetParam().y);
  const auto saved = Save(jpeg);
  const std::array<uint8_t, 13> head = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',
                                        'F',  'I',  'F',  0x00, 0x01, 0x01};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), saved.begin()));
  EXPECT_TRUE(std::equal(GetParam().bytes.begin(), GetParam().bytes.end(), saved.begin() + 13));
  EXPECT_EQ(saved[18], 0);
  EXPECT_EQ(saved[19], 0);

  TMemoryStream back = StreamOf(saved);
  TJPEGImage loaded;
  loaded.LoadFromStream(back);
  EXPECT_EQ(loaded.GetXDPI(), GetParam().x & 0xFFFF);
  EXPECT_EQ(loaded.GetYDPI(), GetParam().y & 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(Values, SavedDensityTest,
                         ::testing::Values(DpiCase{96, 96, {1, 0, 0x60, 0, 0x60}},
                                           DpiCase{0, 0, {1, 0, 0, 0, 0}},
                                           DpiCase{72, 300, {1, 0, 72, 1, 0x2C}},
                                           // 70000 keeps its low 16 bits: 4464 = 0x1170
                                           DpiCase{70000, 70000, {1, 0x11, 0x70, 0x11, 0x70}}));

TEST(JpegEncodeTest, SetXdpiKeepsTheLow16Bits) {
  TJPEGImage jpeg;
  jpeg.SetXDPI(70000);
  jpeg.SetYDPI(65536 + 5);
  EXPECT_EQ(jpeg.GetXDPI(), 4464u);
  EXPECT_EQ(jpeg.GetYDPI(), 5u);
}

TEST(JpegEncodeTest, SavingAnEmptyObjectWritesNothing) {
  TMemoryStream out;
  TJPEGImage fresh;
  try {
    fresh.SaveToStream(out);
    FAIL() << "saved an empty object";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "No image loaded.");
  }
  TJPEGImage assigned;
  TBitmap empty;
  assigned.Assign(empty);
  EXPECT_TRUE(assigned.IsEmpty());
  EXPECT_THROW(assigned.SaveToStream(out), EInvalidGraphic);
  EXPECT_EQ(out.Size(), 0u);
}

TEST(JpegEncodeTest, SavingTwiceDoesNotEncodeAgain) {
  TBitmap raster;
  codectest::ToRaster(codectest::Pattern(20, 20), raster);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  const auto first = Save(jpeg);
  jpeg.SetQuality(10);
  EXPECT_TRUE(Save(jpeg) == first);
  jpeg.Encode();
  EXPECT_LT(jpeg.Data()->Size(), first.size()) << "an explicit Encode uses the new quality";
}

TEST(JpegEncodeTest, RoundTripKeepsSizeAndPicture) {
  // Smooth gradients, which survive chroma subsampling.
  Pixels source{61, 39, 3, std::vector<uint8_t>(61 * 39 * 3)};
  for (int y = 0; y < 39; ++y)
    for (int x = 0; x < 61; ++x) {
      uint8_t* px = source.At(x, y);
      px[0] = static_cast<uint8_t>(x * 4);
      px[1] = static_cast<uint8_t>(y * 6);
      px[2] = static_cast<uint8_t>(128 + x - y);
    }
  TBMPImage raster;
  codectest::ToRaster(source, raster);
  raster.SetXPelsPerMeter(3780);  // 96 dpi
  raster.SetYPelsPerMeter(11811);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  EXPECT_EQ(jpeg.GetXDPI(), 96u);
  EXPECT_EQ(jpeg.GetYDPI(), 300u);
  jpeg.SetQuality(100);
  TMemoryStream saved;
  jpeg.SaveToStream(saved);

  TJPEGImage loaded;
  loaded.LoadFromStream(saved);
  EXPECT_EQ(loaded.Width(), 61);
  EXPECT_EQ(loaded.Height(), 39);
  EXPECT_EQ(loaded.GetXDPI(), 96u);
  const Pixels decoded = FromRaster(loaded.Decode(), 3);
  ASSERT_EQ(decoded.data.size(), source.data.size());
  double error = 0;
  for (size_t i = 0; i < source.data.size(); ++i)
    error += std::abs(decoded.data[i] - source.data[i]);
  EXPECT_LT(error / static_cast<double>(source.data.size()), 2.0);
}

TEST(JpegEncodeTest, SavesAtTheStreamPosition) {
  TBitmap raster;
  codectest::ToRaster(codectest::Pattern(8, 8), raster);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  jpeg.SetXDPI(300);
  jpeg.SetYDPI(300);
  const auto alone = Save(jpeg);
  TMemoryStream out = StreamOf({9, 9, 9, 9});
  out.Seek(4);
  jpeg.SaveToStream(out);
  EXPECT_EQ(out.Position(), 4u);
  ASSERT_EQ(out.Size(), alone.size() + 4);
  EXPECT_TRUE(std::equal(alone.begin(), alone.end(), out.Bytes().begin() + 4));
}

TEST(JpegEncodeTest, LoadedDataIsSavedAsLoadedApartFromTheJfifDensity) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = codectest::CjpegPattern(dir, 10, 10);
  codectest::SetDensity(bytes, 2, 28, 28);
  // Without a JFIF segment there is nowhere safe to put the density: bytes stay as they are.
  const auto bare = codectest::WithoutApp0(bytes);
  TMemoryStream bareStream = StreamOf(bare);
  TJPEGImage plain;
  plain.LoadFromStream(bareStream);
  plain.SetXDPI(300);
  EXPECT_TRUE(Save(plain) == bare);

  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  auto expected = bytes;
  codectest::SetDensity(expected, 1, 71, 71);
  EXPECT_TRUE(Save(jpeg) == expected);
}

TEST(JpegEncodeTest, SizeCannotBeChanged) {
  TJPEGImage jpeg;
  for (int which = 0; which < 2; ++which) {
    try {
      which == 0 ? jpeg.SetWidth(10) : jpeg.SetHeight(10);
      FAIL();
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_STREQ(e.what(), "Cannot change the size of a JPEG image");
    }
  }
}

TEST(JpegEncodeTest, TooWideRasterFailsAndKeepsNoPartialData) {
  TBitmap raster;
  raster.SetSize(65501, 1);
  TJPEGImage jpeg;
  jpeg.Assign(raster);
  TMemoryStream out;
  try {
    jpeg.SaveToStream(out);
    FAIL();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Code(), 40);
  }
  EXPECT_EQ(jpeg.Data(), nullptr);
  EXPECT_EQ(out.Size(), 0u);
}

TEST(JpegEncodeTest, NewObjectsTakeTheDefaults) {
  const TJPEGDefaults saved = JPEGDefaults();
  EXPECT_EQ(saved.Quality, 90);
  EXPECT_FALSE(saved.Grayscale || saved.EightBitOutput || saved.Progressive);
  SetJPEGDefaults({55, true, false, true});
  TJPEGImage changed;
  SetJPEGDefaults(saved);
  EXPECT_EQ(changed.Quality(), 55);
  EXPECT_TRUE(changed.GetGrayscale());
  EXPECT_TRUE(changed.Progressive());
  TJPEGImage normal;
  EXPECT_EQ(normal.Quality(), 90);
}

// Hooks for the metadata layer: what they see and where their output goes.
class HookedJpeg : public TJPEGImage {
 public:
  int assigned = 0;
  size_t sizeAtWrite = 0;

 protected:
  void WriteMetadata() override {
    sizeAtWrite = Data()->Size();
    // Insert a comment segment after SOI and JFIF APP0, as the metadata writers do.
    const std::array<uint8_t, 6> comment = {0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
    auto bytes = Data()->Release();
    bytes.insert(bytes.begin() + 20, comment.begin(), comment.end());
    *Data() = TMemoryStream(std::move(bytes));
  }
  void AssignMetadata(const TJPEGImage&) override { ++assigned; }
};

TEST(JpegEncodeTest, WriteMetadataRunsAfterEncodingAndBeforeWriting) {
  TBitmap raster;
  codectest::ToRaster(codectest::Pattern(8, 8), raster);
  HookedJpeg jpeg;
  jpeg.Assign(raster);
  jpeg.SetXDPI(96);
  const auto saved = Save(jpeg);
  EXPECT_GT(jpeg.sizeAtWrite, 20u);
  ASSERT_EQ(saved.size(), jpeg.sizeAtWrite + 6);
  EXPECT_EQ(saved[20], 0xFF);
  EXPECT_EQ(saved[21], 0xFE);
  EXPECT_EQ(saved[15], 96);
}

TEST(JpegEncodeTest, AssignFromAJpegObjectSharesDataAndCopiesTheRaster) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TempDir dir;
  auto bytes = codectest::CjpegPattern(dir, 12, 9);
  codectest::SetDensity(bytes, 1, 150, 150);
  TMemoryStream stream = StreamOf(bytes);
  TJPEGImage source;
  source.LoadFromStream(stream);

  HookedJpeg copy;
  TBitmap other;
  codectest::ToRaster(codectest::Pattern(3, 3), other);
  copy.Assign(other);
  copy.Assign(source);  // no raster in the source: ours goes, the shared data decodes
  EXPECT_EQ(copy.assigned, 0);
  EXPECT_TRUE(copy.Equals(source));
  EXPECT_EQ(copy.GetXDPI(), 150u);
  EXPECT_EQ(copy.Decode().Width(), 12);

  HookedJpeg second;
  second.Assign(source);
  source.Decode();
  second.Assign(source);
  EXPECT_EQ(second.assigned, 1);
  ASSERT_NE(second.Raster(), nullptr);
  EXPECT_NE(second.Raster(), source.Raster());
  EXPECT_TRUE(FromRaster(*second.Raster(), 3).data == FromRaster(*source.Raster(), 3).data);
  EXPECT_EQ(second.GetXDPI(), 150u);
}

}  // namespace
}  // namespace quorvex
