// The command-line tool, run as a user runs it: exit status, standard output and error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "quorvex_version.h"
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

// What info prints after the object's facts: the file's size.
std::string Bytes(const std::string& file) {
  return " bytes=" + std::to_string(std::filesystem::file_size(file));
}

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
  EXPECT_EQ(run.out, out + ": 120x80 dpi=150 gray=1 quality=50 orientation=1" + Bytes(out) + "\n");
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
  // A file as standard input is read at its known size, a pipe in chunks: the same bytes.
  const std::string convert = std::string(QUORVEX_TOOL) + " convert - - --box 60x60";
  for (const std::string& line :
       {convert + " <'" + photo + "'", "cat '" + photo + "' | " + convert}) {
    const ToolRun piped = testing::RunCommand(dir, line);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.out == direct.out) << line;
  }
  ToolRun run = Quorvex(dir, "info - <'" + photo + "'");
  EXPECT_EQ(run.out, "-: 120x80 dpi=0 gray=0 quality=95 orientation=1" + Bytes(photo) + "\n");
  run = Quorvex(dir, "info --json - <'" + photo + "'");
  EXPECT_EQ(nlohmann::json::parse(run.out).at(0)["quality"], 95);
  // Nothing, and more than the object takes (a sparse file, refused before any read).
  WriteBytes(dir.File("huge"), {});
  ASSERT_EQ(::truncate(dir.File("huge").c_str(), off_t{1} << 31), 0);
  for (const std::string& input : {std::string("/dev/null"), dir.File("huge")}) {
    run = Quorvex(dir, "convert - '" + dir.File("o.jpg") + "' <'" + input + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quorvex: VariantIn has failed to read an image.\n") << input;
  }
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
INSTANTIATE_TEST_SUITE_P(
    Messages, CliFailures,
    ::testing::Values(FailureCase{"convert @DIR/missing.jpg @DIR/o.jpg",
                                  "File not found or permission incorrect."},
                      FailureCase{"convert @DIR/text.jpg @DIR/o.jpg", "Invalid file."},
                      FailureCase{"info @DIR/text.jpg", "@DIR/text.jpg: Invalid file."}));

TEST_F(CliTest, InfoGoesOnAfterAFailureAndJsonCarriesErrors) {
  WriteBytes(dir.File("text.jpg"), {'n', 'o'});
  ToolRun run = Quorvex(dir, "info '" + dir.File("text.jpg") + "' '" + photo + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            photo + ": 120x80 dpi=0 gray=0 quality=95 orientation=1" + Bytes(photo) + "\n");
  run = Quorvex(dir, "info --json '" + photo + "' '" + dir.File("missing.jpg") + "'");
  EXPECT_EQ(run.status, 1);
  const auto report = nlohmann::json::parse(run.out);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0]["width"], 120);
  EXPECT_EQ(report[0]["height"], 80);
  EXPECT_EQ(report[0]["gray"], false);
  EXPECT_EQ(report[1]["error"], "File not found or permission incorrect.");
}

// A folder stands for its JPEG files (and, with --recursive, its subfolders'); each file that
// fails is named, and the others are still described.
TEST_F(CliTest, InfoTakesFoldersAndNamesEachFileThatFails) {
  const std::string pics = dir.File("pics");
  std::filesystem::create_directories(pics + "/sub");
  std::filesystem::copy_file(photo, pics + "/a.jpg");
  std::filesystem::copy_file(photo, pics + "/sub/c.JPEG");
  WriteBytes(pics + "/b.jpg", {'n', 'o'});
  WriteBytes(pics + "/notes.txt", {'n', 'o'});
  const std::string missing = dir.File("missing.jpg");
  const std::string line = ": 120x80 dpi=0 gray=0 quality=95 orientation=1" + Bytes(photo) + "\n";
  const struct {
    std::string arguments;
    std::string out;
    std::string err;
  } cases[] = {
      {"'" + pics + "'", pics + "/a.jpg" + line, "quorvex: " + pics + "/b.jpg: Invalid file.\n"},
      {"--recursive '" + pics + "'", pics + "/a.jpg" + line + pics + "/sub/c.JPEG" + line,
       "quorvex: " + pics + "/b.jpg: Invalid file.\n"},
      {"'" + missing + "' '" + photo + "'", photo + line,
       "quorvex: " + missing + ": File not found or permission incorrect.\n"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Quorvex(dir, "info " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.out, c.out) << c.arguments;
    EXPECT_EQ(run.err, c.err) << c.arguments;
  }
  const auto report = nlohmann::json::parse(Quorvex(dir, "info --json '" + pics + "'").out);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0]["bytes"], std::filesystem::file_size(photo));
  EXPECT_EQ(report[1]["file"], pics + "/b.jpg");
  EXPECT_EQ(report[1]["error"], "Invalid file.");
}

