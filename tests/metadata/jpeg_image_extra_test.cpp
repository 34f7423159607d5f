// The JPEG image object with its metadata: loading through the codec, the save steps, ICC chunk
// splitting, the thumbnail, and copying between objects.
#include "jpegextra/metadata/jpeg_image_extra.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jpegextra/metadata/exif_thumbnail_builder.h"
#include "tests/metadata/jpeg_fixtures.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using test::Bytes;
using test::Segment;

Bytes Saved(TJPEGImage& image) {
  TMemoryStream out;
  image.SaveToStream(out);
  return Bytes(out.Bytes().begin(), out.Bytes().end());
}

void Load(TJPEGImage& image, const Bytes& bytes) {
  TMemoryStream in(bytes);
  image.LoadFromStream(in);
}

std::unique_ptr<TBitmap> Picture(int width, int height) {
  auto picture = std::make_unique<TBitmap>();
  TBitmap& bitmap = *picture;
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.Row(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 255 / std::max(width - 1, 1));
      row[3 * x + 1] = static_cast<uint8_t>(y * 255 / std::max(height - 1, 1));
      row[3 * x + 2] = static_cast<uint8_t>(128);
    }
  }
  return picture;
}

std::string Text(const TMemoryStream& stream) {
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

TICCProfile ProfileOf(size_t size) {
  TICCProfile profile;
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 251);
  profile.ProfileData.Write(bytes.data(), bytes.size());
  return profile;
}

// --- ICC chunks -------------------------------------------------------------------------------

struct Split {
  size_t Size;
  std::vector<size_t> Chunks;
};

class IccSplit : public ::testing::TestWithParam<Split> {};

TEST_P(IccSplit, ChunksAndHeaders) {
  const TICCProfile profile = ProfileOf(GetParam().Size);
  const std::vector<uint8_t> out = IccSegments(profile);
  size_t at = 0, from = 0;
  const size_t n = GetParam().Chunks.size();
  for (size_t i = 0; i < n; ++i) {
    const size_t payload = GetParam().Chunks[i];
    ASSERT_LE(at + 18 + payload, out.size());
    EXPECT_EQ(out[at], 0xFF);
    EXPECT_EQ(out[at + 1], 0xE2);
    EXPECT_EQ(size_t{out[at + 2]} << 8 | out[at + 3], payload + 16);
    EXPECT_EQ(std::string(out.begin() + at + 4, out.begin() + at + 16),
              std::string("ICC_PROFILE", 12));
    EXPECT_EQ(out[at + 16], i + 1);
    EXPECT_EQ(out[at + 17], n);
    EXPECT_TRUE(std::equal(out.begin() + at + 18, out.begin() + at + 18 + payload,
                           profile.ProfileData.Bytes().begin() + from));
    at += 18 + payload;
    from += payload;
  }
  EXPECT_EQ(at, out.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, IccSplit,
                         ::testing::Values(Split{3000, {3000}}, Split{70000, {65519, 4481}},
                                           Split{65519, {65519, 0}}, Split{1, {1}}, Split{0, {}},
                                           Split{16707345, {}}, Split{131038, {65519, 65519, 0}}));

TEST(IccSplit, TheLargestProfileThatFitsHas255Chunks) {
  const std::vector<uint8_t> out = IccSegments(ProfileOf(16707344));
  EXPECT_EQ(out.size(), 16707344u + 255 * 18);
  EXPECT_EQ(out[17], 255);
}

TEST(IccProfile, SizeClearAndAssign) {
  TICCProfile a = ProfileOf(10), b;
  b.Assign(a);
  EXPECT_EQ(b.Size(), 10);
  EXPECT_EQ(Text(b.ProfileData), Text(a.ProfileData));
  a.Clear();
  EXPECT_EQ(a.Size(), 0);
  EXPECT_EQ(b.Size(), 10) << "a copy, not shared";
}

// --- Thumbnail size -----------------------------------------------------------------------------

struct SizeCase {
  int W, H;
  TThumbnailSize Expected;
};

class ThumbnailSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ThumbnailSizes, Computes) {
  EXPECT_EQ(ThumbnailSize(GetParam().W, GetParam().H), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThumbnailSizes,
    ::testing::Values(SizeCase{2000, 1000, {160, 80}}, SizeCase{1200, 800, {120, 80}},
                      SizeCase{1000, 2000, {80, 160}}, SizeCase{1609, 1000, {160, 100}},
                      SizeCase{1610, 1000, {160, 99}}, SizeCase{1620, 1000, {160, 98}},
                      SizeCase{1000, 1000, {100, 100}}, SizeCase{6000, 4000, {160, 106}},
                      SizeCase{5, 5, {1, 1}}, SizeCase{4000, 10, {160, 1}}));

TEST(Thumbnail, BuiltFromARasterIsABareJpegOfTheRightSize) {
  TEXIFThumbnail thumbnail;
  BuildExifThumbnail(*Picture(2000, 1000), thumbnail);
  EXPECT_EQ(thumbnail.EntryCount, 7);
  EXPECT_EQ(thumbnail.Fields.Lines(),
            (std::vector<std::string>{
                "Compression=6", "Orientation=1", "XResolution=72", "YResolution=72",
                "ResolutionUnit=2", "JpegInterchangeFormat=0",
                "JpegInterchangeFormatLength=" + std::to_string(thumbnail.JpegData.Size())}));
  const Bytes jpeg(thumbnail.JpegData.Bytes().begin(), thumbnail.JpegData.Bytes().end());
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[2], 0xFF);
  EXPECT_NE(jpeg[3], 0xE0) << "no JFIF segment";
  TJPEGImage decoded;
  Load(decoded, jpeg);
  EXPECT_EQ(decoded.Width(), 160);
  EXPECT_EQ(decoded.Height(), 80);
  const TBMPImage& pixels = decoded.Decode();
  // Blue runs with x in the picture (first byte of a pixel): left dark, right bright.
  EXPECT_LT(pixels.ScanLine(40)[0], 40);
  EXPECT_GT(pixels.ScanLine(40)[3 * 159], 215);
}

