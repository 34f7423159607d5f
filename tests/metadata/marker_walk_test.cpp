// The marker walk: what each segment gives, the resolution rule, the quality estimate, ICC
// chunk collection, and that cut-short data never makes it fail except for APP1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jpegextra/metadata/jpeg_metadata.h"
#include "jpegextra/metadata/quality_estimate.h"
#include "tests/metadata/exif_block_builder.h"
#include "tests/metadata/jpeg_fixtures.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using test::Bytes;
using test::Segment;

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kSos = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TResolution Walk(TJpegMetadata& metadata, const Bytes& bytes, TResolution dpi = {1, 1}) {
  TMemoryStream data(bytes);
  data.Seek(5);
  metadata.ReadMetadata(data, dpi);
  EXPECT_EQ(data.Position(), 0u);
  return dpi;
}

Bytes ExifSegment(std::vector<test::RawEntry> main, bool big = false) {
  test::ExifBlockBuilder b(big);
  return Segment(0xE1, b.Build(main));
}

Bytes ResolutionExif(const std::string& unit, const std::string& x, const std::string& y) {
  TExif exif;
  if (!unit.empty()) exif.Fields.Add("ResolutionUnit", unit);
  if (!x.empty()) exif.Fields.Add("XResolution", x);
  if (!y.empty()) exif.Fields.Add("YResolution", y);
  TMemoryStream block;
  exif.WriteExif(block, TEXIFThumbnail());
  return Segment(0xE1, Bytes(block.Bytes().begin(), block.Bytes().end()));
}

Bytes Iptc(const std::string& caption) {
  Bytes iptc = {0x1C, 2, 120, 0, static_cast<uint8_t>(caption.size())};
  iptc.insert(iptc.end(), caption.begin(), caption.end());
  Bytes block =
      Join({Text("8BIM"), {4, 4, 0, 0, 0, 0, 0, static_cast<uint8_t>(iptc.size())}, iptc});
  if (iptc.size() % 2) block.push_back(0);
  return Segment(0xED, Join({Text(std::string("Photoshop 3.0", 14)), block}));
}

Bytes IccChunk(uint8_t sequence, uint8_t count, const std::string& bytes) {
  return Segment(0xE2,
                 Join({Text(std::string("ICC_PROFILE", 12)), {sequence, count}, Text(bytes)}));
}

std::string Profile(const TJpegMetadata& m) {
  return std::string(m.IccProfile.ProfileData.Bytes().begin(),
                     m.IccProfile.ProfileData.Bytes().end());
}

// --- Resolution rule -------------------------------------------------------------------------

struct DpiCase {
  const char* Name;
  TResolution Before;
  Bytes Segments;
  TResolution After;
};

class ResolutionRule : public ::testing::TestWithParam<DpiCase> {};

