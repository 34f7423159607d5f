// Parsing and writing the APP13 Photoshop segment, byte for byte.
#include "jpegextra/metadata/photoshop_segment.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace quorvex {

// Readable failure output for dataset lists.
inline void PrintTo(const TSegmentData& dataset, std::ostream* os) {
  *os << "2:" << int(dataset.DatasetNumber) << " \"" << dataset.Value << "\"";
}

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TApp14Segment Parse(const std::string& payload) {
  TMemoryStream stream(std::vector<uint8_t>(payload.begin(), payload.end()));
  TApp14Segment segment;
  segment.ParseSegment(stream);
  return segment;
}

std::string Written(const TApp14Segment& segment) {
  TMemoryStream out;
  segment.WriteSegment(out);
  EXPECT_EQ(out.Position(), 0u);
  return {out.Bytes().begin(), out.Bytes().end()};
}

const std::string kCaptionPayload = std::string("Photoshop 3.0", 14) + "8BIM" +
                                    Bytes({4, 4, 0, 0, 0, 0, 0, 0x0F}) +
                                    Bytes({0x1C, 2, 0x78, 0, 10}) + "0123456789" + Bytes({0});

TEST(PhotoshopSegment, OneCaptionDataset) {
  const TApp14Segment segment = Parse(kCaptionPayload);
  EXPECT_EQ(segment.Header, "Photoshop 3.0");
  ASSERT_EQ(segment.Resources.size(), 1u);
  const TBIMSegment& block = segment.Resources[0];
  EXPECT_EQ(block.ResourceId, kIptcResource);
  EXPECT_EQ(block.ResourceName, "");
  ASSERT_EQ(block.Datasets.size(), 1u);
  EXPECT_EQ(block.Datasets[0].DatasetNumber, 120);
  EXPECT_EQ(block.Datasets[0].Value, "0123456789");
  EXPECT_EQ(block.DataSize(), 15u);
}

TEST(PhotoshopSegment, WritesTheSameBytesBack) {
  EXPECT_EQ(Written(Parse(kCaptionPayload)),
            Bytes({0xFF, 0xED, 0, static_cast<int>(kCaptionPayload.size() + 2)}) + kCaptionPayload);
}

TEST(PhotoshopSegment, PadsAfterEvenNamesAndOddData) {
  TApp14Segment segment;
  segment.Header = "H";
  segment.Resources.push_back({kUrlResource, "abc", "xyz", {}});  // odd name, odd data
  segment.Resources.push_back({kUrlResource, "ab", "wxyz", {}});  // even name, even data
  const std::string expected = Bytes({0xFF, 0xED, 0, 40}) + "H" + Bytes({0}) +  //
                               "8BIM" + Bytes({4, 0x0B, 3}) + "abc" + Bytes({0, 0, 0, 3}) + "xyz" +
                               Bytes({0}) + "8BIM" + Bytes({4, 0x0B, 2}) + "ab" + Bytes({0}) +
                               Bytes({0, 0, 0, 4}) + "wxyz";
  EXPECT_EQ(Written(segment), expected);
  const TApp14Segment back = Parse(expected.substr(4));
  ASSERT_EQ(back.Resources.size(), 2u);
  EXPECT_EQ(back.Resources[0].ResourceName, "abc");
  EXPECT_EQ(back.Resources[0].Text, "xyz");
  EXPECT_EQ(back.Resources[1].ResourceName, "ab");
  EXPECT_EQ(back.Resources[1].Text, "wxyz");
}

TEST(PhotoshopSegment, CopyrightFlagKeepsEveryByteOfItsData) {
  const std::string payload =
      std::string("P", 2) + "8BIM" + Bytes({4, 0x0A, 0, 0, 0, 0, 0, 1, 1, 0});
  const TApp14Segment segment = Parse(payload);
  ASSERT_EQ(segment.Resources.size(), 1u);
  EXPECT_EQ(segment.Resources[0].Text, Bytes({1, 0})) << "data and pad byte";
}

TEST(PhotoshopSegment, UnknownResourcesAndStrayBytesAreScannedPast) {
  const std::string payload = std::string("Photoshop 3.0", 14) + "8BIM" +
                              Bytes({3, 0xED, 0, 0, 0, 0, 0, 2, 8, 'B'}) +  // unknown id
                              "88BIM" + Bytes({4, 0x0B, 0, 0, 0, 0, 0, 2, 'n', 'o'}) +  // extra '8'
                              "xx8BIM" + Bytes({4, 0x0B, 0, 0, 0, 0, 0, 3, 'y', 0, 's', 0});
  const TApp14Segment segment = Parse(payload);
  ASSERT_EQ(segment.Resources.size(), 1u);
  EXPECT_EQ(segment.Resources[0].Text, "ys") << "zero bytes of a URL are left out";
}

std::vector<TSegmentData> DatasetsOf(const std::string& data) {
  std::string payload =
      std::string("P", 2) + "8BIM" +
      Bytes({4, 4, 0, 0, static_cast<int>(data.size() >> 24), static_cast<int>(data.size() >> 16),
             static_cast<int>(data.size() >> 8), static_cast<int>(data.size() & 0xFF)}) +
      data;
  if (data.size() % 2) payload.push_back(0);
  const TApp14Segment segment = Parse(payload);
  EXPECT_EQ(segment.Resources.size(), 1u);
  return segment.Resources.empty() ? std::vector<TSegmentData>{} : segment.Resources[0].Datasets;
}