TEST(Thumbnail, IndexedPicturesAreAveragedToo) {
  TBitmap gray;
  gray.SetPixelFormat(TPixelFormat::pf8bit);
  std::vector<TPaletteEntry> ramp(256);
  for (int i = 0; i < 256; ++i)
    ramp[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
  gray.SetPalette(ramp);
  gray.SetSize(100, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 100; ++x) gray.Row(y)[x] = (x % 2) ? 255 : 0;  // fine stripes
  TEXIFThumbnail thumbnail;
  BuildExifThumbnail(gray, thumbnail);
  TJPEGImage decoded;
  Load(decoded, Bytes(thumbnail.JpegData.Bytes().begin(), thumbnail.JpegData.Bytes().end()));
  ASSERT_EQ(decoded.Width(), 10);
  const TBMPImage& pixels = decoded.Decode();
  EXPECT_NEAR(pixels.ScanLine(1)[3 * 5], 128, 12) << "stripes average to mid-gray";
}

// --- Loading through the codec ------------------------------------------------------------------

struct LoadDpi {
  const char* Name;
  uint8_t Unit;
  uint16_t Density;
  std::vector<std::string> ExifLines;
  uint32_t XDpi;
  uint32_t YDpi;
};

Bytes ExifSegmentOf(const std::vector<std::string>& lines) {
  TExif exif;
  for (const auto& line : lines) exif.Fields.Add(line);
  TMemoryStream block;
  exif.WriteExif(block, TEXIFThumbnail());
  return Segment(0xE1, Bytes(block.Bytes().begin(), block.Bytes().end()));
}

class LoadedResolution : public ::testing::TestWithParam<LoadDpi> {};

TEST_P(LoadedResolution, FollowsTheTable) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  static const Bytes base = test::CjpegBytes(32, 16, "-quality 80");
  Bytes jpeg = base;
  test::SetJfifDensity(jpeg, GetParam().Unit, GetParam().Density, GetParam().Density);
  if (!GetParam().ExifLines.empty())
    jpeg = test::WithSegments(jpeg, ExifSegmentOf(GetParam().ExifLines));
  TJPEGImageExtra image;
  Load(image, jpeg);
  EXPECT_EQ(image.GetXDPI(), GetParam().XDpi);
  EXPECT_EQ(image.GetYDPI(), GetParam().YDpi);
  EXPECT_EQ(image.EstimatedQuality(), 80);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadedResolution,
    ::testing::Values(
        LoadDpi{"InchesDensity", 1, 300, {"XResolution=72/1", "YResolution=72/1"}, 300, 300},
        LoadDpi{"Centimetres", 2, 28, {"XResolution=72/1"}, 71, 71},
        LoadDpi{"ExifInches",
                1,
                1,
                {"ResolutionUnit=2", "XResolution=300/1", "YResolution=300/1"},
                300,
                300},
        LoadDpi{"ExifNoUnit", 1, 1, {"XResolution=300/1", "YResolution=300/1"}, 300, 300},
        LoadDpi{"ExifCentimetres",
                1,
                1,
                {"ResolutionUnit=3", "XResolution=118/1", "YResolution=118/1"},
                300,
                300},
        LoadDpi{"NoExif", 1, 1, {}, 1, 1},
        LoadDpi{"NoXResolution", 1, 1, {"ResolutionUnit=2", "YResolution=96/1"}, 0, 96},
        LoadDpi{"ZeroDenominator", 1, 1, {"XResolution=72/0", "YResolution=72/1"}, 0, 0},
        LoadDpi{"NoUnitNotConsulted", 0, 1, {"XResolution=300/1", "YResolution=300/1"}, 0, 0},
        LoadDpi{
            "PlainExif72", 1, 1, {"ResolutionUnit=2", "XResolution=72", "YResolution=72"}, 72, 72}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JpegImageExtra, App1OfLengthOneFailsTheLoadAfterTheHeader) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  Bytes jpeg = test::WithSegments(test::CjpegBytes(16, 16, ""), {0xFF, 0xE1, 0x00, 0x01});
  test::SetJfifDensity(jpeg, 1, 150, 150);
  TJPEGImageExtra image;
  try {
    Load(image, jpeg);
    ADD_FAILURE() << "loaded";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(image.GetXDPI(), 150u) << "header values are already set";
  EXPECT_EQ(image.Width(), 16);
}

TEST(JpegImageExtra, TruncatedPhotoshopBlockLoadsWithoutTheFlag) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  const std::string caption = "0123456789";
  Bytes payload(std::begin("Photoshop 3.0"), std::end("Photoshop 3.0"));
  for (int b :
       std::initializer_list<int>{'8', 'B', 'I', 'M', 4, 4, 0, 0, 0, 0, 0, 15, 0x1C, 2, 120, 0, 10})
    payload.push_back(static_cast<uint8_t>(b));
  payload.insert(payload.end(), caption.begin(), caption.begin() + 4);  // stops inside the dataset
  TJPEGImageExtra image;
  Load(image, test::WithSegments(test::CjpegBytes(16, 16, ""), Segment(0xED, payload)));
  EXPECT_FALSE(image.FileInfo().HasPhotoshopData);
  EXPECT_EQ(image.Width(), 16);
}

// --- Saving -------------------------------------------------------------------------------------

TEST(JpegImageExtra, AnObjectAssignedFromARasterSavesExactlyWhatTheEncoderWrote) {
  const auto picture = Picture(40, 30);
  TJPEGImage plain;
  plain.Assign(*picture);
  TJPEGImageExtra extra;
  extra.Assign(*picture);
  extra.SetCreateThumbnail(false);
  extra.SetUseIccProfile(true);  // no profile: nothing to write
  EXPECT_EQ(Saved(extra), Saved(plain));
}

TEST(JpegImageExtra, SaveStepsInsertAfterTheJfifSegmentInTheirOrder) {
  TJPEGImageExtra image;
  image.Assign(*Picture(40, 30));
  image.Exif().Fields.Add("Make=Quorvex");
  image.FileInfo().Caption = "caption";
  image.FileInfo().HasPhotoshopData = true;
  image.SetUseIccProfile(true);
  image.IccProfile() = ProfileOf(70000);
  const Bytes out = Saved(image);
  EXPECT_EQ(out[20], 0xFF);
  EXPECT_EQ(out[21], 0xE1);
  const std::vector<uint8_t> codes = test::MarkerCodes(out);
  ASSERT_GE(codes.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 6),
            (std::vector<uint8_t>{0xE0, 0xE1, 0xE2, 0xE2, 0xED, 0xDB}));

  TJPEGImageExtra back;
  back.SetUseIccProfile(true);
  Load(back, out);
  EXPECT_EQ(back.Exif().Fields.Lines(), std::vector<std::string>{"Make=Quorvex"});
  EXPECT_EQ(back.FileInfo().Caption, "caption");
  EXPECT_TRUE(back.FileInfo().HasPhotoshopData);
  EXPECT_EQ(Text(back.IccProfile().ProfileData), Text(image.IccProfile().ProfileData));
  EXPECT_EQ(back.EstimatedQuality(), 90);
}

