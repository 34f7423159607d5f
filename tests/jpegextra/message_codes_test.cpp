// The library's message codes, mapped by name to the release 6a numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "jpegextra/jpeg_image.h"
#include "jpegextra/jpeg_message_codes.h"
#include "tests/jpegextra/codec_test_support.h"

namespace quorvex {
namespace {

// The linked library's own list of names and codes, straight from its header.
const std::map<std::string, int>& LibraryCodes() {
  static const std::map<std::string, int> codes = [] {
    std::map<std::string, int> all;
#define JMESSAGE(code, string) all[#code] = code;
#include <jerror.h>
#undef JMESSAGE
    return all;
  }();
  return codes;
}

std::map<std::string, int> Release6aCodes() {
  std::ifstream in(QUORVEX_SOURCE_DIR "/tests/data/jpegextra/jpeg-6a-message-codes.tsv");
  std::string header, name;
  int code = 0;
  std::getline(in, header);
  std::map<std::string, int> codes;
  while (in >> code >> name) codes[name] = code;
  return codes;
}

TEST(MessageCodesTest, NamesKnownToRelease6aKeepTheirNumbers) {
  const auto release6a = Release6aCodes();
  ASSERT_EQ(release6a.size(), 120u);
  int matched = 0;
  for (const auto& [name, code] : LibraryCodes()) {
    const auto old = release6a.find(name);
    if (old == release6a.end()) continue;
    EXPECT_EQ(Release6aMessageCode(code), old->second) << name;
    ++matched;
  }
  EXPECT_GT(matched, 100);
}

// Later names of release 6a messages.
const std::map<std::string, std::string> kRenamed = {{"JERR_BAD_HUFF_TABLE", "JERR_DHT_COUNTS"}};

TEST(MessageCodesTest, RenamedMessagesKeepTheir6aNumbers) {
  const auto release6a = Release6aCodes();
  for (const auto& [name, old] : kRenamed) {
    ASSERT_TRUE(LibraryCodes().count(name)) << name;
    EXPECT_EQ(Release6aMessageCode(LibraryCodes().at(name)), release6a.at(old)) << name;
  }
}

TEST(MessageCodesTest, NewNamesGetDistinctNumbersAbove119) {
  const auto release6a = Release6aCodes();
  std::set<int> used;
  for (const auto& [name, code] : LibraryCodes()) {
    const int mapped = Release6aMessageCode(code);
    EXPECT_TRUE(used.insert(mapped).second) << name << " shares " << mapped;
    if (!release6a.count(name) && !kRenamed.count(name)) {
      EXPECT_GE(mapped, 120) << name;
    }
  }
}

TEST(MessageCodesTest, CodesTheSystemReports) {
  EXPECT_EQ(Release6aMessageCode(JERR_BAD_LIB_VERSION), 10);
  EXPECT_EQ(Release6aMessageCode(JERR_BAD_STRUCT_SIZE), 19);
  EXPECT_EQ(Release6aMessageCode(JERR_FILE_WRITE), 36);
  EXPECT_EQ(Release6aMessageCode(JERR_IMAGE_TOO_BIG), 40);
  EXPECT_EQ(Release6aMessageCode(JERR_INPUT_EMPTY), 41);
  EXPECT_EQ(Release6aMessageCode(JERR_NO_IMAGE), 50);
  EXPECT_EQ(Release6aMessageCode(JERR_NO_SOI), 52);
  EXPECT_EQ(Release6aMessageCode(JERR_OUT_OF_MEMORY), 53);
  EXPECT_EQ(Release6aMessageCode(JWRN_JPEG_EOF), 116);
}

// Files whose tables the library refuses while reading the header: `count` bytes of a cjpeg
// file set to `value` from `offset` past its first `marker`.
struct CraftedTable {
  const char* name;
  uint8_t marker;
  size_t offset, count;
  uint8_t value;
  int code;
};

class CraftedTables : public ::testing::TestWithParam<CraftedTable> {};
TEST_P(CraftedTables, RaiseThe6aCode) {
  codectest::TempDir dir;
  std::vector<uint8_t> jpeg = codectest::CjpegPattern(dir, 16, 16);
  const size_t at = codectest::FindMarker(jpeg, GetParam().marker);
  ASSERT_NE(at, std::string::npos);
  std::fill_n(jpeg.begin() + static_cast<ptrdiff_t>(at + GetParam().offset), GetParam().count,
              GetParam().value);
  TMemoryStream stream = codectest::StreamOf(jpeg);
  TJPEGImage image;
  try {
    image.LoadFromStream(stream);
    FAIL() << "loaded";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), "JPEG error #" + std::to_string(GetParam().code));
  }
}
// The 16 code-length counts of a DHT adding up to more than 256; table numbers above 3.
INSTANTIATE_TEST_SUITE_P(Files, CraftedTables,
                         ::testing::Values(CraftedTable{"DhtCounts", 0xC4, 5, 16, 0xFF, 28},
                                           CraftedTable{"DhtIndex", 0xC4, 4, 1, 0x07, 29},
                                           CraftedTable{"DqtIndex", 0xDB, 4, 1, 0x07, 30}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex
