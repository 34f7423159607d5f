// AutoOrient, Orientation, KeepMetadata and Metadata through the Resize object, on pictures made by
// Pillow and exiftool (photo_fixtures.py); Pillow shows the oriented pictures, exiftool reads back
// what the object writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using nlohmann::json;
using testing::CommandOutput;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDirectory;

struct Bstr {
  explicit Bstr(const std::string& text) : value(Utf8ToNewBstr(text)) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR value;
};

// Loads by name, or by bytes as VariantIn takes them.
void Load(TResize& resize, const std::string& file, bool byBytes) {
  if (!byBytes) return resize.LoadFromFile(Bstr(file).value);
  const std::vector<uint8_t> bytes = ReadBytes(file);
  VARIANT value;
  V_VT(&value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&value) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(V_ARRAY(&value)->pvData));
  resize.VariantIn(value);
  VariantClear(&value);
}

// The mean absolute difference of every sample between the image and a binary PPM.
double MeanDifference(const TBitmap& image, const std::string& ppm) {
  const std::vector<uint8_t> bytes = ReadBytes(ppm);
  int width = 0, height = 0, consumed = 0;
  if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d 255%n", &width, &height,
                  &consumed) != 2 ||
      width != image.Width() || height != image.Height())
    return 255;
  const uint8_t* rgb = bytes.data() + consumed + 1;
  double total = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x, rgb += 3)
      for (int c = 0; c < 3; ++c) total += std::abs(image.ScanLine(y)[3 * x + 2 - c] - rgb[c]);
  return total / (3.0 * width * height);
}

class ResizeMetadataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    using quorvex_test::Tool;
    if (!quorvex_test::MissingTool({Tool::kPillow, Tool::kExiftool}).empty()) return;
    dir_ = std::make_unique<ScratchDirectory>();
    for (const char* kind : {"oriented", "tagged"})
      RunCommand("/usr/bin/python3 " QUORVEX_PHOTO_FIXTURES " " + std::string(kind) + " '" +
                 dir_->path().string() + "'");
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kPillow, quorvex_test::Tool::kExiftool);
  }
  static std::string File(const std::string& name) { return dir_->File(name); }
  // What exiftool reads from a file, each tag under its group (IFD0:Make).
  static json Tags(const std::string& file) {
    return json::parse(CommandOutput("exiftool -j -n -G1 '" + file + "'")).at(0);
  }

  static inline std::unique_ptr<ScratchDirectory> dir_;
};

TEST_F(ResizeMetadataTest, EveryOrientationGivesTheUprightPicture) {
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE("Orientation " + std::to_string(n));
    const std::string stored = File("stored_" + std::to_string(n) + ".jpg");
    TResize upright, asStored;
    upright.SetAutoOrient(VARIANT_TRUE);
    Load(upright, stored, n % 2 == 0);
    Load(asStored, stored, n % 2 != 0);
    EXPECT_EQ(upright.Orientation(), n);
    EXPECT_EQ(asStored.Orientation(), n);
    EXPECT_EQ(upright.Width(), 64);
    EXPECT_EQ(upright.Height(), 48);
    EXPECT_EQ(asStored.Width(), n >= 5 ? 48 : 64);
    EXPECT_LT(MeanDifference(upright.Image(), File("upright_" + std::to_string(n) + ".ppm")), 1.0);
  }
}

TEST_F(ResizeMetadataTest, AnOrientationOutsideOneToEightCountsAsUpright) {
  for (const int value : {0, 9, 65535}) {
    const std::string file = File("odd_orientation.jpg");
    ASSERT_EQ(RunCommand("exiftool -q -n -Orientation=" + std::to_string(value) + " -o '" + file +
                         "' '" + File("stored_6.jpg") + "'"),
              0);
    TResize resize;
    resize.SetAutoOrient(VARIANT_TRUE);
    Load(resize, file, false);
    EXPECT_EQ(resize.Orientation(), 1) << value;
    EXPECT_EQ(resize.Width(), 48) << value;
    std::filesystem::remove(file);
  }
}

TEST_F(ResizeMetadataTest, LoadThumbnailFollowsAutoOrientAndAFailedLoadKeepsWhatWasFound) {
  for (const bool autoOrient : {false, true}) {
    TResize resize;
    resize.SetAutoOrient(autoOrient ? VARIANT_TRUE : VARIANT_FALSE);
    Bstr name(File("stored_6.jpg"));
    VARIANT source;
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = name.value;
    resize.LoadThumbnail(source, 32, 32);
    EXPECT_EQ(resize.Width(), autoOrient ? 32 : 24);
    EXPECT_EQ(resize.Height(), autoOrient ? 24 : 32);
    EXPECT_EQ(resize.Orientation(), 6);
    EXPECT_ANY_THROW(Load(resize, File("upright_6.ppm"), false));
    EXPECT_EQ(resize.Orientation(), 6);
  }
}

struct KeptCase {
  const char* source;
  bool autoOrient;
  LONG dpi;  // -1 keeps the loaded one
  LONG box;  // 0 keeps the loaded size
  bool gray;
  bool toArray;
  int orientation, width, height, resolution, thumbWidth, thumbHeight;  // thumbWidth 0: none
  bool icc;
};

