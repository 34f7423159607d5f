// The EXIF writer: the exact layout of the worked examples, directory sorting, value encodings,
// failures, and reading back what was written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/metadata_errors.h"

namespace quorvex {
namespace {

std::vector<uint8_t> Write(const std::vector<std::string>& lines,
                           const TEXIFThumbnail* thumbnail = nullptr, bool hasThumbnail = false) {
  TExif exif;
  for (const auto& line : lines) exif.Fields.Add(line);
  exif.HasThumbnail = hasThumbnail;
  TEXIFThumbnail none;
  TMemoryStream out;
  exif.WriteExif(out, thumbnail ? *thumbnail : none);
  return {out.Bytes().begin(), out.Bytes().end()};
}

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
uint32_t Long(const std::vector<uint8_t>& b, size_t at) {
  return Word(b, at) | uint32_t{Word(b, at + 2)} << 16;
}

TEST(ExifWriter, DescriptionAndExposureTimeLayout) {
  const std::vector<uint8_t> expected = {
      'E',  'x',  'i', 'f', 0,   0, 'I', 'I', 42,  0,   8,   0,
      0,    0,                                                   // header, main directory at 8
      2,    0,                                                   // main directory: 2 entries
      0x0E, 0x01, 2,   0,   4,   0, 0,   0,   'a', 'b', 'c', 0,  // ImageDescription inline
      0x69, 0x87, 4,   0,   1,   0, 0,   0,   38,  0,   0,   0,  // EXIF directory at 38
      0,    0,    0,   0,                                        // no next directory
      1,    0,                                                   // EXIF directory: 1 entry
      0x9A, 0x82, 5,   0,   1,   0, 0,   0,   56,  0,   0,   0,  // ExposureTime at 56
      0,    0,    0,   0,                                        //
      1,    0,    0,   0,   125, 0, 0,   0,                      // 1/125
  };
  EXPECT_EQ(Write({"ImageDescription=abc", "ExposureTime=1/125"}), expected);
}

TEST(ExifWriter, FlashIsAShortPaddedInline) {
  const auto block = Write({"Flash=16"});
  // Main directory: just the EXIF pointer; the EXIF directory follows at 8 + 18 = 26.
  ASSERT_EQ(Long(block, 6 + 8 + 2 + 8), 26u);
  const std::vector<uint8_t> entry(block.begin() + 6 + 26 + 2, block.begin() + 6 + 26 + 14);
  EXPECT_EQ(entry, (std::vector<uint8_t>{0x09, 0x92, 3, 0, 1, 0, 0, 0, 0x10, 0, 0, 0}));
}

TEST(ExifWriter, NothingToWrite) {
  EXPECT_TRUE(Write({}).empty());
  EXPECT_TRUE(Write({"JpegInterchangeFormat=0", "NoSuchTag=1", "=5", "make=lowercase"}).empty())
      << "thumbnail rows, unknown names and names in another case are not written";
}

TEST(ExifWriter, DirectoriesAreSortedAndTheFirstLineWins) {
  const auto block = Write({"Model=M2", "Make=first", "Orientation=1", "Make=second"});
  ASSERT_EQ(Word(block, 14), 3);
  EXPECT_EQ(Word(block, 16), 0x010F);
  EXPECT_EQ(Word(block, 28), 0x0110);
  EXPECT_EQ(Word(block, 40), 0x0112);
  EXPECT_EQ(Long(block, 16 + 4), 6u) << "first=\\0 is 6 bytes";
  EXPECT_EQ(std::string(block.begin() + 6 + Long(block, 16 + 8),
                        block.begin() + 6 + Long(block, 16 + 8) + 5),
            "first");
}

TEST(ExifWriter, GpsPointerSkipsTheExifDirectory) {
  const auto block = Write({"GPSLatitudeRef=N", "ISOSpeedRatings=100", "Software=abcdefgh"});
  // Main: Software (out of line, 9 bytes), EXIF pointer, GPS pointer; 8 + 2 + 36 + 4 = 50.
  ASSERT_EQ(Word(block, 14), 3);
  EXPECT_EQ(Long(block, 14 + 2 + 8), 50u);
  const uint32_t exifAt = Long(block, 14 + 2 + 12 + 8);
  const uint32_t gpsAt = Long(block, 14 + 2 + 24 + 8);
  EXPECT_EQ(exifAt, 59u);
  EXPECT_EQ(gpsAt, 59u + 18u);
  EXPECT_EQ(Word(block, 6 + gpsAt + 2), 0x0001);
  EXPECT_EQ(block.size(), 6u + gpsAt + 18u);
}

TEST(ExifWriter, Encodings) {
  const auto block = Write({"XPTitle=1,2,3,4,5", "ExifVersion=30,32,32,30", "BitsPerSample=8,8,8",
                            "XResolution=72", "ExposureBiasValue=-1/3"});
  TExif exif;
  TEXIFThumbnail thumbnail;
  TBEMemoryStream in(block);
  ASSERT_TRUE(exif.ReadExif(in, thumbnail));
  EXPECT_EQ(exif.Fields.Lines(), (std::vector<std::string>{
                                     "BitsPerSample=8,8,8", "XResolution=72/1", "XPTitle=1,2,3,4,5",
                                     "ExifVersion=30,32,32,30", "ExposureBiasValue=-1/3"}));
}

TEST(ExifWriter, BadItemsRaiseAndWriteNothing) {
  struct Case {
    const char* Line;
    const char* Message;
  };
  for (const Case& c : {Case{"Orientation=up", "'up' is not a valid integer value"},
                        Case{"XResolution=1/2,3", "Error in Exif data"},
                        Case{"ExifVersion=30,zz", "'zz' is not a valid integer value"},
                        Case{"XResolution=a/1", "'a' is not a valid integer value"}}) {
    TExif exif;
    exif.Fields.Add(c.Line);
    TEXIFThumbnail thumbnail;
    TMemoryStream out;
    try {
      exif.WriteExif(out, thumbnail);
      ADD_FAILURE() << c.Line << " was written";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.Message) << c.Line;
      EXPECT_NE(dynamic_cast<const EExifError*>(&e) != nullptr,
                dynamic_cast<const EConvertError*>(&e) != nullptr);
    }
    EXPECT_EQ(out.Size(), 0u);
  }
}

TEST(ExifWriter, ThumbnailDirectoryFollowsWithThePicture) {
  TEXIFThumbnail thumbnail;
  for (const char* line :
       {"Compression=6", "Orientation=1", "XResolution=72", "YResolution=72", "ResolutionUnit=2",
        "JpegInterchangeFormat=0", "JpegInterchangeFormatLength=6"})
    thumbnail.Fields.Add(line);
  thumbnail.EntryCount = 7;
  const uint8_t jpeg[] = {0xFF, 0xD8, 9, 8, 0xFF, 0xD9};
  thumbnail.JpegData.Write(jpeg, sizeof jpeg);
  const auto block = Write({"Make=X"}, &thumbnail, true);

  // Main: 1 entry -> 8 + 18 = 26 is where IFD1 starts; its next-directory field points there.
  EXPECT_EQ(Long(block, 6 + 8 + 2 + 12), 26u);
  EXPECT_EQ(Word(block, 6 + 26), 7);
  const uint32_t values = 26 + 2 + 7 * 12 + 4;
  EXPECT_EQ(Long(block, 6 + 26 + 2 + 2 * 12 + 8), values) << "XResolution";
  EXPECT_EQ(Long(block, 6 + 26 + 2 + 3 * 12 + 8), values + 8) << "YResolution";
  const uint32_t picture = Long(block, 6 + 26 + 2 + 5 * 12 + 8);
  EXPECT_EQ(picture, values + 16);
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 6 + picture, block.end()),
            std::vector<uint8_t>(std::begin(jpeg), std::end(jpeg)));

  TExif reader;
  reader.ThumbnailOnly = true;
  TEXIFThumbnail back;
  TBEMemoryStream in(block);
  ASSERT_TRUE(reader.ReadExif(in, back));
  EXPECT_TRUE(reader.HasThumbnail);
  EXPECT_EQ(back.Fields.Lines(),
            (std::vector<std::string>{"Compression=6", "Orientation=1", "XResolution=72/1",
                                      "YResolution=72/1", "ResolutionUnit=2",
                                      "JpegInterchangeFormat=0", "JpegInterchangeFormatLength=6"}));
  EXPECT_EQ(std::vector<uint8_t>(back.JpegData.Bytes().begin(), back.JpegData.Bytes().end()),
            std::vector<uint8_t>(std::begin(jpeg), std::end(jpeg)));
}