TEST(JpegImageExtra, SavingTwiceGivesTheSameBytes) {
  TJPEGImageExtra image;
  image.Assign(*Picture(40, 30));
  image.Exif().Fields.Add("Orientation=1");
  image.FileInfo().Keywords = {"a", "b"};
  image.FileInfo().HasPhotoshopData = true;
  image.SetUseIccProfile(true);
  image.IccProfile() = ProfileOf(300);
  const Bytes first = Saved(image);
  EXPECT_EQ(Saved(image), first);
}

TEST(JpegImageExtra, ALoadedFileSavedAgainKeepsOneSegmentOfEachKind) {
  TJPEGImageExtra writer;
  writer.Assign(*Picture(24, 24));
  writer.Exif().Fields.Add("Artist=first");
  writer.FileInfo().Keywords = {"k"};
  writer.FileInfo().HasPhotoshopData = true;
  const Bytes original = Saved(writer);

  TJPEGImageExtra loaded;
  Load(loaded, original);
  loaded.Exif().Fields.SetValue("Artist", "second");
  const Bytes again = Saved(loaded);
  EXPECT_EQ(test::MarkerCodes(again), test::MarkerCodes(original));
  TJPEGImageExtra back;
  Load(back, again);
  EXPECT_EQ(back.Exif().Fields.Lines(), std::vector<std::string>{"Artist=second"});
  EXPECT_EQ(back.FileInfo().Keywords, std::vector<std::string>{"k"});
}

TEST(JpegImageExtra, AnExifBlockThatDoesNotFitOrFailsIsLeftOutAndTheSaveGoesOn) {
  for (const std::string& line :
       {std::string("ImageDescription=") + std::string(65600, 'd'), std::string("Orientation=up"),
        std::string("XResolution=1/2,3")}) {
    TJPEGImageExtra image;
    image.Assign(*Picture(16, 16));
    image.Exif().Fields.Add(line);
    const Bytes out = Saved(image);
    EXPECT_EQ(test::MarkerCodes(out)[1], 0xDB) << line.substr(0, 20);
  }
  TJPEGImageExtra fits;
  fits.Assign(*Picture(16, 16));
  fits.Exif().Fields.Add(std::string("ImageDescription=") + std::string(65400, 'd'));
  EXPECT_EQ(test::MarkerCodes(Saved(fits))[1], 0xE1);
}

