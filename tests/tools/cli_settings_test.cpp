// The command line's load and output settings: --thumbnail, --auto-orient, --max-pixels,
// --keep-metadata, --progressive and --optimize-coding, and the orientation `info` reports,
// checked with independent tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"
#include "tests/tools/tool_run.h"

namespace quorvex {
namespace {

using testing::MakeJpegWithCjpeg;
using testing::Quorvex;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDirectory;
using testing::ToolRun;

class CliSettingsTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::string photo;    // 120x80
  std::string rotated;  // the same, tagged EXIF Orientation 6 (turn right to be upright)
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg,
                          quorvex_test::Tool::kExiftool, quorvex_test::Tool::kImageMagick);
    photo = MakeJpegWithCjpeg(dir, "photo.jpg", 120, 80);
    rotated = dir.File("rotated.jpg");
    ASSERT_EQ(RunCommand(dir, "exiftool -q -n -Orientation=6 -o '" + rotated + "' '" + photo + "'")
                  .status,
              0);
  }
  // The written file's size as info prints it ("WxH").
  std::string SizeOf(const std::string& file) {
    const std::string line = Quorvex(dir, "info '" + file + "'").out;
    const size_t colon = line.rfind(": ");
    return line.substr(colon + 2, line.find(' ', colon + 2) - colon - 2);
  }
  std::string Shell(const std::string& command) { return RunCommand(dir, command).out; }
};

TEST_F(CliSettingsTest, InfoReportsTheExifOrientation) {
  ToolRun run = Quorvex(dir, "info '" + rotated + "' '" + photo + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto bytes = [](const std::string& file) {
    return " bytes=" + std::to_string(std::filesystem::file_size(file)) + "\n";
  };
  EXPECT_EQ(run.out, rotated + ": 120x80 dpi=0 gray=0 quality=95 orientation=6" + bytes(rotated) +
                         photo + ": 120x80 dpi=0 gray=0 quality=95 orientation=1" + bytes(photo));
  run = Quorvex(dir, "info --json - <'" + rotated + "'");
  EXPECT_EQ(nlohmann::json::parse(run.out).at(0)["orientation"], 6);
}

// A thumbnail load has the size of a load followed by the same box fit, by name and by bytes
// (a side of 0 made 1).
class CliThumbnailSizes : public CliSettingsTest,
                          public ::testing::WithParamInterface<const char*> {};
TEST_P(CliThumbnailSizes, EqualTheBoxFit) {
  const std::string box = GetParam();
  const std::string expected = dir.File("box.jpg"), byName = dir.File("name.jpg");
  const ToolRun fit = Quorvex(dir, "convert '" + photo + "' '" + expected + "' --box " + box);
  const ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + byName + "' --thumbnail " + box);
  // A side that rounds to 0 fails the box fit and becomes 1 pixel in a thumbnail.
  if (box == "1x1") {
    EXPECT_NE(fit.status, 0);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(SizeOf(byName), "1x1");
    return;
  }
  EXPECT_EQ(run.status, fit.status);
  EXPECT_EQ(run.err, fit.err);
  const std::string piped = Shell(std::string(QUORVEX_TOOL) + " convert - - --thumbnail " + box +
                                  " <'" + photo + "' | " + QUORVEX_TOOL + " info -");
  if (fit.status != 0) return;
  EXPECT_EQ(SizeOf(byName), SizeOf(expected));
  EXPECT_EQ(piped.substr(0, piped.find(" dpi=")), "-: " + SizeOf(expected));
}
INSTANTIATE_TEST_SUITE_P(Boxes, CliThumbnailSizes,
                         ::testing::Values("60x60", "30x0", "0x20", "200x200", "7x7", "1x1"));

// The picture is turned upright unless --no-auto-orient says not to; settings for the load
// apply before it wherever they stand; EXIF is written only when kept, and then says the picture
// is upright once it has been turned.
struct OrientationCase {
  std::string options;
  std::string size;
  std::string orientation;  // as exiftool reads it from the output; empty without EXIF
};
void PrintTo(const OrientationCase& c, std::ostream* out) {
  *out << '\'' << c.options << '\'';
}
class CliOrientation : public CliSettingsTest,
                       public ::testing::WithParamInterface<OrientationCase> {};
TEST_P(CliOrientation, TurnsAndWritesTheTag) {
  const std::string out = dir.File("out.jpg");
  const ToolRun run = Quorvex(dir, "convert '" + rotated + "' '" + out + "' " + GetParam().options);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SizeOf(out), GetParam().size);
  EXPECT_EQ(Shell("exiftool -n -s3 -Orientation '" + out + "'"), GetParam().orientation);
}
INSTANTIATE_TEST_SUITE_P(
    Options, CliOrientation,
    ::testing::Values(
        OrientationCase{"", "80x120", ""}, OrientationCase{"--no-auto-orient", "120x80", ""},
        OrientationCase{"--auto-orient", "80x120", ""}, OrientationCase{"--scale 50", "40x60", ""},
        OrientationCase{"--thumbnail 60x60", "40x60", ""},
        OrientationCase{"--keep-metadata --no-auto-orient", "120x80", "6\n"},
        OrientationCase{"--keep-metadata", "80x120", "1\n"},
        OrientationCase{"--no-auto-orient --thumbnail 30x30 --keep-metadata", "30x20", "6\n"}));

