// ConvertToSRGB and ColorProfile through the Resize object, against ImageMagick's conversion of
// the same pictures to sRGB (color_fixtures.py), measured in CIEDE2000 by scikit-image.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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

const std::string kFixtures = "/usr/bin/python3 " QUORVEX_COLOR_FIXTURES " ";

struct Bstr {
  explicit Bstr(const std::string& text) : value(Utf8ToNewBstr(text)) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR value;
};

class Variant {
 public:
  explicit Variant(const std::string& file) {
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = Utf8ToNewBstr(file);
  }
  explicit Variant(const std::vector<uint8_t>& bytes) {
    V_VT(&value_) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value_) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(V_ARRAY(&value_)->pvData));
  }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

// The image as the red, green and blue rows of a binary PPM.
std::vector<uint8_t> RgbRows(const TBitmap& image) {
  std::vector<uint8_t> rgb;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.ScanLine(y);
    for (int32_t x = 0; x < image.Width(); ++x) {
      if (image.PixelFormat() == TPixelFormat::pf8bit) {
        const TPaletteEntry entry = image.Palette()[row[x]];
        rgb.insert(rgb.end(), {entry.Red, entry.Green, entry.Blue});
      } else {
        rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      }
    }
  }
  return rgb;
}

void WritePpm(const TBitmap& image, const std::string& file) {
  std::ofstream out(file, std::ios::binary);
  out << "P6\n" << image.Width() << ' ' << image.Height() << "\n255\n";
  const std::vector<uint8_t> rgb = RgbRows(image);
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

struct Case {
  const char* name;
  const char* description;  // what ColorProfile reports
};

const Case kCases[] = {
    {"adobe-rgb", "Compatible with Adobe RGB (1998)"},
    {"adobe-rgb-v2", "Compatible with Adobe RGB (1998)"},
    {"prophoto", "ProPhoto RGB"},
    {"wide-gamut", "Wide Gamut RGB"},
    {"gray", "Gray"},
    {"cmyk-swop", "Artifex CMYK SWOP Profile"},
    // No profile: the default CMYK profile converts, and there is nothing to describe.
    {"cmyk-bare", ""},
};

class ColorConversionTest : public ::testing::TestWithParam<Case> {
 protected:
  // The pictures take a while to make, and each case runs in a process of its own: they are
  // made once for the script as it stands and moved into place whole.
  static void SetUpTestSuite() {
    using quorvex_test::Tool;
    namespace fs = std::filesystem;
    if (!quorvex_test::MissingTool({Tool::kPillow, Tool::kImageMagick}).empty()) return;
    const std::vector<uint8_t> script = ReadBytes(QUORVEX_COLOR_FIXTURES);
    const size_t stamp = std::hash<std::string>()(std::string(script.begin(), script.end()));
    fixtures_ = fs::path(QUORVEX_COLOR_FIXTURE_DIR) / std::to_string(stamp);
    scratch_ = std::make_unique<ScratchDirectory>();
    if (fs::exists(fixtures_)) return;
    const fs::path made = scratch_->path() / "made";
    fs::create_directories(made);
    ASSERT_EQ(RunCommand(kFixtures + "make '" + made.string() + "'"), 0);
    fs::create_directories(fixtures_.parent_path());
    std::error_code taken;  // another process may have put its own in place first
    fs::rename(made, fixtures_, taken);
  }
  static void TearDownTestSuite() { scratch_.reset(); }
  void SetUp() override {
    using quorvex_test::Tool;
    QUORVEX_REQUIRE_TOOLS(Tool::kPillow, Tool::kImageMagick);
  }

  static std::string File(const std::string& name) { return (fixtures_ / name).string(); }
  static std::string Scratch(const std::string& name) { return scratch_->File(name); }

  // CIEDE2000 of the image against a picture file: mean and maximum.
  static json Difference(const TBitmap& image, const std::string& reference,
                         const std::string& scratch) {
    WritePpm(image, Scratch(scratch));
    return json::parse(
        CommandOutput(kFixtures + "compare '" + Scratch(scratch) + "' '" + reference + "'"));
  }

  static void ExpectWithinBounds(const json& difference) {
    ASSERT_TRUE(difference.contains("mean")) << difference.dump();
    EXPECT_LE(difference["mean"].get<double>(), 1.0) << difference.dump();
    EXPECT_LE(difference["max"].get<double>(), 3.0) << difference.dump();
  }

  static std::filesystem::path fixtures_;
  static std::unique_ptr<ScratchDirectory> scratch_;
};

std::filesystem::path ColorConversionTest::fixtures_;
std::unique_ptr<ScratchDirectory> ColorConversionTest::scratch_;

TEST_P(ColorConversionTest, LoadsConvertAsAnIndependentConversionDoes) {
  const std::string name = GetParam().name;
  TResize resize;
  resize.SetConvertToSRGB(VARIANT_TRUE);
  resize.VariantIn(Variant(ReadBytes(File(name + ".jpg"))).get());
  EXPECT_EQ(resize.ColorProfile(), GetParam().description);
  ExpectWithinBounds(Difference(resize.Image(), File(name + ".ref.png"), "full.ppm"));
}

// A thumbnail of the source converted (after its shrink where that is cheaper) against the same
// thumbnail of the picture converted before it.
TEST_P(ColorConversionTest, ThumbnailsConvertWithinTheSameBounds) {
  const std::string name = GetParam().name;
  TResize converted;
  converted.SetConvertToSRGB(VARIANT_TRUE);
  converted.LoadThumbnail(Variant(File(name + ".jpg")).get(), 200, 200);
  TResize reference;
  reference.LoadThumbnail(Variant(File(name + ".srgb.jpg")).get(), 200, 200);
  ASSERT_EQ(converted.Width(), reference.Width());
  WritePpm(reference.Image(), Scratch("thumbref.ppm"));
  ExpectWithinBounds(Difference(converted.Image(), Scratch("thumbref.ppm"), "thumb.ppm"));
}

INSTANTIATE_TEST_SUITE_P(Profiles, ColorConversionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

// Conversion off, or a profile that cannot convert these pixels: the pixels are those of the
// same picture without any profile, and the load succeeds.
struct Unchanged {
  const char* file;
  const char* plain;  // the same picture without a profile
  bool convert;
  const char* description;
};

class UnchangedPixelsTest : public ColorConversionTest {};

TEST_F(UnchangedPixelsTest, KeepThePixelsOfThePictureWithoutProfile) {
  const Unchanged cases[] = {
      {"adobe-rgb.jpg", "plain-rgb.jpg", false, "Compatible with Adobe RGB (1998)"},
      {"broken.jpg", "plain-rgb.jpg", true, ""},
      {"gray-rgb-profile.jpg", "plain-gray.jpg", true, ""},
      {"gray.jpg", "plain-gray.jpg", false, "Gray"},
  };
  for (const Unchanged& c : cases) {
    SCOPED_TRACE(c.file);
    TResize resize, plain;
    resize.SetConvertToSRGB(c.convert ? VARIANT_TRUE : VARIANT_FALSE);
    resize.LoadFromFile(Bstr(File(c.file)).value);
    plain.LoadFromFile(Bstr(File(c.plain)).value);
    EXPECT_EQ(resize.ColorProfile(), c.description);
    EXPECT_TRUE(RgbRows(resize.Image()) == RgbRows(plain.Image()));
  }
}

// Kept metadata keeps the profile only while the pixels are still in its colour space, and the
// EXIF colour space fields say sRGB once they are.
TEST_F(UnchangedPixelsTest, ConvertedOutputCarriesNoProfile) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kExiftool);
  const std::string source = Scratch("tagged.jpg");
  ASSERT_EQ(RunCommand("exiftool -q -o '" + source + "' -ColorSpace=65535 -InteropIndex=R03 '" +
                       File("prophoto.jpg") + "'"),
            0);
  for (const bool convert : {false, true}) {
    SCOPED_TRACE(convert);
    TResize resize;
    resize.SetKeepMetadata(VARIANT_TRUE);
    resize.SetConvertToSRGB(convert ? VARIANT_TRUE : VARIANT_FALSE);
    resize.LoadFromFile(Bstr(source).value);
    resize.ResizeBox(100, 100);
    const std::string out = Scratch(convert ? "converted.jpg" : "kept.jpg");
    resize.SaveToFile(Bstr(out).value);
    const std::vector<uint8_t> bytes = ReadBytes(out);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("ICC_PROFILE") != std::string::npos, !convert);
    const std::string tags = Scratch("tags.txt");
    ASSERT_EQ(
        RunCommand("exiftool -s3 -n -ColorSpace -InteropIndex '" + out + "' > '" + tags + "'"), 0);
    const std::vector<uint8_t> read = ReadBytes(tags);
    EXPECT_EQ(std::string(read.begin(), read.end()), convert ? "1\nR98\n" : "65535\nR03\n");
  }
}

}  // namespace
}  // namespace quorvex