TEST(ExifWriter, PointerEntriesKeepTheMainDirectoryInTagOrder) {
  const auto block = Write({"XPTitle=65,0", "Make=M", "ExposureTime=1/2", "GPSLatitudeRef=N"});
  ASSERT_EQ(Word(block, 14), 4);
  std::vector<uint16_t> tags;
  for (size_t i = 0; i < 4; ++i) tags.push_back(Word(block, 16 + 12 * i));
  EXPECT_EQ(tags, (std::vector<uint16_t>{0x010F, 0x8769, 0x8825, 0x9C9B}));
  TExif reader;
  TEXIFThumbnail thumbnail;
  TBEMemoryStream in(block);
  ASSERT_TRUE(reader.ReadExif(in, thumbnail));
  EXPECT_EQ(
      reader.Fields.Lines(),
      (std::vector<std::string>{"Make=M", "XPTitle=65,0", "ExposureTime=1/2", "GPSLatitudeRef=N"}));
}

TEST(ExifWriter, AnEmptyThumbnailHolderWritesNoThumbnailDirectory) {
  TEXIFThumbnail empty;
  const auto block = Write({"Make=X"}, &empty, true);
  EXPECT_EQ(Long(block, 6 + 8 + 2 + 12), 0u);
  EXPECT_EQ(block, Write({"Make=X"}));
}

