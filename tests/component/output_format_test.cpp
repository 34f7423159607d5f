// OutputFormat and ContentType through the Resize object: every format and surface read back by
// decoders that share nothing with the encoders (dwebp, avifdec, Pillow, pngcheck), and the kept
// metadata read back by exiftool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
using quorvex_test::Tool;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDirectory;

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

std::string Text(BSTR value) {
  const std::string text = BstrToUtf8(value);
  SysFreeString(value);
  return text;
}

void SetFormat(TResize& resize, const std::string& name) {
  BSTR value = Utf8ToNewBstr(name);
  try {
    resize.SetOutputFormat(value);
  } catch (...) {
    SysFreeString(value);
    throw;
  }
  SysFreeString(value);
}

std::vector<uint8_t> VariantBytes(TResize& resize) {
  VARIANT out;
  resize.VariantOut(&out);
  const auto* data = static_cast<const uint8_t*>(V_ARRAY(&out)->pvData);
  std::vector<uint8_t> bytes(data, data + V_ARRAY(&out)->rgsabound[0].cElements);
  VariantClear(&out);
  return bytes;
}

// Writes the object's output to file through SaveToFile or VariantOut.
void WriteOutput(TResize& resize, const std::string& file, bool toArray) {
  if (toArray) return testing::WriteBytes(file, VariantBytes(resize));
  BSTR name = Utf8ToNewBstr(file);
  resize.SaveToFile(name);
  SysFreeString(name);
}

// What Pillow sees in a PNG, or in the PPM dwebp writes: mode, size, resolution, and the mean and
// largest difference of the samples against the object's image (as gray when gray).
json Inspect(const std::string& decoded, const std::string& reference) {
  const std::string script =
      "import json,sys\n"
      "from PIL import Image, ImageChops, ImageStat\n"
      "a=Image.open(sys.argv[1]); b=Image.open(sys.argv[2])\n"
      "m=a.mode\n"
      "d=ImageChops.difference(a.convert(b.mode), b)\n"
      "print(json.dumps({'mode':m,'size':list(a.size),'dpi':[round(v) for v in "
      "a.info.get('dpi',(0,0))],"
      "'mean':sum(ImageStat.Stat(d).mean)/len(b.mode),'max':max(ImageStat.Stat(d).extrema)[1]}))\n";
  return json::parse(
      Output("/usr/bin/python3 -c \"" + script + "\" '" + decoded + "' '" + reference + "'"));
}

struct FormatCase {
  const char* name;       // as set, in any case
  const char* mediaType;  // ContentType afterwards
  const char* magic;      // the output's first bytes, as far as they are fixed
  size_t magicOffset;
  double meanLimit;  // mean sample difference allowed at JPGQuality 90
};

const FormatCase kFormats[] = {
    {"WebP", "image/webp", "WEBP", 8, 3.0},
    {"avif", "image/avif", "ftypavif", 4, 3.0},
    {"PNG", "image/png", "\x89PNG\r\n\x1a\n", 0, 0.0},
};

class OutputFormatTest : public ::testing::TestWithParam<std::tuple<FormatCase, bool, bool>> {
 protected:
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(Tool::kPillow, Tool::kDwebp, Tool::kAvifdec, Tool::kPngcheck);
  }
  // The bundled photo fitted into 160 x 160, and what it shows as a PPM (PGM when gray).
  void LoadPhoto(TResize& resize, bool gray) {
    BSTR name = Utf8ToNewBstr(QUORVEX_SAMPLE_PHOTO);
    resize.LoadFromFile(name);
    SysFreeString(name);
    resize.ResizeBox(160, 160);
    resize.SetGrayScale(gray ? VARIANT_TRUE : VARIANT_FALSE);
    WriteReference(resize.Image(), gray, dir_.File("reference.ppm"));
  }
  // The raster as a binary PPM, or as a PGM of the gray levels (B + G + R) div 3.
  static void WriteReference(const TBitmap& image, bool gray, const std::string& file) {
    const std::string header = std::string(gray ? "P5" : "P6") + " " +
                               std::to_string(image.Width()) + " " +
                               std::to_string(image.Height()) + " 255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int32_t y = 0; y < image.Height(); ++y)
      for (int32_t x = 0; x < image.Width(); ++x) {
        const uint8_t* bgr = image.ScanLine(y) + 3 * x;
        if (gray)
          bytes.push_back(static_cast<uint8_t>((bgr[0] + bgr[1] + bgr[2]) / 3));
        else
          bytes.insert(bytes.end(), {bgr[2], bgr[1], bgr[0]});
      }
    testing::WriteBytes(file, bytes);
  }
  // The output decoded into a PNG or PPM by an independent decoder.
  std::string Decoded(const std::string& file, const std::string& name) {
    const std::string decoded = dir_.File(name == "webp" ? "decoded.ppm" : "decoded.png");
    if (name == "webp") {
      EXPECT_EQ(RunCommand("dwebp -quiet -ppm '" + file + "' -o '" + decoded + "'"), 0);
    } else if (name == "avif") {
      EXPECT_EQ(RunCommand("avifdec '" + file + "' '" + decoded + "' >/dev/null"), 0);
    }
    if (name == "png") {
      EXPECT_EQ(RunCommand("pngcheck -q '" + file + "'"), 0);
      return file;
    }
    return decoded;
  }
  ScratchDirectory dir_;
};