class KeepMetadata : public ResizeMetadataTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeepMetadata, ExiftoolReadsBackTheLoadedMetadataAdjustedToTheOutput) {
  const KeptCase& c = GetParam();
  TResize resize;
  resize.SetAutoOrient(c.autoOrient ? VARIANT_TRUE : VARIANT_FALSE);
  resize.SetKeepMetadata(VARIANT_TRUE);
  Load(resize, File(c.source), false);
  if (c.dpi >= 0) resize.SetDPI(c.dpi);
  if (c.box > 0) resize.ResizeBox(c.box, c.box);
  resize.SetGrayScale(c.gray ? VARIANT_TRUE : VARIANT_FALSE);
  const std::string out = File("out.jpg");
  if (c.toArray) {
    VARIANT bytes;
    resize.VariantOut(&bytes);
    const auto* data = static_cast<const uint8_t*>(V_ARRAY(&bytes)->pvData);
    testing::WriteBytes(out, {data, data + V_ARRAY(&bytes)->rgsabound[0].cElements});
    VariantClear(&bytes);
  } else {
    resize.SaveToFile(Bstr(out).value);
  }

  const json tags = Tags(out);
  EXPECT_EQ(tags.value("IFD0:Make", ""), "Quux");
  EXPECT_EQ(tags.value("IFD0:Model", ""), "Q 1");
  EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal", ""), "2021:02:03 04:05:06");
  EXPECT_EQ(tags.value("IFD0:Orientation", 0), c.orientation);
  EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth", 0), c.width);
  EXPECT_EQ(tags.value("ExifIFD:ExifImageHeight", 0), c.height);
  EXPECT_EQ(tags.value("File:ImageWidth", 0), c.width);
  EXPECT_EQ(tags.value("IFD0:XResolution", 0), c.resolution);
  EXPECT_EQ(tags.value("IFD0:YResolution", 0), c.resolution);
  EXPECT_EQ(tags.value("IFD0:ResolutionUnit", 0), c.resolution != 0 ? 2 : 0);
  EXPECT_EQ(tags.value("JFIF:XResolution", 0), c.dpi == 0 ? 0 : c.resolution);
  EXPECT_EQ(tags.value("IPTC:Keywords", json()), json({"alpha", "beta"}));
  EXPECT_EQ(tags.contains("IFD1:ThumbnailLength"), c.thumbWidth != 0);
  if (c.thumbWidth != 0) {
    ASSERT_EQ(RunCommand("exiftool -b -ThumbnailImage '" + out + "' > '" + File("t.jpg") + "'"), 0);
    const json thumb = Tags(File("t.jpg"));
    EXPECT_EQ(thumb.value("File:ImageWidth", 0), c.thumbWidth);
    EXPECT_EQ(thumb.value("File:ImageHeight", 0), c.thumbHeight);
  }
  ASSERT_EQ(RunCommand("exiftool -b -ICC_Profile '" + out + "' > '" + File("out.icc") + "'"), 0);
  EXPECT_EQ(ReadBytes(File("out.icc")) == ReadBytes(File("profile.icc")), c.icc);
}

// tagged.jpg: 120x160 stored, Orientation 6, 300 dpi, a 16x12 thumbnail; bare.jpg the same
// without the thumbnail. A rebuilt thumbnail is a tenth of the output's size.
INSTANTIATE_TEST_SUITE_P(
    Cases, KeepMetadata,
    ::testing::Values(
        KeptCase{"tagged.jpg", false, -1, 0, false, false, 6, 120, 160, 300, 12, 16, true},
        KeptCase{"tagged.jpg", true, 150, 80, false, true, 1, 80, 60, 150, 8, 6, true},
        // Without a DPI the resolution fields stay as the source had them (they are required).
        KeptCase{"bare.jpg", false, 0, 0, false, true, 6, 120, 160, 300, 0, 0, true},
        KeptCase{"bare.jpg", true, 72, 0, false, false, 1, 160, 120, 72, 0, 0, true},
        // An RGB profile does not describe a grayscale picture.
        KeptCase{"tagged.jpg", true, -1, 0, true, true, 1, 160, 120, 300, 16, 12, false}));

TEST_F(ResizeMetadataTest, WithoutKeepMetadataTheOutputIsThatOfAFileWithoutMetadata) {
  const std::string stripped = File("stripped.jpg");
  ASSERT_EQ(RunCommand("exiftool -q -q -all= -tagsfromfile @ -jfif:all -o '" + stripped + "' '" +
                       File("tagged.jpg") + "'"),
            0);
  auto output = [](const std::string& file, bool keep) {
    TResize resize;
    Load(resize, file, false);
    resize.SetKeepMetadata(keep ? VARIANT_TRUE : VARIANT_FALSE);
    VARIANT bytes;
    resize.VariantOut(&bytes);
    const auto* data = static_cast<const uint8_t*>(V_ARRAY(&bytes)->pvData);
    std::vector<uint8_t> result(data, data + V_ARRAY(&bytes)->rgsabound[0].cElements);
    VariantClear(&bytes);
    return result;
  };
  EXPECT_EQ(output(File("tagged.jpg"), false), output(stripped, false));
  EXPECT_EQ(output(stripped, true), output(stripped, false));
  EXPECT_NE(output(File("tagged.jpg"), true), output(stripped, false));
}

