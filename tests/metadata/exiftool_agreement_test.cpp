// Reading agrees with an independent reader: for sample files written by exiftool and
// ImageMagick (tests/data/metadata, see its README), every EXIF line, IPTC field and ICC profile
// the project reads is what exiftool reported for the same file (its -j -n -G1 output is
// committed beside each file), numbers compared as numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/number_text.h"
#include "jpegextra/metadata/rational.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

using nlohmann::json;

const std::string kDataDir = std::string(QUORVEX_SOURCE_DIR) + "/tests/data/metadata/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, separator)) items.push_back(item);
  return items;
}

// Bytes of an Undefined value text ("30,32,33,32").
std::string HexBytes(const std::string& text) {
  std::string bytes;
  for (const std::string& item : Split(text, ','))
    bytes.push_back(static_cast<char>(*ParseHex(item)));
  return bytes;
}

double Number(const json& value) {
  return value.is_number() ? value.get<double>() : std::stod(value.get<std::string>());
}

std::string TextOf(const json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

bool Near(double a, double b) {
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b));
}

enum class Kind {
  Text,
  Number,
  List,
  UndefinedText,
  UndefinedList,
  UserComment,
  ApexExposure,
  ApexAperture,
  Degrees,
  Clock
};

struct ExifTag {
  const char* Exiftool;
  Kind How;
};

// Our line names and the tag exiftool reports for the same entry.
const std::map<std::string, ExifTag>& ExifTags() {
  static const std::map<std::string, ExifTag> tags = {
      {"ImageDescription", {"IFD0:ImageDescription", Kind::Text}},
      {"Make", {"IFD0:Make", Kind::Text}},
      {"Model", {"IFD0:Model", Kind::Text}},
      {"Orientation", {"IFD0:Orientation", Kind::Number}},
      {"XResolution", {"IFD0:XResolution", Kind::Number}},
      {"YResolution", {"IFD0:YResolution", Kind::Number}},
      {"ResolutionUnit", {"IFD0:ResolutionUnit", Kind::Number}},
      {"Software", {"IFD0:Software", Kind::Text}},
      {"DateTime", {"IFD0:ModifyDate", Kind::Text}},
      {"Artist", {"IFD0:Artist", Kind::Text}},
      {"YCbCrPositioning", {"IFD0:YCbCrPositioning", Kind::Number}},
      {"Copyright", {"IFD0:Copyright", Kind::Text}},
      {"ExposureTime", {"ExifIFD:ExposureTime", Kind::Number}},
      {"FNumber", {"ExifIFD:FNumber", Kind::Number}},
      {"ExposureProgram", {"ExifIFD:ExposureProgram", Kind::Number}},
      {"ISOSpeedRatings", {"ExifIFD:ISO", Kind::Number}},
      {"ExifVersion", {"ExifIFD:ExifVersion", Kind::UndefinedText}},
      {"DateTimeOriginal", {"ExifIFD:DateTimeOriginal", Kind::Text}},
      {"DateTimeDigitized", {"ExifIFD:CreateDate", Kind::Text}},
      {"ComponentsConfiguration", {"ExifIFD:ComponentsConfiguration", Kind::UndefinedList}},
      {"ShutterSpeedValue", {"ExifIFD:ShutterSpeedValue", Kind::ApexExposure}},
      {"ApertureValue", {"ExifIFD:ApertureValue", Kind::ApexAperture}},
      {"ExposureBiasValue", {"ExifIFD:ExposureCompensation", Kind::Number}},
      {"MaxApertureValue", {"ExifIFD:MaxApertureValue", Kind::ApexAperture}},
      {"MeteringMode", {"ExifIFD:MeteringMode", Kind::Number}},
      {"Flash", {"ExifIFD:Flash", Kind::Number}},
      {"FocalLength", {"ExifIFD:FocalLength", Kind::Number}},
      {"UserComment", {"ExifIFD:UserComment", Kind::UserComment}},
      {"SubSecTimeOriginal", {"ExifIFD:SubSecTimeOriginal", Kind::Text}},
      {"FlashPixVersion", {"ExifIFD:FlashpixVersion", Kind::UndefinedText}},
      {"ColorSpace", {"ExifIFD:ColorSpace", Kind::Number}},
      {"PixelXDimension", {"ExifIFD:ExifImageWidth", Kind::Number}},
      {"PixelYDimension", {"ExifIFD:ExifImageHeight", Kind::Number}},
      {"WhiteBalance", {"ExifIFD:WhiteBalance", Kind::Number}},
      {"FocalLengthIn35mmFilm", {"ExifIFD:FocalLengthIn35mmFormat", Kind::Number}},
      {"SceneCaptureType", {"ExifIFD:SceneCaptureType", Kind::Number}},
      {"GPSVersionID", {"GPS:GPSVersionID", Kind::List}},
      {"GPSLatitudeRef", {"GPS:GPSLatitudeRef", Kind::Text}},
      {"GPSLatitude", {"GPS:GPSLatitude", Kind::Degrees}},
      {"GPSLongitudeRef", {"GPS:GPSLongitudeRef", Kind::Text}},
      {"GPSLongitude", {"GPS:GPSLongitude", Kind::Degrees}},
      {"GPSAltitudeRef", {"GPS:GPSAltitudeRef", Kind::Number}},
      {"GPSAltitude", {"GPS:GPSAltitude", Kind::Number}},
      {"GPSTimeStamp", {"GPS:GPSTimeStamp", Kind::Clock}},
      {"GPSDateStamp", {"GPS:GPSDateStamp", Kind::Text}},
      {"GPSMapDatum", {"GPS:GPSMapDatum", Kind::Text}},
  };
  return tags;
}