// Lines in the order the reader gives them back: main, EXIF, GPS, each by ascending tag.
class ExifRoundTrip : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ExifRoundTrip, ReadGivesBackWhatWasWritten) {
  TExif writer;
  for (const auto& line : GetParam()) writer.Fields.Add(line);
  TEXIFThumbnail thumbnail;
  TMemoryStream out;
  writer.WriteExif(out, thumbnail);
  TExif reader;
  TBEMemoryStream in(std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().end()));
  ASSERT_TRUE(reader.ReadExif(in, thumbnail));
  EXPECT_EQ(reader.Fields, writer.Fields);
}

INSTANTIATE_TEST_SUITE_P(
    FieldSets, ExifRoundTrip,
    ::testing::Values(
        std::vector<std::string>{"Make=Acme", "Model=Q-1000 Mark II", "Orientation=6",
                                 "XResolution=300/1", "YResolution=300/1", "ResolutionUnit=2",
                                 "Software=quorvex 1.0", "DateTime=2024:05:06 07:08:09",
                                 "Copyright=\xC2\xA9 Someone"},
        std::vector<std::string>{
            "ExposureTime=1/250", "FNumber=28/10", "ExposureProgram=2", "ISOSpeedRatings=400",
            "ExifVersion=30,32,33,30", "ComponentsConfiguration=01,02,03,00",
            "ShutterSpeedValue=-7965784/1000000", "ExposureBiasValue=-2/3", "Flash=16",
            "FocalLength=50/1", "SubjectArea=10,20,30,40",
            "UserComment=41,53,43,49,49,00,00,00,68,69", "ColorSpace=1", "PixelXDimension=4000"},
        std::vector<std::string>{
            "GPSVersionID=2,3,0,0", "GPSLatitudeRef=N", "GPSLatitude=51/1,30/1,1234/100",
            "GPSLongitudeRef=W", "GPSLongitude=0/1,7/1,3999/100", "GPSAltitudeRef=0",
            "GPSAltitude=1234/10", "GPSTimeStamp=12/1,34/1,56/1", "GPSDateStamp=2024:05:06"},
        std::vector<std::string>{"ImageDescription=a", "XPTitle=84,0,105,0,116,0",
                                 "ExposureTime=1/8", "ImageUniqueID=0123456789abcdef",
                                 "GPSSpeedRef=K", "GPSSpeed=0/1"},
        std::vector<std::string>{"Make=", "Artist=x,y,z"}));

}  // namespace
}  // namespace quorvex