TEST(PhotoshopSegment, OddLengthEnvelopeDatasetsDoNotHideTheApplicationRecord) {
  // The envelope record as common writers put it first: version, then the character set
  // "ESC % G" of odd length, which leaves record 2 at an odd offset.
  const std::string data = Bytes({0x1C, 1, 0, 0, 2, 0, 4}) +
                           Bytes({0x1C, 1, 90, 0, 3, 0x1B, 0x25, 0x47}) +
                           Bytes({0x1C, 2, 0, 0, 2, 0, 4}) + Bytes({0x1C, 2, 5, 0, 2}) + "ON" +
                           Bytes({0x1C, 2, 120, 0, 3}) + "cap";
  EXPECT_EQ(DatasetsOf(data), (TSegmentList{{0, Bytes({0, 4})}, {5, "ON"}, {120, "cap"}}));
}

TEST(PhotoshopSegment, DatasetValuesThatLookLikeMarkersAreSkippedByLength) {
  const std::string data =
      Bytes({0x1C, 2, 120, 0, 5, 0x1C, 2, 25, 0, 0}) + Bytes({0x1C, 2, 25, 0, 1}) + "k";
  EXPECT_EQ(DatasetsOf(data), (TSegmentList{{120, Bytes({0x1C, 2, 25, 0, 0})}, {25, "k"}}));
}

TEST(PhotoshopSegment, ExtendedLengthAndCutShortDatasets) {
  const std::string data = Bytes({0x1C, 2, 120, 0x80, 2, 0, 3}) + "ext" +  // extended length 3
                           Bytes({0x00, 0x00}) +                           // stray bytes
                           Bytes({0x1C, 2, 25, 0, 9}) + "cut";             // runs past the block
  EXPECT_EQ(DatasetsOf(data), (TSegmentList{{120, "ext"}, {25, "cut"}}))
      << "a cut-short value keeps what the block holds";
  EXPECT_TRUE(DatasetsOf(Bytes({0x1C, 2, 120, 0x80, 5, 0, 0, 0, 0, 1, 'x'})).empty())
      << "length of 5 bytes";
  EXPECT_TRUE(DatasetsOf(Bytes({0x1C, 2, 120, 0})).empty()) << "header cut short";
}

class TruncatedBlock : public ::testing::TestWithParam<size_t> {};

TEST_P(TruncatedBlock, RaisesStreamReadError) {
  const std::string payload = kCaptionPayload.substr(0, GetParam());
  try {
    Parse(payload);
    ADD_FAILURE() << "no error at length " << GetParam();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

// Cut inside the id, the name length, the size, the data and the pad byte.
INSTANTIATE_TEST_SUITE_P(Cuts, TruncatedBlock, ::testing::Values(19, 20, 23, 26, 30, 35, 41));

TEST(PhotoshopSegment, HeaderOnlyAndEmptyPayloads) {
  EXPECT_TRUE(Parse("").Resources.empty());
  EXPECT_EQ(Parse("Photoshop 3.0").Header, "Photoshop 3.0");
  EXPECT_TRUE(Parse(std::string("Photoshop 3.0", 14) + "8BI").Resources.empty());
}

TEST(PhotoshopSegment, LongDatasetsTakeTheExtendedLength) {
  for (const size_t length : {32767u, 32768u, 40000u}) {
    TApp14Segment segment;
    segment.Header = "Photoshop 3.0";
    TBIMSegment block{kIptcResource, "Caption", "", {}};
    block.Datasets.push_back({120, std::string(length, 'x')});
    block.Datasets.push_back({5, "kept"});
    segment.Resources.push_back(block);
    const bool extended = length >= 32768;
    EXPECT_EQ(block.DataSize(), 5 + (extended ? 4 : 0) + length + 9) << length;
    const std::string bytes = Written(segment);
    const size_t field = bytes.find("\x1C\x02\x78");
    ASSERT_NE(field, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(bytes[field + 3]), extended ? 0x80 : length >> 8) << length;
    const TApp14Segment back = Parse(bytes.substr(4));
    ASSERT_EQ(back.Resources.size(), 1u);
    EXPECT_EQ(back.Resources[0].Datasets, block.Datasets) << length;
  }
}

TEST(PhotoshopSegment, ASegmentTooLongForItsLengthFieldIsNotWritten) {
  TApp14Segment segment;
  segment.Header = "Photoshop 3.0";
  TBIMSegment block{kIptcResource, "Caption", "", {}};
  for (int i = 0; i < 3; ++i) block.Datasets.push_back({25, std::string(30000, 'k')});
  segment.Resources.push_back(block);
  EXPECT_TRUE(Written(segment).empty());
  segment.Resources[0].Datasets.pop_back();
  EXPECT_EQ(Written(segment).size(), 4u + 14 + 4 + 2 + 8 + 4 + 2 * 30005);
}

}  // namespace
}  // namespace quorvex
