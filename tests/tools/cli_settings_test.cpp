// The command line's load and output settings: --thumbnail, --auto-orient, --max-pixels,
// --keep-metadata, --progressive and --optimize-coding, and the orientation `info` reports,
// checked with independent tools.
#include <gtest/gtest.h>

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
  EXPECT_EQ(run.out, rotated + ": 120x80 dpi=0 gray=0 quality=95 orientation=6\n" + photo +
                         ": 120x80 dpi=0 gray=0 quality=95 orientation=1\n");
  run = Quorvex(dir, "info --json - <'" + rotated + "'");
  EXPECT_EQ(nlohmann::json::parse(run.out).at(0)["orientation"], 6);
}

// A thumbnail load has the size of a load followed by the same box fit, by name and by bytes.
class CliThumbnailSizes : public CliSettingsTest,
                          public ::testing::WithParamInterface<const char*> {};
TEST_P(CliThumbnailSizes, EqualTheBoxFit) {
  const std::string box = GetParam();
  const std::string expected = dir.File("box.jpg"), byName = dir.File("name.jpg");
  const ToolRun fit = Quorvex(dir, "convert '" + photo + "' '" + expected + "' --box " + box);
  const ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + byName + "' --thumbnail " + box);
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

// Settings for the load apply before it wherever they stand; EXIF is written only when kept,
// and then says the picture is upright once it has been turned.
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
    ::testing::Values(OrientationCase{"", "120x80", ""},
                      OrientationCase{"--auto-orient", "80x120", ""},
                      OrientationCase{"--scale 50 --auto-orient", "40x60", ""},
                      OrientationCase{"--thumbnail 60x60 --auto-orient", "40x60", ""},
                      OrientationCase{"--keep-metadata", "120x80", "6\n"},
                      OrientationCase{"--keep-metadata --auto-orient", "80x120", "1\n"},
                      OrientationCase{"--thumbnail 30x30 --keep-metadata", "30x20", "6\n"}));

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
      {"--thumbnail 60", "--thumbnail: '60' is not a valid argument"},
      {"--thumbnail 60x40x2", "--thumbnail: '60x40x2' is not a valid argument"},
      {"--max-pixels 1e6", "--max-pixels: '1e6' is not a valid argument"},
      {"--max-pixels 2147483648", "--max-pixels: '2147483648' is not a valid argument"},
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

}  // namespace
}  // namespace quorvex
