// The library's message codes, mapped by name to the release 6a numbers.
#include <gtest/gtest.h>

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

#include "jpegextra/jpeg_message_codes.h"

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

TEST(MessageCodesTest, NewNamesGetDistinctNumbersAbove119) {
  const auto release6a = Release6aCodes();
  std::set<int> used;
  for (const auto& [name, code] : LibraryCodes()) {
    const int mapped = Release6aMessageCode(code);
    EXPECT_TRUE(used.insert(mapped).second) << name << " shares " << mapped;
    if (!release6a.count(name)) {
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

}  // namespace
}  // namespace quorvex
