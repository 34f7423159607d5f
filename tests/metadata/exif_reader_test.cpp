// The EXIF reader: header checks, value texts per TIFF type in both byte orders, and the
// bounds it keeps on hostile payloads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jpegextra/metadata/exif.h"
#include "tests/metadata/exif_block_builder.h"

namespace quorvex {
namespace {

using test::ExifBlockBuilder;
using test::RawEntry;

std::vector<std::string> Read(const std::vector<uint8_t>& payload, bool* valid = nullptr) {
  TExif exif;
  TEXIFThumbnail thumbnail;
  TBEMemoryStream stream(payload);
  const bool ok = exif.ReadExif(stream, thumbnail);
  if (valid) *valid = ok;
  return exif.Fields.Lines();
}

class ExifReaderByteOrder : public ::testing::TestWithParam<bool> {
 protected:
  ExifBlockBuilder b{GetParam()};
};

TEST_P(ExifReaderByteOrder, ResolutionLinesAreTheSameInBothOrders) {
  const auto payload =
      b.Build({{0x011A, 5, 1, b.Rationals({{300, 1}})}, {0x0128, 3, 1, b.Words({2})}});
  bool valid = false;
  EXPECT_EQ(Read(payload, &valid),
            (std::vector<std::string>{"XResolution=300/1", "ResolutionUnit=2"}));
  EXPECT_TRUE(valid);
}

TEST_P(ExifReaderByteOrder, TheStreamKnowsTheByteOrderAfterwards) {
  TExif exif;
  TEXIFThumbnail thumbnail;
  TBEMemoryStream stream(b.Build({{0x0112, 3, 1, b.Words({1})}}));
  stream.BigEndian = !GetParam();
  ASSERT_TRUE(exif.ReadExif(stream, thumbnail));
  EXPECT_EQ(stream.BigEndian, GetParam());
  stream.Seek(8);
  EXPECT_EQ(stream.ReadWord(), 42);
}

TEST_P(ExifReaderByteOrder, InlineByteValues) {
  EXPECT_EQ(Read(b.Build({}, {}, {{0x0000, 1, 4, {2, 2, 0, 0}}})),
            std::vector<std::string>{"GPSVersionID=2,2,0,0"});
}

TEST_P(ExifReaderByteOrder, EveryFormatHasItsText) {
  const auto payload = b.Build(
      {
          {0x0102, 3, 3, b.Words({8, 8, 65535})},           // Short, out of line
          {0x0212, 3, 2, b.Words({2, 1})},                  // Short, inline pair
          {0x9C9B, 1, 6, {1, 2, 3, 250, 0, 255}},           // Byte, out of line
          {0x0214, 5, 2, b.Rationals({{0, 1}, {255, 1}})},  // Rational list
      },
      {
          {0xA002, 4, 1, b.Longs({4294967295u})},                    // Long inline, unsigned
          {0x9201, 10, 1, b.Longs({static_cast<uint32_t>(-5), 3})},  // SRational
          {0x9000, 7, 4, {'0', '2', '3', '0'}},                      // Undefined inline
          {0x9286, 7, 6, {0, 1, 0xAB, 0xCD, 0xEF, 0x10}},            // Undefined out of line
          {0xA003, 9, 1, b.Longs({7})},  // SLong: not a known type, bytes
          {0x9003, 2, 20, ExifBlockBuilder::Text(std::string("2024:01:02 03:04:05") + '\0')},
      });
  EXPECT_EQ(Read(payload), (std::vector<std::string>{
                               "BitsPerSample=8,8,65535",
                               "YCbCrSubSampling=2,1",
                               "XPTitle=1,2,3,250,0,255",
                               "ReferenceBlackWhite=0/1,255/1",
                               "PixelXDimension=4294967295",
                               "ShutterSpeedValue=-5/3",
                               "ExifVersion=30,32,33,30",
                               "UserComment=00,01,AB,CD,EF,10",
                               GetParam() ? "PixelYDimension=00" : "PixelYDimension=07",
                               "DateTimeOriginal=2024:01:02 03:04:05",
                           }));
}

TEST_P(ExifReaderByteOrder, AsciiInlineAndOutOfLine) {
  const auto payload =
      b.Build({{0x010F, 2, 4, {'A', 'B', 'C', 0}}, {0x0110, 2, 5, {'W', 'X', 'Y', 'Z', 0}}});
  EXPECT_EQ(Read(payload), (std::vector<std::string>{"Make=ABC", "Model=WXYZ"}));
}

TEST_P(ExifReaderByteOrder, AsciiLeavesOutZeroBytesAndChecksUtf8) {
  const auto payload = b.Build({
      {0x010E, 2, 7, {'a', 0, 'b', 0xC3, 0xA9, 0, 0}},  // "ab" + U+00E9 with a zero inside
      {0x010F, 2, 2, {0xE9, 0}},                        // Latin-1, not UTF-8
      {0x0110, 2, 4, {0xC0, 0xAF, 0, 0}},               // overlong form of '/'
  });
  EXPECT_EQ(Read(payload),
            (std::vector<std::string>{"ImageDescription=ab\xC3\xA9", "Make=", "Model="}));
}

TEST_P(ExifReaderByteOrder, AsciiKeepsBytesWhenNotDecoding) {
  TExif exif;
  exif.DecodeUtf8 = false;
  TEXIFThumbnail thumbnail;
  TBEMemoryStream stream(b.Build({{0x010F, 2, 2, {0xE9, 0}}}));
  ASSERT_TRUE(exif.ReadExif(stream, thumbnail));
  EXPECT_EQ(exif.Fields.Lines(), std::vector<std::string>{"Make=\xE9"});
}

TEST_P(ExifReaderByteOrder, SkipsUnknownTagsZeroCountsAndHugeCounts) {
  const auto payload = b.Build({
      {0x0112, 3, 1, b.Words({6})},
      {0x1234, 3, 1, b.Words({1})},                        // not in the table
      {0xFFFF, 1, 1, {1}},                                 // the unnamed placeholder row
      {0x0128, 3, 0, b.Words({2})},                        // count 0
      {0x013B, 2, 5000, std::vector<uint8_t>(5000, 'x')},  // count above 4096
      {0x0131, 2, 4096, std::vector<uint8_t>(4096, 'y')},  // count 4096 is read
  });
  const auto lines = Read(payload);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Orientation=6");
  EXPECT_EQ(lines[1], "Software=" + std::string(4096, 'y'));
}

TEST_P(ExifReaderByteOrder, AnEmptyDirectoryEndsTheReading) {
  auto payload = b.Build({}, {{0x829A, 5, 1, b.Rationals({{1, 125}})}});
  // Main directory: pointer entry only. Reading it gives nothing of its own; then set its
  // count to 0 and nothing at all is read, not even the EXIF directory.
  EXPECT_EQ(Read(payload), std::vector<std::string>{"ExposureTime=1/125"});
  payload[14] = payload[15] = 0;
  bool valid = false;
  EXPECT_TRUE(Read(payload, &valid).empty());
  EXPECT_TRUE(valid);
}

TEST_P(ExifReaderByteOrder, AllThreeDirectoriesInOrder) {
  const auto payload =
      b.Build({{0x0112, 3, 1, b.Words({1})}}, {{0x829A, 5, 1, b.Rationals({{1, 60}})}},
              {{0x0001, 2, 2, {'S', 0}}});
  EXPECT_EQ(Read(payload),
            (std::vector<std::string>{"Orientation=1", "ExposureTime=1/60", "GPSLatitudeRef=S"}));
}

TEST_P(ExifReaderByteOrder, GpsPointerInsideTheExifDirectoryIsFollowed) {
  auto payload = b.Build({{0x0112, 3, 1, b.Words({1})}},
                         {{0x829A, 5, 1, b.Rationals({{1, 60}})}, {0x8825, 4, 1, b.Longs({0})}});
  // Main: Orientation + EXIF pointer (30 bytes at offset 8); EXIF directory at offset 38, its
  // second entry (the GPS pointer) has its value field at payload byte 6 + 38 + 2 + 12 + 8.
  const uint32_t gpsAt = static_cast<uint32_t>(payload.size() - 6);
  std::vector<uint8_t> field;
  b.PutLong(field, gpsAt);
  std::copy(field.begin(), field.end(), payload.begin() + 6 + 38 + 2 + 12 + 8);
  b.PutWord(payload, 1);
  for (const auto& part :
       {b.Words({0x0001, 2}), b.Longs({2}), std::vector<uint8_t>{'N', 0, 0, 0}, b.Longs({0})})
    payload.insert(payload.end(), part.begin(), part.end());
  EXPECT_EQ(Read(payload),
            (std::vector<std::string>{"Orientation=1", "ExposureTime=1/60", "GPSLatitudeRef=N"}));
}

INSTANTIATE_TEST_SUITE_P(Orders, ExifReaderByteOrder, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Motorola" : "Intel"; });

TEST(ExifReader, RejectsShortPayloadsAndBadHeadersWithoutTouchingFields) {
  ExifBlockBuilder b(false);
  const auto good = b.Build({{0x0112, 3, 1, b.Words({1})}});
  std::vector<std::vector<uint8_t>> bad;
  bad.emplace_back(good.begin(), good.begin() + 19);  // 19 bytes
  auto wrong = good;
  wrong[4] = 0;
  wrong[5] = 1;  // "Exif" 00 01
  bad.push_back(wrong);
  wrong = good;
  wrong[6] = 'I';
  wrong[7] = 'M';
  bad.push_back(wrong);
  wrong = good;
  wrong[8] = 43;
  bad.push_back(wrong);
  for (const auto& payload : bad) {
    TExif exif;
    exif.Fields.Add("Make=kept");
    TEXIFThumbnail thumbnail;
    thumbnail.Fields.Add("Compression=6");
    TBEMemoryStream stream(payload);
    EXPECT_FALSE(exif.ReadExif(stream, thumbnail));
    EXPECT_EQ(exif.Fields.Lines(), std::vector<std::string>{"Make=kept"});
    EXPECT_TRUE(thumbnail.Fields.Empty()) << "the thumbnail holder is emptied first";
  }
}

TEST(ExifReader, ValidHeaderEmptiesFieldsEvenIfNothingFollows) {
  ExifBlockBuilder b(false);
  auto payload = b.Build({{0x0112, 3, 1, b.Words({1})}});
  payload[10] = payload[11] = payload[12] = payload[13] = 0xFF;  // main directory far outside
  TExif exif;
  exif.Fields.Add("Make=old");
  TEXIFThumbnail thumbnail;
  TBEMemoryStream stream(payload);
  EXPECT_TRUE(exif.ReadExif(stream, thumbnail));
  EXPECT_TRUE(exif.Fields.Empty());
}

TEST(ExifReader, EntriesPointingOutsideThePayloadAreSkipped) {
  ExifBlockBuilder b(true);
  auto payload = b.Build({{0x010F, 2, 6, {'C', 'a', 'n', 'o', 'n', 0}},
                          {0x011A, 5, 1, b.Rationals({{72, 1}})},
                          {0x0112, 3, 1, b.Words({3})}});
  // Point Make's value at 0xFFFFFFF0 (would wrap a 32-bit sum) and XResolution one byte short.
  const size_t make = 8 + 6 + 2, xres = make + 12;
  payload[make + 8] = payload[make + 9] = payload[make + 10] = 0xFF;
  payload[make + 11] = 0xF0;
  const uint32_t shortBy1 = static_cast<uint32_t>(payload.size() - 6 - 7);
  payload[xres + 8] = static_cast<uint8_t>(shortBy1 >> 24);
  payload[xres + 9] = static_cast<uint8_t>(shortBy1 >> 16);
  payload[xres + 10] = static_cast<uint8_t>(shortBy1 >> 8);
  payload[xres + 11] = static_cast<uint8_t>(shortBy1);
  EXPECT_EQ(Read(payload), std::vector<std::string>{"Orientation=3"});
}

TEST(ExifReader, ADirectoryCutShortKeepsItsWholeEntries) {
  ExifBlockBuilder b(false);
  auto payload = b.Build(
      {{0x0112, 3, 1, b.Words({8})}, {0x0128, 3, 1, b.Words({2})}, {0x0213, 3, 1, b.Words({1})}});
  payload.resize(6 + 8 + 2 + 12 * 2 + 5);  // two whole entries and part of the third
  EXPECT_EQ(Read(payload), (std::vector<std::string>{"Orientation=8", "ResolutionUnit=2"}));
}

TEST(ExifReader, PointersThatLeadBackAreReadOnce) {
  ExifBlockBuilder b(false);
  // The EXIF and GPS pointers both name the main directory itself (offset 8).
  const auto payload = b.Build(
      {{0x0112, 3, 1, b.Words({1})}, {0x8769, 4, 1, b.Longs({8})}, {0x8825, 4, 1, b.Longs({8})}});
  EXPECT_EQ(Read(payload), (std::vector<std::string>{"Orientation=1"}))
      << "a directory is read once, whichever pointers lead to it";
}

TEST(ExifReader, PointerOffsetsAtOrPastTheEndStop) {
  ExifBlockBuilder b(false);
  for (uint32_t pointer : {0u, 0xFFFFFFFAu, 0xFFFFFFFFu}) {
    auto payload = b.Build({{0x0112, 3, 1, b.Words({4})}, {0x8769, 4, 1, b.Longs({0})}});
    const uint32_t value = pointer == 0 ? static_cast<uint32_t>(payload.size() - 6) : pointer;
    const size_t field = 6 + 8 + 2 + 12 + 8;
    for (int i = 0; i < 4; ++i) payload[field + i] = static_cast<uint8_t>(value >> (8 * i));
    EXPECT_EQ(Read(payload), std::vector<std::string>{"Orientation=4"});
  }
}

TEST(ExifReader, ThumbnailOnlyReadsTheThumbnailDirectoryAndPicture) {
  ExifBlockBuilder b(false);
  // IFD1 placed by hand after the block: Compression 6, XResolution 72/1, offset and length.
  auto payload = b.Build({{0x0112, 3, 1, b.Words({1})}});
  const uint32_t ifd1 = static_cast<uint32_t>(payload.size() - 6);
  const uint32_t rational = ifd1 + 2 + 4 * 12 + 4;
  const uint32_t picture = rational + 8;
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  const size_t nextField = 6 + 8 + 2 + 12;
  for (int i = 0; i < 4; ++i) payload[nextField + i] = static_cast<uint8_t>(ifd1 >> (8 * i));
  b.PutWord(payload, 4);
  for (const RawEntry& e :
       {RawEntry{0x0103, 3, 1, b.Words({6, 0})}, RawEntry{0x011A, 5, 1, b.Longs({rational})},
        RawEntry{0x0201, 4, 1, b.Longs({picture})},
        RawEntry{0x0202, 4, 1, b.Longs({static_cast<uint32_t>(jpeg.size())})}}) {
    b.PutWord(payload, e.Tag);
    b.PutWord(payload, e.Type);
    b.PutLong(payload, e.Count);
    payload.insert(payload.end(), e.Data.begin(), e.Data.end());
  }
  b.PutLong(payload, 0);
  b.PutLong(payload, 72);
  b.PutLong(payload, 1);
  payload.insert(payload.end(), jpeg.begin(), jpeg.end());

  TExif exif;
  exif.ThumbnailOnly = true;
  exif.Fields.Add("Make=kept");
  TEXIFThumbnail thumbnail;
  TBEMemoryStream stream(payload);
  ASSERT_TRUE(exif.ReadExif(stream, thumbnail));
  EXPECT_TRUE(exif.HasThumbnail);
  EXPECT_EQ(exif.Fields.Lines(), std::vector<std::string>{"Make=kept"});
  EXPECT_EQ(thumbnail.EntryCount, 4);
  ASSERT_EQ(thumbnail.Entries.size(), 4u);
  EXPECT_EQ(thumbnail.Entries[1].Format, TExifFormat::Rational);
  EXPECT_EQ(thumbnail.Fields.Lines(),
            (std::vector<std::string>{"Compression=6", "XResolution=72/1",
                                      "JpegInterchangeFormat=0", "JpegInterchangeFormatLength=7"}));
  EXPECT_EQ(
      std::vector<uint8_t>(thumbnail.JpegData.Bytes().begin(), thumbnail.JpegData.Bytes().end()),
      jpeg);

  // The same block with the picture length running past the end: no thumbnail.
  payload.resize(payload.size() - 1);
  TBEMemoryStream cut(payload);
  ASSERT_TRUE(exif.ReadExif(cut, thumbnail));
  EXPECT_FALSE(exif.HasThumbnail);
}

}  // namespace
}  // namespace quorvex