TEST_F(CliSettingsTest, ProgressiveAndOptimizedCodingKeepThePixels) {
  const struct {
    const char* options;
    const char* interlace;  // ImageMagick's name for the frame type
  } cases[] = {{"", "None"}, {"--progressive", "JPEG"}, {"--optimize-coding", "None"}};
  std::vector<std::string> pixels;
  std::vector<size_t> sizes;
  for (const auto& c : cases) {
    const std::string out = dir.File("out.jpg");
    const ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + out + "' " + c.options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Shell("identify -format '%[interlace]' '" + out + "'"), c.interlace) << c.options;
    pixels.push_back(Shell("djpeg -ppm '" + out + "'"));
    sizes.push_back(ReadBytes(out).size());
  }
  EXPECT_EQ(pixels[2], pixels[0]) << "optimized tables code the same coefficients";
  EXPECT_LT(sizes[2], sizes[0]);
}

struct LimitCase {
  std::string options;  // @IN stands for the 120x80 photo, @OUT for a scratch output
  std::string message;  // empty when the conversion succeeds
};
void PrintTo(const LimitCase& c, std::ostream* out) {
  *out << '\'' << c.options << '\'';
}
class CliPixelLimit : public CliSettingsTest, public ::testing::WithParamInterface<LimitCase> {};
TEST_P(CliPixelLimit, RefusesLargerPicturesWithTheLoadsMessage) {
  std::string options = GetParam().options;
  for (auto [key, value] : {std::pair<std::string, std::string>{"@IN", photo},
                            std::pair<std::string, std::string>{"@OUT", dir.File("o.jpg")}})
    for (size_t at; (at = options.find(key)) != std::string::npos;)
      options.replace(at, key.size(), value);
  const ToolRun run = Quorvex(dir, "convert " + options);
  if (GetParam().message.empty()) {
    EXPECT_EQ(run.status, 0) << run.err;
  } else {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quorvex: " + GetParam().message + "\n");
  }
}
INSTANTIATE_TEST_SUITE_P(
    Limits, CliPixelLimit,
    ::testing::Values(LimitCase{"@IN @OUT --max-pixels 9600", ""},
                      LimitCase{"@IN @OUT --max-pixels 9599", "Invalid file."},
                      LimitCase{"@IN @OUT --box 10x10 --max-pixels 9599", "Invalid file."},
                      LimitCase{"@IN @OUT --thumbnail 10x10 --max-pixels 9599", "Invalid file."},
                      LimitCase{"- @OUT --max-pixels 9599 <@IN",
                                "VariantIn has failed to read an image."},
                      LimitCase{"@IN @OUT --max-pixels 9600 --scale 200", "Out of memory"},
                      LimitCase{"@IN @OUT --max-pixels 0 --scale 200", ""}));

TEST_F(CliSettingsTest, RejectedValues) {
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--thumbnail 60", "--thumbnail: expected WIDTHxHEIGHT, like 200x200, not '60'"},
      {"--thumbnail 60x40x2", "--thumbnail: expected WIDTHxHEIGHT, like 200x200, not '60x40x2'"},
      {"--max-pixels 1e6", "--max-pixels: expected a whole number, like 80, not '1e6'"},
      {"--max-pixels 2147483648",
       "--max-pixels: expected a whole number, like 80, not '2147483648'"},
      {"--thumbnail 60x60 --thumbnail 30x30", "--thumbnail: At Most 1 required but received 2"},
  };
  for (const auto& c : cases) {
    const ToolRun run =
        Quorvex(dir, "convert '" + photo + "' '" + dir.File("o.jpg") + "' " + c.options);
    EXPECT_NE(run.status, 0) << c.options;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.message);
  }
}

TEST_F(CliSettingsTest, BatchLoadsThroughTheSameSettings) {
  const ToolRun run = Quorvex(dir, "batch --quiet --scale 50 --auto-orient --progressive -o '" +
                                       dir.File("%s-out.jpg") + "' '" + rotated + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SizeOf(dir.File("rotated-out.jpg")), "40x60");
  EXPECT_EQ(Shell("identify -format '%[interlace]' '" + dir.File("rotated-out.jpg") + "'"), "JPEG");
}

// Crop-to-fill and sharpening from the command line: sizes, the settings given before a
// thumbnail load, and the object's refusals.
TEST_F(CliSettingsTest, FillGravityFitAndSharpen) {
  const struct {
    const char* options;
    int status;
    const char* result;  // the output's size, or the message on standard error
  } cases[] = {
      {"--fill 50x50", 0, "50x50"},
      {"--gravity entropy --fill 30x60 --sharpen", 0, "30x60"},
      {"--sharpen 2 --fit cover --thumbnail 40x40", 0, "40x40"},
      {"--fill 500x500", 0, "80x80"},
      {"--fill 50x50 --gravity up", 1, "quorvex: Unsupported gravity.\n"},
      {"--thumbnail 40x40 --fit tile", 1, "quorvex: Unsupported fit.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string out = dir.File("fill.jpg");
    const ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + out + "' " + c.options);
    ASSERT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(c.status == 0 ? SizeOf(out) : run.err, c.result);
  }
  EXPECT_NE(Quorvex(dir, "convert '" + photo + "' x.jpg --sharpen=-1").status, 0);
}

}  // namespace
}  // namespace quorvex