TEST_P(ResolutionRule, Applies) {
  TJpegMetadata metadata;
  const TResolution after =
      Walk(metadata, Join({kSoi, GetParam().Segments, kSos}), GetParam().Before);
  EXPECT_EQ(after.X, GetParam().After.X);
  EXPECT_EQ(after.Y, GetParam().After.Y);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolutionRule,
    ::testing::Values(
        DpiCase{"InchesReplaceOne", {1, 1}, ResolutionExif("2", "300/1", "300/1"), {300, 300}},
        DpiCase{"NoUnitMeansAsIs", {1, 1}, ResolutionExif("", "72/1", "96/1"), {72, 96}},
        DpiCase{"Centimetres", {1, 1}, ResolutionExif("3", "118/1", "118/1"), {300, 300}},
        DpiCase{"NoSlash", {1, 1}, ResolutionExif("2", "72", "72"), {72, 72}},
        DpiCase{
            "OnlyExactlyOneIsReplaced", {2, 1}, ResolutionExif("2", "300/1", "300/1"), {2, 300}},
        DpiCase{"ZeroIsNotReplaced", {0, 0}, ResolutionExif("2", "300/1", "300/1"), {0, 0}},
        DpiCase{"NoExifBlock", {1, 1}, {}, {1, 1}},
        DpiCase{"InvalidHeader",
                {1, 1},
                Segment(0xE1, Text(std::string("Exif\0\1MM\0*\0\0\0\x08\0\0\0\0\0\0", 20))),
                {1, 1}},
        DpiCase{"NoXResolutionLine", {1, 1}, ResolutionExif("2", "", "72/1"), {0, 72}},
        DpiCase{"DivisionByZero", {1, 1}, ResolutionExif("2", "72/0", "72/1"), {0, 0}},
        DpiCase{"AListGivesZero", {1, 1}, ResolutionExif("2", "72/1", "1/2,3/4"), {72, 0}},
        DpiCase{"TiesToEven", {1, 1}, ResolutionExif("2", "145/2", "147/2"), {72, 74}},
        DpiCase{"LowSixteenBits", {1, 1}, ResolutionExif("2", "70000/1", "65536/1"), {4464, 0}},
        // Resolutions stored as text (type Ascii) are read as decimal numbers.
        DpiCase{"TextResolution",
                {1, 1},
                ExifSegment({{0x011A, 2, 5, Text(std::string("96.4", 5))},
                             {0x011B, 2, 4, Text(std::string("72", 3))}}),
                {96, 72}},
        DpiCase{"BeyondAnyIntegerIsMalformed",
                {1, 1},
                ExifSegment({{0x011A, 2, 5, Text(std::string("72.0", 5))},
                             {0x011B, 2, 5, Text(std::string("1e20", 5))}}),
                {0, 0}},
        DpiCase{"BeyondAnyFloatIsMalformed",
                {1, 1},
                ExifSegment({{0x011A, 2, 7, Text(std::string("-1e300", 7))}}),
                {0, 0}},
        DpiCase{"MotorolaOrder",
                {1, 1},
                ExifSegment({{0x011A, 5, 1, test::ExifBlockBuilder(true).Rationals({{240, 1}})},
                             {0x011B, 5, 1, test::ExifBlockBuilder(true).Rationals({{180, 1}})}},
                            true),
                {240, 180}},
        DpiCase{"LaterBlocksLeaveAReplacedValue",
                {1, 1},
                Join({ResolutionExif("2", "300/1", "1/1"), ResolutionExif("2", "600/1", "200/1")}),
                {300, 200}},
        DpiCase{"AfterTheScanNothingCounts",
                {1, 1},
                Join({kSos, ResolutionExif("2", "300/1", "300/1")}),
                {1, 1}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(MarkerWalk, ExifFieldsAreReplacedOnEachLoadAndTheThumbnailHolderEmptied) {
  TJpegMetadata metadata;
  metadata.Exif.Fields.Add("Make=old");
  metadata.Thumbnail.Fields.Add("Compression=6");
  Walk(metadata, Join({kSoi, ExifSegment({{0x0110, 2, 3, Text(std::string("M1", 3))}}), kSos}));
  EXPECT_EQ(metadata.Exif.Fields.Lines(), std::vector<std::string>{"Model=M1"});
  EXPECT_TRUE(metadata.Thumbnail.Fields.Empty());
  Walk(metadata, Join({kSoi, kSos}));
  EXPECT_TRUE(metadata.Exif.Fields.Empty());
}

TEST(MarkerWalk, TruncatedOrMalformedApp1FailsWithStreamReadError) {
  for (const Bytes& bytes :
       {Join({kSoi, {0xFF, 0xE1, 0x00, 0x01}, kSos}), Join({kSoi, {0xFF, 0xE1, 0x00, 0x00}, kSos}),
        Join({kSoi, {0xFF, 0xE1, 0x01, 0x00, 'E', 'x'}})}) {
    TJpegMetadata metadata;
    try {
      Walk(metadata, bytes);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
  }
}

TEST(MarkerWalk, AnEarlierBlocksResolutionSurvivesALaterFailure) {
  TJpegMetadata metadata;
  TMemoryStream data(Join({kSoi, ResolutionExif("2", "300/1", "300/1"), {0xFF, 0xE1, 0x00, 0x01}}));
  TResolution dpi{1, 1};
  EXPECT_THROW(metadata.ReadMetadata(data, dpi), EReadError);
  EXPECT_EQ(dpi.X, 300);
  EXPECT_EQ(data.Position(), 0u);
}

TEST(MarkerWalk, EmptyPayloadsAreNothing) {
  TJpegMetadata metadata;
  metadata.EstimatedQuality = 42;
  const TResolution dpi = Walk(
      metadata,
      Join({kSoi, {0xFF, 0xE1, 0, 2}, {0xFF, 0xED, 0, 2}, {0xFF, 0xDB, 0, 2}, Iptc("x"), kSos}));
  EXPECT_EQ(dpi.X, 1);
  EXPECT_EQ(metadata.FileInfo.Caption, "x") << "the walk went on after the empty segments";
  EXPECT_EQ(metadata.EstimatedQuality, 42) << "a DQT segment without tables gives no estimate";
}

// --- Photoshop segments -----------------------------------------------------------------------

TEST(MarkerWalk, Photoshop) {
  TJpegMetadata metadata;
  metadata.FileInfo.Headline = "stale";
  Walk(metadata, Join({kSoi, Iptc("first"), Iptc("second"), kSos}));
  EXPECT_EQ(metadata.FileInfo.Caption, "first");
  EXPECT_EQ(metadata.FileInfo.Headline, "") << "emptied first";
  EXPECT_TRUE(metadata.FileInfo.HasPhotoshopData);
}

TEST(MarkerWalk, ATruncatedPhotoshopBlockIsSwallowed) {
  Bytes broken = Iptc("0123456789");
  broken.erase(broken.end() - 6, broken.end());
  broken[2] = 0;
  broken[3] = static_cast<uint8_t>(broken.size() - 2);
  TJpegMetadata metadata;
  Walk(metadata, Join({kSoi, broken, kSos}));
  EXPECT_FALSE(metadata.FileInfo.HasPhotoshopData);
  EXPECT_EQ(metadata.FileInfo.Caption, "");

  Walk(metadata, Join({kSoi, Iptc("kept"), broken, kSos}));
  EXPECT_TRUE(metadata.FileInfo.HasPhotoshopData);
  EXPECT_EQ(metadata.FileInfo.Caption, "kept");
}

TEST(MarkerWalk, AnApp13ThatRunsPastTheEndIsScannedAsOrdinaryBytes) {
  // The APP13 claims 0x4000 bytes; inside it sits a complete Photoshop segment, which is found
  // because the bytes after the length are scanned for markers.
  const Bytes bytes = Join({kSoi, {0xFF, 0xED, 0x40, 0x00}, Iptc("inside"), kSos});
  TJpegMetadata metadata;
  Walk(metadata, bytes);
  EXPECT_EQ(metadata.FileInfo.Caption, "inside");
}

TEST(MarkerWalk, ApsegmentWithoutResourcesDoesNotSetTheFlag) {
  TJpegMetadata metadata;
  Walk(metadata, Join({kSoi, Segment(0xED, Text(std::string("Photoshop 3.0\0xyz", 17))), kSos}));
  EXPECT_FALSE(metadata.FileInfo.HasPhotoshopData);
}

// --- Quality --------------------------------------------------------------------------------

Bytes Dqt(std::initializer_list<std::pair<uint8_t, double>> tables, bool sixteenBit = false) {
  Bytes payload;
  for (auto [id, scale] : tables) {
    payload.push_back(static_cast<uint8_t>(id | (sixteenBit ? 0x10 : 0)));
    for (uint16_t ref : ReferenceQuantTables()[id & 1]) {
      const auto v = static_cast<uint16_t>(ref * scale);
      if (sixteenBit) payload.push_back(static_cast<uint8_t>(v >> 8));
      payload.push_back(static_cast<uint8_t>(v));
    }
  }
  return Segment(0xDB, payload);
}

TEST(MarkerWalk, TwoTablesInOneSegmentBothCount) {
  TJpegMetadata metadata;
  const Bytes dqt = Dqt({{0, 1.0}, {1, 2.0}});
  ASSERT_EQ(dqt[3], 132);
  Walk(metadata, Join({kSoi, dqt, kSos}));
  EXPECT_EQ(metadata.EstimatedQuality, 33) << "mean 150: 5000 / 150";
  EXPECT_DOUBLE_EQ(metadata.QualityVariance, 2500.0);
}

TEST(MarkerWalk, SixteenBitTablesAndSeparateSegments) {
  TJpegMetadata metadata;
  Walk(metadata, Join({kSoi, Dqt({{0, 2.0}}, true), Dqt({{3, 2.0}}), kSos}));
  EXPECT_EQ(metadata.EstimatedQuality, 25);
  EXPECT_NEAR(metadata.QualityVariance, 0.0, 1e-9);
}

TEST(MarkerWalk, WithoutTablesTheEstimateStays) {
  TJpegMetadata metadata;
  metadata.EstimatedQuality = 61;
  metadata.QualityVariance = 2.5;
  Walk(metadata, Join({kSoi, kSos, Dqt({{0, 0.5}})}));
  EXPECT_EQ(metadata.EstimatedQuality, 61);
  EXPECT_EQ(metadata.QualityVariance, 2.5);
}

TEST(MarkerWalk, TablesOfZerosAreNotAllOnesButStillEstimate100) {
  TJpegMetadata metadata;
  // Mean 0 percent: (200 - 0) / 2.
  Walk(metadata, Join({kSoi, Dqt({{0, 0.0}}), kSos}));
  EXPECT_EQ(metadata.EstimatedQuality, 100);
}

class CjpegQuality : public ::testing::TestWithParam<int> {};

TEST_P(CjpegQuality, EstimateMatchesTheQualityTheFileWasWrittenAt) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TJpegMetadata metadata;
  const Bytes jpeg = test::CjpegBytes(48, 32, "-baseline -quality " + std::to_string(GetParam()));
  Walk(metadata, jpeg);
  EXPECT_EQ(metadata.EstimatedQuality, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Qualities, CjpegQuality, ::testing::Values(25, 50, 75, 90, 100));

TEST(MarkerWalk, GrayscaleFileHasOneTable) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  TJpegMetadata metadata;
  Walk(metadata, test::CjpegBytes(16, 16, "-grayscale -baseline -quality 50"));
  EXPECT_EQ(metadata.EstimatedQuality, 50);
  EXPECT_NEAR(metadata.QualityVariance, 0.0, 1e-9);
}

// --- ICC chunks -----------------------------------------------------------------------------

struct IccCase {
  const char* Name;
  Bytes Segments;
  std::string Profile;
};

class IccCollection : public ::testing::TestWithParam<IccCase> {};

TEST_P(IccCollection, Collects) {
  TJpegMetadata metadata;
  metadata.UseIccProfile = true;
  metadata.IccProfile.ProfileData.Write("old", 3);
  Walk(metadata, Join({kSoi, GetParam().Segments, kSos}));
  EXPECT_EQ(Profile(metadata), GetParam().Profile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IccCollection,
    ::testing::Values(
        IccCase{"Single", IccChunk(1, 1, "abc"), "abc"},
        IccCase{"InOrder", Join({IccChunk(1, 3, "ab"), IccChunk(2, 3, "cd"), IccChunk(3, 3, "ef")}),
                "abcdef"},
        IccCase{"ChunksJoinByNumber",
                Join({IccChunk(1, 3, "ab"), IccChunk(3, 3, "ef"), IccChunk(2, 3, "cd")}), "abcdef"},
        // A missing or repeated chunk, or chunks that disagree on the count, would make a
        // corrupt profile: there is none.
        IccCase{"MissingChunk", Join({IccChunk(1, 3, "ab"), IccChunk(2, 3, "cd")}), ""},
        IccCase{"RepeatedChunk", Join({IccChunk(1, 1, "ab"), IccChunk(1, 1, "ab")}), ""},
        IccCase{"SingleChunkAfterDiscardIsSkipped",
                Join({IccChunk(2, 2, "xx"), IccChunk(1, 1, "single")}), ""},
        IccCase{"SequenceAboveCount", IccChunk(1, 0, "zz"), ""},
        IccCase{"SequenceAboveCountLater", Join({IccChunk(1, 1, "ab"), IccChunk(7, 1, "cd")}), ""},
        IccCase{"OtherApp2Skipped",
                Join({Segment(0xE2, Text(std::string("FPXR\0\0\0\0\0\0\0\0\0\0zz", 16))),
                      Segment(0xE2, Text("short")), IccChunk(1, 1, "ok")}),
                "ok"},
        IccCase{"EmptyChunk", Join({IccChunk(1, 2, "full"), IccChunk(2, 2, "")}), "full"},
        IccCase{"CutShortChunkLeavesTheProfileIncomplete",
                Join({IccChunk(1, 2, "ab"), Bytes{0xFF, 0xE2, 0x00, 0x40},
                      Text(std::string("ICC_PROFILE", 12)), Bytes{2, 2, 'c'}}),
                ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(MarkerWalk, IccChunksAreIgnoredWhenTheOptionIsOff) {
  TJpegMetadata metadata;
  metadata.IccProfile.ProfileData.Write("old", 3);
  Walk(metadata, Join({kSoi, IccChunk(1, 1, "abc"), kSos}));
  EXPECT_EQ(Profile(metadata), "") << "emptied at the start of every walk";
}

// --- Hostile and cut-short data ---------------------------------------------------------------

TEST(MarkerWalk, CutAtEveryLengthOnlyApp1CanFail) {
  const Bytes full = Join({kSoi,
                           Iptc("caption"),
                           IccChunk(1, 1, "icc"),
                           Dqt({{0, 0.5}, {1, 0.5}}),
                           ResolutionExif("2", "300/1", "300/1"),
                           kSos,
                           {1, 2, 3}});
  const size_t app1At =
      full.size() - kSos.size() - 3 - ResolutionExif("2", "300/1", "300/1").size();
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    TJpegMetadata metadata;
    metadata.UseIccProfile = true;
    TMemoryStream data(Bytes(full.begin(), full.begin() + cut));
    TResolution dpi{1, 1};
    try {
      metadata.ReadMetadata(data, dpi);
      if (cut >= full.size() - 3) {
        EXPECT_EQ(dpi.X, 300);
        EXPECT_EQ(metadata.EstimatedQuality, 75);
        EXPECT_EQ(metadata.FileInfo.Caption, "caption");
      }
    } catch (const EReadError&) {
      EXPECT_GE(cut, app1At + 4) << "only an APP1 whose payload runs past the end fails";
      EXPECT_LT(cut, app1At + ResolutionExif("2", "300/1", "300/1").size());
    }
    EXPECT_EQ(data.Position(), 0u);
  }
}

TEST(MarkerWalk, ArbitraryBytesAndFillMarkers) {
  TJpegMetadata metadata;
  EXPECT_NO_THROW(Walk(metadata, {}));
  EXPECT_NO_THROW(Walk(metadata, {0xFF}));
  EXPECT_NO_THROW(Walk(metadata, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_NO_THROW(Walk(metadata, {0x00, 0x11, 0xFF, 0xC0, 0x00, 0x00, 0xFF, 0xD9, 0x00, 0x01}));
  // Lengths 0 and 1 on ordinary segments step nowhere; the walk goes on to the next marker.
  Walk(metadata, Join({kSoi, {0xFF, 0xE5, 0, 0}, {0xFF, 0xE6, 0, 1}, Iptc("after"), kSos}));
  EXPECT_EQ(metadata.FileInfo.Caption, "after");
}

// Fill bytes before markers, and APP13 lengths that cannot count themselves.
struct FillCase {
  const char* Name;
  Bytes Data;
  int Quality;  // 42 when no table is read
  std::string Caption;
};

// `fill` bytes 0xFF before each marker up to the first scan, found by the segment lengths.
Bytes WithFillBeforeEachMarker(const Bytes& jpeg, size_t fill) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    out.insert(out.end(), fill, 0xFF);
    if (jpeg[at + 1] == 0xDA) break;
    const size_t end = at + 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(at),
               jpeg.begin() + static_cast<ptrdiff_t>(end));
    at = end;
  }
  out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(at), jpeg.end());
  return out;
}

class FillAndShortLengths : public ::testing::TestWithParam<FillCase> {};
TEST_P(FillAndShortLengths, Walk) {
  TJpegMetadata metadata;
  metadata.EstimatedQuality = 42;
  Walk(metadata, GetParam().Data);
  EXPECT_EQ(metadata.EstimatedQuality, GetParam().Quality);
  EXPECT_EQ(metadata.FileInfo.Caption, GetParam().Caption);
}

const Bytes kSwallowed(65534, 0);

INSTANTIATE_TEST_SUITE_P(
    Cases, FillAndShortLengths,
    ::testing::Values(
        FillCase{"OneFillByteBeforeDqt", Join({kSoi, {0xFF}, Dqt({{0, 2.0}}), Iptc("after"), kSos}),
                 25, "after"},
        FillCase{"ManyFillBytesBeforeApp13", Join({kSoi, Bytes(7, 0xFF), Iptc("filled"), kSos}), 42,
                 "filled"},
        FillCase{"NoFillBytes", Join({kSoi, Dqt({{0, 2.0}}), Iptc("plain"), kSos}), 25, "plain"},
        FillCase{"App13LengthZeroEndsTheWalk",
                 Join({kSoi, Iptc("kept"), {0xFF, 0xED, 0, 0}, kSwallowed, Dqt({{0, 2.0}}), kSos}),
                 42, "kept"},
        FillCase{
            "App13LengthOneEndsTheWalk",
            Join(
                {kSoi, Dqt({{0, 2.0}}), {0xFF, 0xED, 0, 1}, kSwallowed, {0}, Iptc("beyond"), kSos}),
            25, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(MarkerWalk, FillBytesBeforeEveryMarkerOfACjpegFileChangeNothing) {
  const Bytes jpeg = test::CjpegBytes(48, 32, "-baseline -quality 60");
  const Bytes filled = WithFillBeforeEachMarker(jpeg, 3);
  ASSERT_GT(filled.size(), jpeg.size());
  TJpegMetadata plain, withFill;
  Walk(plain, jpeg);
  Walk(withFill, filled);
  EXPECT_EQ(plain.EstimatedQuality, 60);
  EXPECT_EQ(withFill.EstimatedQuality, 60);
  EXPECT_EQ(withFill.QualityVariance, plain.QualityVariance);
}

}  // namespace
}  // namespace quorvex