TEST_F(CliTest, JsonInfoCarriesQualityExifIptcAndProfileSize) {
  const std::string sample = std::string(QUORVEX_SOURCE_DIR) + "/tests/data/metadata/combined.jpg";
  const ToolRun run = Quorvex(dir, "info --json '" + sample + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto file = nlohmann::ordered_json::parse(run.out).at(0);
  EXPECT_EQ(file["quality"], 85);
  EXPECT_EQ(file["exif"]["Make"], "Quorvex");
  EXPECT_EQ(file["exif"]["ExposureTime"], 0.008) << "a rational as a number";
  EXPECT_EQ(file["bytes"], std::filesystem::file_size(sample));
  EXPECT_EQ(file["color_space"], "YCbCr");
  EXPECT_EQ(file["exif"].begin().key(), "ImageDescription") << "in the order of the fields";
  EXPECT_EQ(file["iptc"]["Keywords"], nlohmann::json::parse(R"(["alpha", "beta gamma", "café"])"));
  EXPECT_EQ(file["iptc"]["DateCreated"], "2024-05-06");
  EXPECT_EQ(file["iptc"]["TimeCreated"], "14:30:00");
  EXPECT_TRUE(file["iptc"]["Urgency"].is_number());
  EXPECT_EQ(file["icc_bytes"], 588);
}

// The tool drives the module through its interface: the codecs are the module's alone.
TEST(CliLinks, TheToolLoadsNoCodecLibrary) {
  ScratchDirectory dir;
  const ToolRun run = testing::RunCommand(dir, std::string("ldd '") + QUORVEX_TOOL + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_NE(run.out.find("libquorvexplatform"), std::string::npos) << run.out;
  for (const char* library :
       {"libjpeg", "libturbojpeg", "libwebp", "libavif", "libpng", "liblcms2"})
    EXPECT_EQ(run.out.find(library), std::string::npos) << library;
}

TEST_F(CliTest, VersionAndUsage) {
  ToolRun run = Quorvex(dir, "--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, QUORVEX_VERSION_TEXT "\n");
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
  EXPECT_EQ(run.out,
            latin + ": 120x80 dpi=0 gray=0 quality=95 orientation=1" + Bytes(latin) + "\n");
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
        RejectedForm{"--resize 0x10x20",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not '0x10x20'"},
        RejectedForm{"--box 0x40x30", "--box: expected WIDTHxHEIGHT, like 200x200, not '0x40x30'"},
        RejectedForm{"--resize 60", "--resize: expected WIDTHxHEIGHT, like 200x200, not '60'"},
        RejectedForm{"--resize 60x", "--resize: expected WIDTHxHEIGHT, like 200x200, not '60x'"},
        RejectedForm{"--resize x40", "--resize: expected WIDTHxHEIGHT, like 200x200, not 'x40'"},
        RejectedForm{"--resize 60X40",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not '60X40'"},
        RejectedForm{"--resize '60 x40'",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not '60 x40'"},
        RejectedForm{"--resize ' 60x40'",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not ' 60x40'"},
        RejectedForm{"--resize +60x40",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not '+60x40'"},
        RejectedForm{"--resize 2147483648x1",
                     "--resize: expected WIDTHxHEIGHT, like 200x200, not '2147483648x1'"},
        RejectedForm{"--quality 0x10", "--quality: expected a whole number, like 80, not '0x10'"},
        RejectedForm{"--quality '50 '", "--quality: expected a whole number, like 80, not '50 '"},
        RejectedForm{"--dpi 1.5", "--dpi: expected a whole number, like 80, not '1.5'"},
        RejectedForm{"--scale 0x32", "--scale: expected a whole number, like 80, not '0x32'"},
        RejectedForm{"--crop 0,0,10",
                     "--crop: expected X1,Y1,X2,Y2, like 0,0,100,50, not '0,0,10'"},
        RejectedForm{"--crop 0,0,10,10,",
                     "--crop: expected X1,Y1,X2,Y2, like 0,0,100,50, not '0,0,10,10,'"},
        RejectedForm{"--crop 0x0,0,10,10",
                     "--crop: expected X1,Y1,X2,Y2, like 0,0,100,50, not '0x0,0,10,10'"},
        RejectedForm{"--background 0x100000000",
                     "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not "
                     "'0x100000000'"},
        RejectedForm{
            "--background 4294967296",
            "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not '4294967296'"},
        RejectedForm{
            "--background=-0x1",
            "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not '-0x1'"},
        RejectedForm{
            "--background 0x",
            "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not '0x'"},
        RejectedForm{
            "--background ' 0xFF'",
            "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not ' 0xFF'"},
        RejectedForm{
            "--background '0xFF '",
            "--background: expected 0xBBGGRR or a decimal number, like 0xFFFFFF, not '0xFF '"},
        RejectedForm{"--rotate=nan",
                     "--rotate: expected a finite number of degrees, like 90 or -12.5, not 'nan'"},
        RejectedForm{"--rotate inf",
                     "--rotate: expected a finite number of degrees, like 90 or -12.5, not 'inf'"},
        RejectedForm{
            "--rotate=-infinity",
            "--rotate: expected a finite number of degrees, like 90 or -12.5, not '-infinity'"},
        RejectedForm{"--rotate 1e39",
                     "--rotate: expected a finite number of degrees, like 90 or -12.5, not '1e39'"},
        RejectedForm{"--rotate 0x10",
                     "--rotate: expected a finite number of degrees, like 90 or -12.5, not '0x10'"},
        RejectedForm{"--rotate ' 90'",
                     "--rotate: expected a finite number of degrees, like 90 or -12.5, not ' 90'"},
        RejectedForm{
            "--rotate '90 '",
            "--rotate: expected a finite number of degrees, like 90 or -12.5, not '90 '"}));

}  // namespace
}  // namespace quorvex