// One field of Metadata and where exiftool -j -n -G1 has it.
struct ReadField {
  const char* group;  // "" for the object's top level
  const char* name;
  const char* exiftool;
};

// exiftool's reading as a person reads it: dates in ISO 8601, sampling in J:a:b notation, the
// four-letter ICC signatures without their padding.
json AsRead(const std::string& name, json value) {
  if (!value.is_string()) return value;
  std::string text = value.get<std::string>();
  if ((name.starts_with("DateTime") || name == "GPSDateStamp") && text.size() >= 10) {
    text[4] = text[7] = '-';
    if (text.size() >= 19) text[10] = 'T';
  }
  if (name == "ChromaSampling") text = text == "2 2" ? "4:2:0" : text == "2 1" ? "4:2:2" : "4:4:4";
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TEST_F(ResizeMetadataTest, MetadataReadsEveryPartAsExiftoolDoes) {
  const std::vector<ReadField> fields = {
      {"EXIF", "Make", "IFD0:Make"},
      {"EXIF", "XResolution", "IFD0:XResolution"},
      {"EXIF", "Orientation", "IFD0:Orientation"},
      {"EXIF", "ExifVersion", "ExifIFD:ExifVersion"},
      {"EXIF", "FNumber", "ExifIFD:FNumber"},
      {"EXIF", "ExposureTime", "ExifIFD:ExposureTime"},
      {"EXIF", "ExposureBiasValue", "ExifIFD:ExposureCompensation"},
      {"EXIF", "DateTimeOriginal", "ExifIFD:DateTimeOriginal"},
      {"GPS", "GPSLatitude", "Composite:GPSLatitude"},
      {"GPS", "GPSLongitude", "Composite:GPSLongitude"},
      {"GPS", "GPSAltitude", "Composite:GPSAltitude"},
      {"GPS", "GPSTimeStamp", "GPS:GPSTimeStamp"},
      {"GPS", "GPSDateStamp", "GPS:GPSDateStamp"},
      {"IPTC", "City", "IPTC:City"},
      {"IPTC", "Keywords", "IPTC:Keywords"},
      {"XMP", "dc:title", "XMP-dc:Title"},
      {"XMP", "dc:creator", "XMP-dc:Creator"},
      {"ICC", "ProfileDescription", "ICC_Profile:ProfileDescription"},
      {"ICC", "ColorSpaceData", "ICC-header:ColorSpaceData"},
      {"ICC", "ProfileClass", "ICC-header:ProfileClass"},
      {"", "ProfileDescription", "ICC_Profile:ProfileDescription"},
      {"", "ChromaSampling", "File:YCbCrSubSampling"},
  };
  TResize resize;
  Load(resize, File("described.jpg"), false);
  const json metadata = json::parse(resize.Metadata());
  const json tags = Tags(File("described.jpg"));
  for (const ReadField& field : fields) {
    SCOPED_TRACE(field.exiftool);
    const json& group = *field.group != 0 ? metadata.at(field.group) : metadata;
    ASSERT_TRUE(group.contains(field.name)) << metadata.dump();
    const json expected = AsRead(field.name, tags.at(field.exiftool));
    const json& actual = group.at(field.name);
    if (expected.is_number())
      EXPECT_NEAR(actual.get<double>(), expected.get<double>(), 1e-6);
    else
      EXPECT_EQ(actual, expected);
  }
  EXPECT_EQ(metadata.at("GPS").at("GPSLatitude").get<double>() < 0, true);
}

TEST_F(ResizeMetadataTest, MetadataTellsHowThePictureIsCoded) {
  struct Case {
    const char* file;
    bool byBytes;
    const char* sampling;
  };
  for (const Case c : {Case{"progressive.jpg", true, "2 1"}, Case{"bare.jpg", false, "2 2"}}) {
    SCOPED_TRACE(c.file);
    TResize resize;
    EXPECT_EQ(resize.Metadata(), "{}");
    Load(resize, File(c.file), c.byBytes);
    const json metadata = json::parse(resize.Metadata());
    const json tags = Tags(File(c.file));
    EXPECT_EQ(metadata.at("Progressive"), tags.at("File:EncodingProcess") == 2);
    EXPECT_EQ(metadata.at("ColorSpace"), "YCbCr");
    EXPECT_EQ(metadata.at("ChromaSampling"), AsRead("ChromaSampling", c.sampling));
    EXPECT_EQ(metadata.at("Quality"), resize.SourceQuality());
    // A transform changes the picture, not what its file held.
    resize.ScaleImage(50);
    EXPECT_EQ(json::parse(resize.Metadata()), metadata);
  }
}

}  // namespace
}  // namespace quorvex