std::vector<double> Rationals(const std::string& ours) {
  std::vector<double> values;
  for (const std::string& item : Split(ours, ',')) values.push_back(RationalToFloat(item));
  return values;
}

// Whether our value text means what exiftool printed, with exiftool's value conversions
// (APEX values, degrees, clock time) applied to ours.
::testing::AssertionResult Agrees(Kind how, const std::string& ours, const json& theirs) {
  bool same = false;
  switch (how) {
    case Kind::Text:
      same = theirs.is_number() ? Near(std::stod(ours), theirs.get<double>())
                                : ours == theirs.get<std::string>();
      break;
    case Kind::Number:
      same = Near(RationalToFloat(ours), Number(theirs));
      break;
    case Kind::List: {
      const auto a = Split(ours, ','), b = Split(TextOf(theirs), ' ');
      same = a.size() == b.size();
      for (size_t i = 0; same && i < a.size(); ++i) same = std::stod(a[i]) == std::stod(b[i]);
      break;
    }
    case Kind::UndefinedText:
      same = HexBytes(ours) == TextOf(theirs);
      break;
    case Kind::UndefinedList: {
      std::string joined;
      for (char c : HexBytes(ours))
        joined += (joined.empty() ? "" : " ") + std::to_string(static_cast<uint8_t>(c));
      same = joined == TextOf(theirs);
      break;
    }
    case Kind::UserComment: {
      std::string text = HexBytes(ours).substr(8);  // after the character-code prefix
      while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
      same = text == TextOf(theirs);
      break;
    }
    case Kind::ApexExposure:
      same = Near(std::pow(2.0, -RationalToFloat(ours)), Number(theirs));
      break;
    case Kind::ApexAperture:
      same = Near(std::pow(2.0, RationalToFloat(ours) / 2), Number(theirs));
      break;
    case Kind::Degrees: {
      const auto dms = Rationals(ours);
      same = dms.size() == 3 && Near(dms[0] + dms[1] / 60 + dms[2] / 3600, Number(theirs));
      break;
    }
    case Kind::Clock: {
      const auto hms = Rationals(ours);
      char text[16];
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(hms.at(0)), int(hms.at(1)),
                    int(hms.at(2)));
      same = text == TextOf(theirs);
      break;
    }
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "ours " << ours << ", exiftool " << theirs.dump();
}

std::string DateText(const TIptcDate& d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d", d.Year, d.Month, d.Day);
  return text;
}

std::string TimeText(const TIptcTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
  return text;
}