TEST(JpegImageExtra, ThumbnailIsWrittenAndReadBack) {
  TJPEGImageExtra image;
  image.Assign(*Picture(1200, 800));
  image.Exif().Fields.Add("Make=Quorvex");
  image.SetCreateThumbnail(true);
  const Bytes out = Saved(image);
  EXPECT_TRUE(image.Exif().HasThumbnail);

  TJPEGImageExtra back;
  back.SetThumbnailOnly(true);
  Load(back, out);
  EXPECT_TRUE(back.Exif().HasThumbnail);
  EXPECT_EQ(
      back.Thumbnail().Fields.Lines(),
      (std::vector<std::string>{
          "Compression=6", "Orientation=1", "XResolution=72/1", "YResolution=72/1",
          "ResolutionUnit=2", "JpegInterchangeFormat=0",
          "JpegInterchangeFormatLength=" + std::to_string(image.Thumbnail().JpegData.Size())}));
  EXPECT_EQ(Text(back.Thumbnail().JpegData), Text(image.Thumbnail().JpegData));
  TJPEGImage thumbnail;
  Load(thumbnail,
       Bytes(back.Thumbnail().JpegData.Bytes().begin(), back.Thumbnail().JpegData.Bytes().end()));
  EXPECT_EQ(thumbnail.Width(), 120);
  EXPECT_EQ(thumbnail.Height(), 80);

  // Read normally, the same file gives the main fields and no thumbnail lines.
  TJPEGImageExtra normal;
  Load(normal, out);
  EXPECT_EQ(normal.Exif().Fields.Lines(), std::vector<std::string>{"Make=Quorvex"});
}

TEST(JpegImageExtra, FieldsThatLeaveNoRoomForTheThumbnailAreWrittenWithoutIt) {
  TJPEGImageExtra image;
  image.Assign(*Picture(1200, 800));
  image.Exif().Fields.Add(std::string("ImageDescription=") + std::string(65400, 'd'));
  image.SetCreateThumbnail(true);
  const Bytes out = Saved(image);
  // The reader keeps values of up to 4096 characters, so the segment itself is looked at.
  size_t exifLength = 0;
  for (size_t at = 2; at + 4 <= out.size() && out[at] == 0xFF && out[at + 1] != 0xDA;
       at += 2 + out[at + 2] * 256 + out[at + 3])
    if (out[at + 1] == 0xE1) exifLength = out[at + 2] * 256 + out[at + 3];
  EXPECT_GT(exifLength, 65400u);
  TJPEGImageExtra thumbnail;
  thumbnail.SetThumbnailOnly(true);
  Load(thumbnail, out);
  EXPECT_FALSE(thumbnail.Exif().HasThumbnail);
}

TEST(JpegImageExtra, AssignCopiesMetadataOnlyFromAnObjectWithARaster) {
  TJPEGImageExtra source;
  source.Assign(*Picture(16, 16));
  source.Exif().Fields.Add("Make=M");
  source.Exif().DecodeUtf8 = false;
  source.FileInfo().Caption = "c";
  source.FileInfo().HasPhotoshopData = true;
  source.IccProfile() = ProfileOf(5);
  source.SetCreateThumbnail(true);
  source.SetUseIccProfile(true);

  TJPEGImageExtra target;
  target.Assign(static_cast<const TJPEGImage&>(source));
  EXPECT_EQ(target.Exif().Fields, source.Exif().Fields);
  EXPECT_FALSE(target.Exif().DecodeUtf8);
  EXPECT_EQ(target.FileInfo(), source.FileInfo());
  EXPECT_EQ(Text(target.IccProfile().ProfileData), Text(source.IccProfile().ProfileData));
  EXPECT_TRUE(target.CreateThumbnail());
  EXPECT_FALSE(target.UseIccProfile()) << "not among what Assign copies";

  TJPEGImageExtra loaded;
  Load(loaded, Saved(source));
  TJPEGImageExtra other;
  other.Assign(static_cast<const TJPEGImage&>(loaded));  // no raster yet
  EXPECT_TRUE(other.Exif().Fields.Empty());
  EXPECT_FALSE(other.FileInfo().HasPhotoshopData);
}

}  // namespace
}  // namespace quorvex
