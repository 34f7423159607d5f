// The tag table: size, uniqueness, the placeholder row and the two lookups.
#include "jpegextra/metadata/exif_lookup.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quorvex {
namespace {

TEST(ExifLookup, HasUniqueNamesAndTagsAndThePlaceholderAtRow31) {
  const TExifLookup& table = ExifLookup();
  ASSERT_EQ(table.size(), 118u);
  std::set<std::string_view> names;
  std::set<uint16_t> tags;
  for (const auto& row : table) {
    names.insert(row.Name);
    tags.insert(row.Tag);
  }
  EXPECT_EQ(names.size(), 118u);
  EXPECT_EQ(tags.size(), 118u);
  EXPECT_EQ(table[30].Name, "");
  EXPECT_EQ(table[30].Tag, 0xFFFF);
}

struct Row {
  size_t Index;
  const char* Name;
  uint16_t Tag;
  TExifFormat Format;
  TExifIfd Ifd;
};

class ExifLookupRow : public ::testing::TestWithParam<Row> {};

TEST_P(ExifLookupRow, MatchesTheTable) {
  const Row& r = GetParam();
  const auto& row = ExifLookup()[r.Index];
  EXPECT_EQ(row.Name, r.Name);
  EXPECT_EQ(row.Tag, r.Tag);
  EXPECT_EQ(row.Format, r.Format);
  EXPECT_EQ(row.Ifd, r.Ifd);
  EXPECT_EQ(FindTagName(r.Tag), r.Name);
  EXPECT_EQ(FindTagRecord(r.Name), &row);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ExifLookupRow,
    ::testing::Values(
        Row{0, "ImageDescription", 0x010E, TExifFormat::Ascii, TExifIfd::Main},
        Row{14, "Copyright", 0x8298, TExifFormat::Ascii, TExifIfd::Main},
        Row{24, "ShutterSpeedValue", 0x9201, TExifFormat::SRational, TExifIfd::Exif},
        Row{31, "UserComment", 0x9286, TExifFormat::Undefined, TExifIfd::Exif},
        Row{57, "GPSVersionID", 0x0000, TExifFormat::Byte, TExifIfd::Gps},
        Row{84, "ImageWidth", 0x0100, TExifFormat::Short, TExifIfd::Main},
        Row{110, "GPSDifferential", 0x001E, TExifFormat::Short, TExifIfd::Gps},
        Row{115, "XPSubject", 0x9C9F, TExifFormat::Byte, TExifIfd::Main},
        Row{116, "JpegInterchangeFormat", 0x0201, TExifFormat::Long, TExifIfd::Thumbnail},
        Row{117, "JpegInterchangeFormatLength", 0x0202, TExifFormat::Long, TExifIfd::Thumbnail}));

TEST(ExifLookup, MissesAndCase) {
  EXPECT_EQ(FindTagName(0x1234), "");
  EXPECT_EQ(FindTagName(0xFFFF), "") << "the placeholder has no name";
  EXPECT_EQ(FindTagRecord("make"), nullptr) << "names are compared case-sensitively";
  EXPECT_EQ(FindTagRecord(""), nullptr);
  EXPECT_EQ(FindTagRecord("Nope"), nullptr);
  EXPECT_EQ(TiffType(TExifFormat::Undefined), 7);
  EXPECT_EQ(TiffType(TExifFormat::SRational), 10);
}

}  // namespace
}  // namespace quorvex
