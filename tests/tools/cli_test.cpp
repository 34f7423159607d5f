// The command-line tool, run as a user runs it: exit status, standard output and error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
using testing::ScratchDirectory;
using testing::ToolRun;
using testing::WriteBytes;

class CliTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::string photo;
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
    photo = MakeJpegWithCjpeg(dir, "photo.jpg", 120, 80);
  }
};

TEST_F(CliTest, ConvertAppliesSettingsAndReportsThroughInfo) {
  const std::string out = dir.File("out.jpg");
  ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + out + "' --quality 50 --dpi 150 --gray");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  run = Quorvex(dir, "info '" + out + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, out + ": 120x80 dpi=150 gray=1 quality=50 orientation=1\n");
}

TEST_F(CliTest, ConvertToStandardOutputWritesTheJpegBytes) {
  const ToolRun run = Quorvex(dir, "convert '" + photo + "' - --dpi 72");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_GT(run.out.size(), 20u);
  EXPECT_EQ(static_cast<uint8_t>(run.out[0]), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(run.out[1]), 0xD8);
  EXPECT_EQ(static_cast<uint8_t>(run.out[15]), 72);
}

TEST_F(CliTest, StandardInputFeedsConvertAndInfo) {
  const ToolRun direct = Quorvex(dir, "convert '" + photo + "' - --box 60x60");
  const ToolRun piped = Quorvex(dir, "convert - - --box 60x60 <'" + photo + "'");
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(piped.out == direct.out);
  ToolRun run = Quorvex(dir, "info - <'" + photo + "'");
  EXPECT_EQ(run.out, "-: 120x80 dpi=0 gray=0 quality=95 orientation=1\n");
  run = Quorvex(dir, "info --json - <'" + photo + "'");
  EXPECT_EQ(nlohmann::json::parse(run.out).at(0)["quality"], 95);
  run = Quorvex(dir, "convert - '" + dir.File("o.jpg") + "' </dev/null");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "quorvex: VariantIn has failed to read an image.\n");
}

struct FailureCase {
  std::string arguments;  // IN is substituted for @IN, a scratch path for @DIR
  std::string message;
};
class CliFailures : public CliTest, public ::testing::WithParamInterface<FailureCase> {};
TEST_P(CliFailures, PrintTheObjectsMessageAndExitOne) {
  std::string arguments = GetParam().arguments;
  std::string message = GetParam().message;
  for (std::string* text : {&arguments, &message}) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"@IN", photo},
                              std::pair<std::string, std::string>{"@DIR", dir.path().string()}}) {
      for (size_t at; (at = text->find(key)) != std::string::npos;)
        text->replace(at, key.size(), value);
    }
  }
  WriteBytes(dir.File("text.jpg"), {'n', 'o', '\n'});
  const ToolRun run = Quorvex(dir, arguments);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "quorvex: " + message + "\n");
}
INSTANTIATE_TEST_SUITE_P(Messages, CliFailures,
                         ::testing::Values(FailureCase{"convert @DIR/missing.jpg @DIR/o.jpg",
                                                       "File not found or permission incorrect."},
                                           FailureCase{"convert @DIR/text.jpg @DIR/o.jpg",
                                                       "Invalid file."},
                                           FailureCase{"convert @IN @DIR/no/such/o.jpg",
                                                       "Cannot write file: @DIR/no/such/o.jpg"},
                                           FailureCase{"info @DIR/text.jpg", "Invalid file."}));

TEST_F(CliTest, InfoGoesOnAfterAFailureAndJsonCarriesErrors) {
  WriteBytes(dir.File("text.jpg"), {'n', 'o'});
  ToolRun run = Quorvex(dir, "info '" + dir.File("text.jpg") + "' '" + photo + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, photo + ": 120x80 dpi=0 gray=0 quality=95 orientation=1\n");
  run = Quorvex(dir, "info --json '" + photo + "' '" + dir.File("missing.jpg") + "'");
  EXPECT_EQ(run.status, 1);
  const auto report = nlohmann::json::parse(run.out);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0]["width"], 120);
  EXPECT_EQ(report[0]["height"], 80);
  EXPECT_EQ(report[0]["gray"], false);
  EXPECT_EQ(report[1]["error"], "File not found or permission incorrect.");
}

