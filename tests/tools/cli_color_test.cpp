// --srgb through convert and batch, against ImageMagick's conversion of the same file to sRGB;
// info --json names the embedded profile.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"
#include "tests/tools/tool_run.h"

namespace quorvex {
namespace {

using testing::Quorvex;
using testing::RunCommand;
using testing::ScratchDirectory;

constexpr char kAdobeRgb[] = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
constexpr char kSrgb[] = "/usr/share/color/icc/colord/sRGB.icc";

struct Case {
  const char* name;
  const char* command;    // @IN, @OUT and @DIR stand for the paths
  const char* reference;  // ImageMagick's options after the conversion
  int largest;            // the largest difference of a sample allowed
};

const Case kCases[] = {
    {"convert", "convert @IN @OUT --srgb", "", 3},
    // Lanczos against the area average: the resizes differ more than the conversions.
    {"thumbnail", "convert @IN @OUT --thumbnail 60x60 --srgb", "-resize 60x60", 8},
    {"batch", "batch --quiet --srgb -o @DIR/%s.png @IN", "", 3},
};

class CliColorTest : public ::testing::TestWithParam<Case> {
 protected:
  ScratchDirectory dir;
  std::string Replaced(std::string text) {
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"@IN", dir.File("in.jpg")},
                                     {"@OUT", dir.File("in.png")},
                                     {"@DIR", dir.path().string()}})
      for (size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    return text;
  }
};

TEST_P(CliColorTest, SrgbConvertsAsImageMagickDoes) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick, quorvex_test::Tool::kPillow);
  // Saturated colours in Adobe RGB, where its red is far from sRGB's.
  ASSERT_EQ(RunCommand(dir,
                       "/usr/bin/convert -size 240x160 gradient:'rgb(230,20,20)'-'rgb(20,200,60)' "
                       "-quality 95 -profile " +
                           std::string(kAdobeRgb) + " '" + dir.File("in.jpg") + "'")
                .status,
            0);
  const testing::ToolRun run = Quorvex(dir, Replaced(GetParam().command));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(
      RunCommand(dir, "/usr/bin/convert '" + dir.File("in.jpg") + "' -profile " + kSrgb + " " +
                          GetParam().reference + " -strip '" + dir.File("ref.png") + "'")
          .status,
      0);
  // The largest and the mean difference of a sample.
  const std::string differences =
      RunCommand(dir,
                 "/usr/bin/python3 -c \"import numpy as n; from PIL import Image as I; "
                 "a, b = (n.asarray(I.open(f).convert('RGB'), dtype=int) for f in ('" +
                     dir.File("in.png") + "', '" + dir.File("ref.png") +
                     "')); d = abs(a - b) if a.shape == b.shape else n.full(1, 999); "
                     "print(d.max(), d.mean())\"")
          .out;
  int largest = 999;
  double mean = 999;
  std::istringstream(differences) >> largest >> mean;
  EXPECT_LE(largest, GetParam().largest) << differences;
  EXPECT_LE(mean, 1.0) << differences;
}

INSTANTIATE_TEST_SUITE_P(Commands, CliColorTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliColorInfo, JsonNamesTheEmbeddedProfile) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick);
  ScratchDirectory dir;
  const std::string tagged = dir.File("tagged.jpg"), plain = dir.File("plain.jpg");
  ASSERT_EQ(
      RunCommand(dir, "/usr/bin/convert -size 40x30 xc:'rgb(200,30,30)' '" + plain + "'").status,
      0);
  ASSERT_EQ(RunCommand(dir, "/usr/bin/convert '" + plain + "' -profile " + std::string(kAdobeRgb) +
                                " '" + tagged + "'")
                .status,
            0);
  const testing::ToolRun run = Quorvex(dir, "info --json '" + tagged + "' '" + plain + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report.at(0)["profile"], "Compatible with Adobe RGB (1998)");
  EXPECT_EQ(report.at(1)["profile"], "");
}

}  // namespace
}  // namespace quorvex