std::vector<std::string> ListOf(const json& value) {
  if (value.is_array()) {
    std::vector<std::string> items;
    for (const json& item : value) items.push_back(TextOf(item));
    return items;
  }
  return {TextOf(value)};
}

class ExiftoolAgreement : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string name = GetParam();
    const std::string bytes = ReadFile(kDataDir + name + ".jpg");
    ASSERT_FALSE(bytes.empty()) << name;
    TMemoryStream in(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    image_.SetUseIccProfile(true);
    image_.LoadFromStream(in);
    theirs_ = json::parse(ReadFile(kDataDir + name + ".json")).at(0);
  }

  TJPEGImageExtra image_;
  json theirs_;
};

TEST_P(ExiftoolAgreement, ExifLines) {
  const TStringList& fields = image_.Exif().Fields;
  for (const std::string& line : fields) {
    const std::string name(TStringList::NameOf(line));
    const auto tag = ExifTags().find(name);
    ASSERT_NE(tag, ExifTags().end()) << "no exiftool name known for " << name;
    ASSERT_TRUE(theirs_.contains(tag->second.Exiftool)) << name << " is not what exiftool saw";
    EXPECT_TRUE(Agrees(tag->second.How, std::string(TStringList::ValueOf(line)),
                       theirs_[tag->second.Exiftool]))
        << name;
  }
  for (const auto& [name, tag] : ExifTags())
    if (theirs_.contains(tag.Exiftool)) {
      EXPECT_GE(fields.IndexOfName(name), 0) << name << " was not read";
    }
}

TEST_P(ExiftoolAgreement, Resolution) {
  // Loading takes the JFIF density in dots per inch, replaced by the EXIF resolution when 1.
  uint32_t expected = 0;
  if (theirs_.value("JFIF:ResolutionUnit", 0) == 1) {
    expected = theirs_["JFIF:XResolution"].get<uint32_t>();
    if (expected == 1 && theirs_.contains("IFD0:XResolution"))
      expected = static_cast<uint32_t>(std::nearbyint(Number(theirs_["IFD0:XResolution"])));
  }
  EXPECT_EQ(image_.GetXDPI(), expected);
}

TEST_P(ExiftoolAgreement, IptcFields) {
  const TFileInfo& info = image_.FileInfo();
  const std::map<std::string, const std::string*> texts = {
      {"IPTC:ObjectName", &info.ObjectName},
      {"IPTC:EditStatus", &info.EditStatus},
      {"IPTC:Category", &info.Category},
      {"IPTC:FixtureIdentifier", &info.FixtureIdentifier},
      {"IPTC:SpecialInstructions", &info.SpecialInstructions},
      {"IPTC:ReferenceService", &info.ReferenceService},
      {"IPTC:ReferenceNumber", &info.ReferenceNumber},
      {"IPTC:OriginatingProgram", &info.OriginatingProgram},
      {"IPTC:ProgramVersion", &info.ProgramVersion},
      {"IPTC:ObjectCycle", &info.ObjectCycle},
      {"IPTC:By-line", &info.Byline},
      {"IPTC:By-lineTitle", &info.BylineTitle},
      {"IPTC:City", &info.City},
      {"IPTC:Sub-location", &info.SubLocation},
      {"IPTC:Province-State", &info.ProvinceState},
      {"IPTC:Country-PrimaryLocationCode", &info.CountryCode},
      {"IPTC:Country-PrimaryLocationName", &info.CountryName},
      {"IPTC:OriginalTransmissionReference", &info.TransmissionReference},
      {"IPTC:Headline", &info.Headline},
      {"IPTC:Credit", &info.Credit},
      {"IPTC:Source", &info.Source},
      {"IPTC:CopyrightNotice", &info.CopyrightNotice},
      {"IPTC:Caption-Abstract", &info.Caption},
      {"IPTC:Writer-Editor", &info.CaptionWriter},
      {"Photoshop:URL", &info.Url},
  };
  for (const auto& [tag, field] : texts)
    EXPECT_EQ(*field, theirs_.contains(tag) ? TextOf(theirs_[tag]) : std::string()) << tag;
  EXPECT_EQ(info.Urgency, theirs_.contains("IPTC:Urgency") ? Number(theirs_["IPTC:Urgency"]) : 0);
  EXPECT_EQ(info.Keywords, theirs_.contains("IPTC:Keywords") ? ListOf(theirs_["IPTC:Keywords"])
                                                             : std::vector<std::string>{});
  EXPECT_EQ(info.SupplementalCategories, theirs_.contains("IPTC:SupplementalCategories")
                                             ? ListOf(theirs_["IPTC:SupplementalCategories"])
                                             : std::vector<std::string>{});
  const std::map<std::string, const TIptcDate*> dates = {
      {"IPTC:DateCreated", &info.DateCreated},
      {"IPTC:ReleaseDate", &info.ReleaseDate},
      {"IPTC:ReferenceDate", &info.ReferenceDate}};
  for (const auto& [tag, date] : dates) {
    if (theirs_.contains(tag))
      EXPECT_EQ(DateText(*date), TextOf(theirs_[tag])) << tag;
    else
      EXPECT_TRUE(date->IsNone()) << tag;
  }
  const std::map<std::string, const TIptcTime*> times = {{"IPTC:TimeCreated", &info.TimeCreated},
                                                         {"IPTC:ReleaseTime", &info.ReleaseTime}};
  for (const auto& [tag, time] : times) {
    if (theirs_.contains(tag))
      EXPECT_EQ(TimeText(*time), TextOf(theirs_[tag]).substr(0, 8))
          << tag << ": the zone is not kept";
    else
      EXPECT_TRUE(time->IsNone()) << tag;
  }
  EXPECT_EQ(info.CopyrightFlag, theirs_.value("Photoshop:CopyrightFlag", 0) == 1);
  bool photoshop = false;
  for (const auto& [key, value] : theirs_.items())
    photoshop = photoshop || key.rfind("IPTC:", 0) == 0 || key.rfind("Photoshop:", 0) == 0;
  EXPECT_EQ(info.HasPhotoshopData, photoshop);
}