TEST_F(CliTest, JsonInfoCarriesQualityExifIptcAndProfileSize) {
  const std::string sample = std::string(QUORVEX_SOURCE_DIR) + "/tests/data/metadata/combined.jpg";
  const ToolRun run = Quorvex(dir, "info --json '" + sample + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto file = nlohmann::ordered_json::parse(run.out).at(0);
  EXPECT_EQ(file["quality"], 85);
  EXPECT_EQ(file["exif"]["Make"], "Quorvex");
  EXPECT_EQ(file["exif"]["ExposureTime"], "1/125");
  EXPECT_EQ(file["exif"].begin().key(), "ImageDescription") << "in the order of the fields";
  EXPECT_EQ(file["iptc"]["Keywords"], nlohmann::json::parse(R"(["alpha", "beta gamma", "café"])"));
  EXPECT_EQ(file["iptc"]["DateCreated"], "2024-05-06");
  EXPECT_EQ(file["iptc"]["TimeCreated"], "14:30:00");
  EXPECT_TRUE(file["iptc"]["Urgency"].is_number());
  EXPECT_EQ(file["icc_bytes"], 588);
}

TEST_F(CliTest, VersionAndUsage) {
  ToolRun run = Quorvex(dir, "--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Quorvex 1.0.0.6.\n");
  run = Quorvex(dir, "convert '" + photo + "'");
  EXPECT_NE(run.status, 0) << "OUT is required";
  run = Quorvex(dir, "convert '" + photo + "' x.jpg --quality abc");
  EXPECT_NE(run.status, 0);
}

// Names are bytes: names that are not UTF-8 reach exactly the files named.
TEST_F(CliTest, FileNamesAreKeptByteForByte) {
  const std::string latin = dir.File("caf\xE9.jpg");
  std::filesystem::copy_file(photo, latin);
  ToolRun run = Quorvex(dir, "info '" + latin + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, latin + ": 120x80 dpi=0 gray=0 quality=95 orientation=1\n");
  const struct {
    const char* name;
    const char* size;
    const char* expected;
  } outputs[] = {{"x\xFF.jpg", "60x40", ": 60x40"}, {"x\xFE.jpg", "30x20", ": 30x20"}};
  for (const auto& output : outputs) {
    run = Quorvex(
        dir, "convert '" + latin + "' '" + dir.File(output.name) + "' --resize " + output.size);
    EXPECT_EQ(run.status, 0) << run.err;
  }
  for (const auto& output : outputs) {
    ASSERT_TRUE(std::filesystem::is_regular_file(dir.File(output.name))) << output.name;
    run = Quorvex(dir, "info '" + dir.File(output.name) + "'");
    const std::string expected = dir.File(output.name) + output.expected;
    EXPECT_EQ(run.out.substr(0, expected.size()), expected);
  }
}

TEST_F(CliTest, ConvertToDevNullLeavesTheDevice) {
  struct stat before {};
  ASSERT_EQ(::stat("/dev/null", &before), 0);
  const ToolRun run = Quorvex(dir, "convert '" + photo + "' /dev/null");
  EXPECT_EQ(run.status, 0) << run.err;
  struct stat after {};
  ASSERT_EQ(::lstat("/dev/null", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

// Every option form: numbers split on their separators first, then read strictly as decimal;
// hexadecimal only for colours.
struct AcceptedForm {
  std::string options;
  std::string size;  // of the written file, as info prints it
};
class CliAcceptedForms : public CliTest, public ::testing::WithParamInterface<AcceptedForm> {};
TEST_P(CliAcceptedForms, ReachTheObject) {
  const std::string out = dir.File("out.jpg");
  ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + out + "' " + GetParam().options);
  ASSERT_EQ(run.status, 0) << run.err;
  run = Quorvex(dir, "info '" + out + "'");
  EXPECT_EQ(run.out.substr(0, run.out.find(" dpi=")), out + ": " + GetParam().size);
}
INSTANTIATE_TEST_SUITE_P(
    Options, CliAcceptedForms,
    ::testing::Values(
        AcceptedForm{"--resize 60x40", "60x40"}, AcceptedForm{"--resize 0x100", "150x100"},
        AcceptedForm{"--resize 60x0", "60x40"}, AcceptedForm{"--resize 060x040", "60x40"},
        AcceptedForm{"--box 60x60", "60x40"}, AcceptedForm{"--box 0x100", "120x80"},
        AcceptedForm{"--scale 50", "60x40"}, AcceptedForm{"--rotate 90", "80x120"},
        AcceptedForm{"--rotate=-90.0", "80x120"}, AcceptedForm{"--rotate 9e1", "80x120"},
        AcceptedForm{"--crop 0,0,30,20", "30x20"}, AcceptedForm{"--crop=-10,-10,10,10", "20x20"},
        AcceptedForm{"--quality 50 --dpi 300", "120x80"},
        AcceptedForm{"--background 0x80000000", "120x80"},
        AcceptedForm{"--background 0xFFFFFFFF", "120x80"},
        AcceptedForm{"--background 4294967295", "120x80"},
        AcceptedForm{"--gray --flip-horizontal --flip-vertical", "120x80"}));

struct EquivalentForms {
  std::string first, second;
};
class CliEquivalentForms : public CliTest, public ::testing::WithParamInterface<EquivalentForms> {};
TEST_P(CliEquivalentForms, WriteTheSameBytes) {
  const ToolRun first = Quorvex(dir, "convert '" + photo + "' - " + GetParam().first);
  const ToolRun second = Quorvex(dir, "convert '" + photo + "' - " + GetParam().second);
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(first.out == second.out);
}
INSTANTIATE_TEST_SUITE_P(
    Colours, CliEquivalentForms,
    ::testing::Values(
        EquivalentForms{"--rotate 30 --background 0x0000FF", "--rotate 30 --background 255"},
        EquivalentForms{"--rotate 30 --background 0XFF00", "--rotate 30 --background 65280"},
        EquivalentForms{"--rotate 30 --background 0xFFFFFFFF", "--rotate 30 --background=-1"},
        EquivalentForms{"--rotate 30 --background 0x80000000",
                        "--rotate 30 --background=-2147483648"}));

struct RejectedForm {
  std::string options;
  std::string message;  // the first line on standard error
};
class CliRejectedForms : public CliTest, public ::testing::WithParamInterface<RejectedForm> {};
TEST_P(CliRejectedForms, NeverReachTheObject) {
  const ToolRun run =
      Quorvex(dir, "convert '" + photo + "' '" + dir.File("out.jpg") + "' " + GetParam().options);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err.substr(0, run.err.find('\n')), GetParam().message);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.jpg")));
}
INSTANTIATE_TEST_SUITE_P(
    Options, CliRejectedForms,
    ::testing::Values(
        RejectedForm{"--resize 0x10x20", "--resize: '0x10x20' is not a valid argument"},
        RejectedForm{"--box 0x40x30", "--box: '0x40x30' is not a valid argument"},
        RejectedForm{"--resize 60", "--resize: '60' is not a valid argument"},
        RejectedForm{"--resize 60x", "--resize: '60x' is not a valid argument"},
        RejectedForm{"--resize x40", "--resize: 'x40' is not a valid argument"},
        RejectedForm{"--resize 60X40", "--resize: '60X40' is not a valid argument"},
        RejectedForm{"--resize '60 x40'", "--resize: '60 x40' is not a valid argument"},
        RejectedForm{"--resize ' 60x40'", "--resize: ' 60x40' is not a valid argument"},
        RejectedForm{"--resize +60x40", "--resize: '+60x40' is not a valid argument"},
        RejectedForm{"--resize 2147483648x1", "--resize: '2147483648x1' is not a valid argument"},
        RejectedForm{"--quality 0x10", "--quality: '0x10' is not a valid argument"},
        RejectedForm{"--quality '50 '", "--quality: '50 ' is not a valid argument"},
        RejectedForm{"--dpi 1.5", "--dpi: '1.5' is not a valid argument"},
        RejectedForm{"--scale 0x32", "--scale: '0x32' is not a valid argument"},
        RejectedForm{"--crop 0,0,10", "--crop: '0,0,10' is not a valid argument"},
        RejectedForm{"--crop 0,0,10,10,", "--crop: '0,0,10,10,' is not a valid argument"},
        RejectedForm{"--crop 0x0,0,10,10", "--crop: '0x0,0,10,10' is not a valid argument"},
        RejectedForm{"--background 0x100000000",
                     "--background: '0x100000000' is not a valid argument"},
        RejectedForm{"--background 4294967296",
                     "--background: '4294967296' is not a valid argument"},
        RejectedForm{"--background=-0x1", "--background: '-0x1' is not a valid argument"},
        RejectedForm{"--background 0x", "--background: '0x' is not a valid argument"},
        RejectedForm{"--background ' 0xFF'", "--background: ' 0xFF' is not a valid argument"},
        RejectedForm{"--background '0xFF '", "--background: '0xFF ' is not a valid argument"},
        RejectedForm{"--rotate=nan", "--rotate: 'nan' is not a finite number of degrees"},
        RejectedForm{"--rotate inf", "--rotate: 'inf' is not a finite number of degrees"},
        RejectedForm{"--rotate=-infinity",
                     "--rotate: '-infinity' is not a finite number of degrees"},
        RejectedForm{"--rotate 1e39", "--rotate: '1e39' is not a valid angle"},
        RejectedForm{"--rotate 0x10", "--rotate: '0x10' is not a valid angle"},
        RejectedForm{"--rotate ' 90'", "--rotate: ' 90' is not a valid angle"},
        RejectedForm{"--rotate '90 '", "--rotate: '90 ' is not a valid angle"}));

}  // namespace
}  // namespace quorvex