TEST_P(OutputFormatTest, IndependentDecodersReadTheOutputAsTheImage) {
  const auto& [format, gray, toArray] = GetParam();
  TResize resize;
  LoadPhoto(resize, gray);
  resize.SetDPI(300);
  SetFormat(resize, format.name);
  EXPECT_EQ(Text(resize.ContentType()), format.mediaType);
  const std::string name = Text(resize.OutputFormat());
  const std::string file = dir_.File("out." + name);
  WriteOutput(resize, file, toArray);

  const std::vector<uint8_t> bytes = ReadBytes(file);
  const std::string magic = format.magic;
  ASSERT_GT(bytes.size(), format.magicOffset + magic.size());
  EXPECT_EQ(std::string(bytes.begin() + format.magicOffset,
                        bytes.begin() + format.magicOffset + magic.size()),
            magic);
  const json seen = Inspect(Decoded(file, name), dir_.File("reference.ppm"));
  EXPECT_EQ(seen["size"], json({resize.Width(), resize.Height()}));
  EXPECT_LE(seen["mean"].get<double>(), format.meanLimit) << seen.dump();
  if (name == "png") {
    EXPECT_EQ(seen["mode"], gray ? "L" : "RGB");
    EXPECT_EQ(seen["dpi"], json({300, 300})) << "pHYs";
  }
  if (name == "avif" && gray) {
    EXPECT_NE(Output("avifdec --info '" + file + "'").find("YUV400"), std::string::npos);
  }
}

std::string CaseName(const ::testing::TestParamInfo<OutputFormatTest::ParamType>& info) {
  return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Gray" : "Colour") +
         (std::get<2>(info.param) ? "VariantOut" : "SaveToFile");
}

INSTANTIATE_TEST_SUITE_P(Formats, OutputFormatTest,
                         ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::Bool(),
                                            ::testing::Bool()),
                         CaseName);

TEST(OutputFormatSetting, NamesInAnyCaseAndNothingElse) {
  TResize resize;
  EXPECT_EQ(Text(resize.OutputFormat()), "jpeg");
  EXPECT_EQ(Text(resize.ContentType()), "Image/jpeg");
  // A refused name leaves the format as it was.
  const struct {
    const char* set;
    bool known;
    const char* format;
    const char* type;
  } table[] = {{"PNG", true, "png", "image/png"},     {"gif", false, "png", "image/png"},
               {"webp", true, "webp", "image/webp"},  {"", false, "webp", "image/webp"},
               {"AvIf", true, "avif", "image/avif"},  {"jpg", false, "avif", "image/avif"},
               {"png ", false, "avif", "image/avif"}, {"Jpeg", true, "jpeg", "Image/jpeg"}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.set);
    try {
      SetFormat(resize, row.set);
      EXPECT_TRUE(row.known);
    } catch (const std::exception& error) {
      EXPECT_FALSE(row.known);
      EXPECT_STREQ(error.what(), "Unsupported output format.");
    }
    EXPECT_EQ(Text(resize.OutputFormat()), row.format);
    EXPECT_EQ(Text(resize.ContentType()), row.type);
  }
}

TEST(OutputFormatSetting, JpegAfterAnotherFormatWritesTheSameBytesAsANewObject) {
  TResize fresh, switched;
  for (TResize* resize : {&fresh, &switched}) {
    BSTR name = Utf8ToNewBstr(QUORVEX_SAMPLE_PHOTO);
    resize->LoadFromFile(name);
    SysFreeString(name);
    resize->ResizeBox(200, 200);
  }
  SetFormat(switched, "webp");
  const std::vector<uint8_t> webp = VariantBytes(switched);
  SetFormat(switched, "JPEG");
  EXPECT_EQ(VariantBytes(switched), VariantBytes(fresh));
  EXPECT_NE(webp, VariantBytes(fresh));
}

TEST(FormatMetadata, ExiftoolReadsTheKeptMetadataInEachFormatsPlaces) {
  QUORVEX_REQUIRE_TOOLS(Tool::kPillow, Tool::kExiftool);
  ScratchDirectory dir;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " QUORVEX_PHOTO_FIXTURES " tagged '" +
                       dir.path().string() + "'"),
            0);
  // The same keywords as an XMP packet of the source's own, which goes over as it was read.
  ASSERT_EQ(
      RunCommand("exiftool -q -o '" + dir.File("xmp.jpg") +
                 "' -XMP-dc:Subject=alpha -XMP-dc:Subject=beta '" + dir.File("tagged.jpg") + "'"),
      0);
  for (const std::string source : {"tagged.jpg", "xmp.jpg"})
    for (const char* format : {"webp", "avif", "png"}) {
      SCOPED_TRACE(source + " as " + format);
      TResize resize;
      resize.SetKeepMetadata(VARIANT_TRUE);
      BSTR name = Utf8ToNewBstr(dir.File(source));
      resize.LoadFromFile(name);
      SysFreeString(name);
      SetFormat(resize, format);
      const std::string out = dir.File(std::string("out.") + format);
      WriteOutput(resize, out, false);
      const json tags = json::parse(Output("exiftool -j -n -G1 '" + out + "'")).at(0);
      EXPECT_EQ(tags.value("IFD0:Make", ""), "Quux");
      EXPECT_EQ(tags.value("ExifIFD:DateTimeOriginal", ""), "2021:02:03 04:05:06");
      EXPECT_EQ(tags.value("ExifIFD:ExifImageWidth", 0), 120);
      EXPECT_EQ(tags.value("IFD0:XResolution", 0), 300);
      EXPECT_EQ(tags.value("XMP-dc:Subject", json()), json({"alpha", "beta"})) << "IPTC as XMP";
      EXPECT_FALSE(tags.contains("IFD1:ThumbnailLength")) << "no thumbnail outside JPEG";
      ASSERT_EQ(
          RunCommand("exiftool -b -ICC_Profile '" + out + "' > '" + dir.File("out.icc") + "'"), 0);
      EXPECT_EQ(ReadBytes(dir.File("out.icc")), ReadBytes(dir.File("profile.icc")));
    }
}

}  // namespace
}  // namespace quorvex