TEST_P(ExiftoolAgreement, IccProfile) {
  const std::string expected = ReadFile(kDataDir + GetParam() + ".icc");  // empty when none
  const auto bytes = image_.IccProfile().ProfileData.Bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
  if (theirs_.contains("ICC-header:ProfileVersion")) {
    EXPECT_FALSE(expected.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, ExiftoolAgreement,
                         ::testing::Values("exif_intel", "exif_motorola", "iptc", "icc", "icc_big",
                                           "combined"));

std::string Capture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

// The other way round: what this project writes, exiftool reads back the same, without
// warnings. Runs exiftool at test time.
TEST(ExiftoolAgreement, ExiftoolReadsWhatWeWrite) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kExiftool);
  auto picture = std::make_unique<TBitmap>();
  picture->SetPixelFormat(TPixelFormat::pf24bit);
  picture->SetSize(320, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320 * 3; ++x) picture->Row(y)[x] = static_cast<uint8_t>(x ^ y);
  TJPEGImageExtra image;
  image.Assign(*picture);
  for (const char* line : {"Make=Quorvex",
                           "Model=QX \xC3\xA9",
                           "Orientation=1",
                           "XResolution=300/1",
                           "YResolution=300/1",
                           "ResolutionUnit=2",
                           "XPTitle=84,0,105,0",
                           "ExposureTime=1/250",
                           "FNumber=28/10",
                           "ISOSpeedRatings=400",
                           "ExifVersion=30,32,33,30",
                           "ComponentsConfiguration=01,02,03,00",
                           "ShutterSpeedValue=7965784/1000000",
                           "ExposureBiasValue=-2/3",
                           "Flash=16",
                           "FocalLength=50/1",
                           "SubjectArea=10,20,30,40",
                           "GPSVersionID=2,3,0,0",
                           "GPSLatitudeRef=N",
                           "GPSLatitude=51/1,30/1,1234/100",
                           "GPSAltitude=1234/10",
                           "GPSTimeStamp=12/1,34/1,56/1",
                           "GPSDateStamp=2024:05:06",
                           "YCbCrPositioning=1",
                           "FlashPixVersion=30,31,30,30",
                           "ColorSpace=1",
                           "PixelXDimension=320",
                           "PixelYDimension=200"})
    image.Exif().Fields.Add(line);
  TFileInfo& info = image.FileInfo();
  // IPTC text goes out as the system's bytes with no character-set dataset, which other
  // readers take for Latin-1; keep to ASCII here.
  info.Caption = "caption, with comma";
  info.Keywords = {"one", "two"};
  info.City = "Berlin";
  info.DateCreated = {2024, 5, 6};
  info.TimeCreated = {14, 30, 0};
  info.Urgency = 2;
  info.Url = "https://example.invalid/";
  info.CopyrightFlag = true;
  info.HasPhotoshopData = true;
  image.SetUseIccProfile(true);
  const std::string profile = ReadFile(kDataDir + "icc_big.icc");
  image.IccProfile().ProfileData.Write(profile.data(), profile.size());
  image.SetCreateThumbnail(true);
  TMemoryStream out;
  image.SaveToStream(out);

  // Other checkouts may run this test at the same time in the same temporary directory.
  const std::string path =
      ::testing::TempDir() + "quorvex_written_by_us_" + std::to_string(::getpid()) + ".jpg";
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.Memory()),
               static_cast<std::streamsize>(out.Size()));
  }
  const json theirs = json::parse(Capture("exiftool -j -n -G1 " + path)).at(0);
  // Every warning exiftool's validation has is a minor one: the unpadded value offsets of the
  // block layout and the HH:MM:SS form of the IPTC times.
  const std::string warnings = Capture("exiftool -validate -warning -a -s3 " + path);
  std::remove(path.c_str());
  for (const std::string& warning : Split(warnings, '\n'))
    if (warning.rfind("[minor]", 0) != 0 && warning.find("Warnings (") == std::string::npos &&
        warning != "OK")
      ADD_FAILURE() << warning;

  for (const std::string& line : image.Exif().Fields) {
    const std::string name(TStringList::NameOf(line));
    const auto& tag = ExifTags().count(name) ? ExifTags().at(name) : ExifTag{"", Kind::Text};
    if (*tag.Exiftool == '\0') continue;  // XPTitle, SubjectArea: exiftool shows them converted
    ASSERT_TRUE(theirs.contains(tag.Exiftool)) << name;
    EXPECT_TRUE(Agrees(tag.How, std::string(TStringList::ValueOf(line)), theirs[tag.Exiftool]))
        << name;
  }
  EXPECT_EQ(TextOf(theirs["IPTC:Caption-Abstract"]), info.Caption);
  EXPECT_EQ(ListOf(theirs["IPTC:Keywords"]), info.Keywords);
  EXPECT_EQ(TextOf(theirs["IPTC:City"]), "Berlin");
  EXPECT_EQ(TextOf(theirs["IPTC:DateCreated"]), "2024:05:06");
  EXPECT_EQ(TextOf(theirs["IPTC:TimeCreated"]).substr(0, 8), "14:30:00");
  EXPECT_EQ(Number(theirs["IPTC:Urgency"]), 2);
  EXPECT_EQ(TextOf(theirs["Photoshop:URL"]), info.Url);
  EXPECT_EQ(Number(theirs["Photoshop:CopyrightFlag"]), 1);
  EXPECT_EQ(Number(theirs["IFD1:Compression"]), 6);
  EXPECT_EQ(Number(theirs["IFD1:ThumbnailLength"]), image.Thumbnail().JpegData.Size());
  EXPECT_EQ(Number(theirs["ICC-header:ProfileFileSignature"] == "acsp" ? json(1) : json(0)), 1);
}

TEST(ExiftoolAgreement, SamplesHoldWhatTheyClaim) {
  // Guards against an empty sample making the comparisons above vacuous.
  TJPEGImageExtra image;
  const std::string bytes = ReadFile(kDataDir + "combined.jpg");
  TMemoryStream in(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  image.SetUseIccProfile(true);
  image.LoadFromStream(in);
  EXPECT_GE(image.Exif().Fields.Count(), 40u);
  EXPECT_EQ(image.FileInfo().Keywords.size(), 3u);
  EXPECT_EQ(image.IccProfile().Size(), 588);
}

}  // namespace
}  // namespace quorvex
