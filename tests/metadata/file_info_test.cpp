// TFileInfo: merge rules, date and time rules, the built segment and the full round trip.
#include "jpegextra/metadata/file_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex {
namespace {

TBIMSegment Iptc(TSegmentList datasets) {
  return {kIptcResource, "", "", std::move(datasets)};
}

TFileInfo Merged(std::vector<TBIMSegment> blocks) {
  TApp14Segment segment;
  segment.Resources = std::move(blocks);
  TFileInfo info;
  info.MergeSegment(segment);
  return info;
}

TEST(FileInfoMerge, FirstAndLastRules) {
  const TFileInfo info = Merged({Iptc({{120, "first caption"},
                                       {120, "second caption"},
                                       {25, "k1"},
                                       {25, "k2"},
                                       {7, "edit 1"},
                                       {7, "edit 2"},
                                       {20, "s1"},
                                       {120, ""}})});
  EXPECT_EQ(info.Caption, "first caption");
  EXPECT_EQ(info.Keywords, (std::vector<std::string>{"k1", "k2"}));
  EXPECT_EQ(info.EditStatus, "edit 2");
  EXPECT_EQ(info.SupplementalCategories, std::vector<std::string>{"s1"});
}

TEST(FileInfoMerge, AFirstFieldTakesTheFirstNonEmptyValue) {
  const TFileInfo info = Merged({Iptc({{80, ""}, {80, "author"}, {80, "other"}})});
  EXPECT_EQ(info.Byline, "author");
}

TEST(FileInfoMerge, MergingASecondSegmentDoesNotClear) {
  TFileInfo info = Merged({Iptc({{120, "one"}, {92, "loc one"}})});
  TApp14Segment second;
  second.Resources.push_back(Iptc({{120, "two"}, {92, "loc two"}, {25, "k"}}));
  info.MergeSegment(second);
  EXPECT_EQ(info.Caption, "one");
  EXPECT_EQ(info.SubLocation, "loc two");
  EXPECT_EQ(info.Keywords, std::vector<std::string>{"k"});
}

TEST(FileInfoMerge, AnIptcBlockWithoutDatasetsEndsTheMerge) {
  const TFileInfo info = Merged({{kUrlResource, "", "http://first", {}},
                                 Iptc({}),
                                 {kUrlResource, "", "http://late", {}},
                                 Iptc({{120, "late"}})});
  EXPECT_EQ(info.Url, "http://first");
  EXPECT_EQ(info.Caption, "");
}

TEST(FileInfoMerge, CopyrightFlagAndUrl) {
  EXPECT_TRUE(Merged({{kCopyrightFlagResource, "", std::string("\x01\x00", 2), {}}}).CopyrightFlag);
  EXPECT_FALSE(Merged({{kCopyrightFlagResource, "", "", {}}}).CopyrightFlag);
  EXPECT_FALSE(
      Merged({{kCopyrightFlagResource, "", std::string("\x00\x01", 2), {}}}).CopyrightFlag);
  EXPECT_EQ(Merged({{kUrlResource, "", "a", {}}, {kUrlResource, "", "b", {}}}).Url, "b");
}

TEST(FileInfoMerge, UrgencyIsTheLow8BitsOfANumber) {
  EXPECT_EQ(Merged({Iptc({{10, "5"}})}).Urgency, 5);
  EXPECT_EQ(Merged({Iptc({{10, "261"}})}).Urgency, 5);
  EXPECT_EQ(Merged({Iptc({{10, "5"}, {10, "high"}})}).Urgency, 0);
}

TEST(FileInfoMerge, EveryNumberedFieldLandsInItsPlace) {
  const TFileInfo info = Merged({Iptc(
      {{5, "a"},   {15, "b"},  {22, "c"},  {40, "d"},  {45, "e"},  {50, "f"},       {65, "g"},
       {70, "h"},  {75, "i"},  {85, "j"},  {90, "k"},  {95, "l"},  {100, "m"},      {101, "n"},
       {103, "o"}, {105, "p"}, {110, "q"}, {115, "r"}, {116, "s"}, {121, "t"},      {122, "u"},
       {200, "v"}, {219, "w"}, {230, "x"}, {231, "y"}, {232, "z"}, {199, "ignored"}})});
  const std::vector<std::string> got = {info.ObjectName,
                                        info.Category,
                                        info.FixtureIdentifier,
                                        info.SpecialInstructions,
                                        info.ReferenceService,
                                        info.ReferenceNumber,
                                        info.OriginatingProgram,
                                        info.ProgramVersion,
                                        info.ObjectCycle,
                                        info.BylineTitle,
                                        info.City,
                                        info.ProvinceState,
                                        info.CountryCode,
                                        info.CountryName,
                                        info.TransmissionReference,
                                        info.Headline,
                                        info.Credit,
                                        info.Source,
                                        info.CopyrightNotice,
                                        info.Dataset121,
                                        info.CaptionWriter,
                                        info.Dataset200To219[0],
                                        info.Dataset200To219[19],
                                        info.Dataset230,
                                        info.Dataset231,
                                        info.Dataset232};
  std::vector<std::string> expected;
  for (char c = 'a'; c <= 'z'; ++c) expected.emplace_back(1, c);
  EXPECT_EQ(got, expected);
}

struct DateCase {
  const char* Text;
  TIptcDate Date;
};
class IptcDateRule : public ::testing::TestWithParam<DateCase> {};
TEST_P(IptcDateRule, Parses) {
  EXPECT_EQ(ParseIptcDate(GetParam().Text), GetParam().Date);
}
INSTANTIATE_TEST_SUITE_P(Texts, IptcDateRule,
                         ::testing::Values(DateCase{"20050228", {2005, 2, 28}},
                                           DateCase{"20050230", {}},
                                           DateCase{"20040229", {2004, 2, 29}},
                                           DateCase{"19000229", {}}, DateCase{"00000101", {}},
                                           DateCase{"20051300", {}}, DateCase{"2005-02-", {}},
                                           DateCase{"2005", {}}, DateCase{"", {}},
                                           DateCase{"20050228T", {2005, 2, 28}}));

struct TimeCase {
  const char* Text;
  TIptcTime Time;
};
class IptcTimeRule : public ::testing::TestWithParam<TimeCase> {};
TEST_P(IptcTimeRule, Parses) {
  EXPECT_EQ(ParseIptcTime(GetParam().Text), GetParam().Time);
}
INSTANTIATE_TEST_SUITE_P(Texts, IptcTimeRule,
                         ::testing::Values(TimeCase{"143000+0100", {14, 30, 0}},
                                           TimeCase{"14:30:00", {14, 30, 0}},
                                           TimeCase{"143000", {14, 30, 0}},
                                           TimeCase{"14.30.05", {14, 30, 5}},
                                           TimeCase{"14-30-05", {14, 30, 5}}, TimeCase{"14300", {}},
                                           TimeCase{"240000", {}}, TimeCase{"126000", {}},
                                           TimeCase{"12:30:", {}}, TimeCase{"ab:cd:ef", {}}));

TEST(FileInfoBuild, CaptionOnly) {
  TFileInfo info;
  info.Caption = "A caption";
  const TApp14Segment segment = info.BuildSegment();
  EXPECT_EQ(segment.Header, "Photoshop 3.0");
  ASSERT_EQ(segment.Resources.size(), 1u);
  const TBIMSegment& block = segment.Resources[0];
  EXPECT_EQ(block.ResourceId, kIptcResource);
  EXPECT_EQ(block.ResourceName, "Caption");
  EXPECT_EQ(block.Datasets, (TSegmentList{{0, std::string("\x00\x04", 2)}, {120, "A caption"}}));
  EXPECT_EQ(block.DataSize(), 5u + 2 + 5 + 9);

  TMemoryStream out;
  segment.WriteSegment(out);
  const std::string bytes(out.Bytes().begin(), out.Bytes().end());
  const std::string expected =
      std::string("\xFF\xED\x00\x38", 4) + std::string("Photoshop 3.0", 14) + "8BIM" +
      std::string("\x04\x04\x07", 3) + "Caption" + std::string("\x00\x00\x00\x15", 4) +
      std::string("\x1C\x02\x00\x00\x02\x00\x04", 7) + std::string("\x1C\x02\x78\x00\x09", 5) +
      "A caption" + std::string(1, '\0');
  EXPECT_EQ(bytes, expected);
}

TEST(FileInfoBuild, OrderDatesTimesListsAndExtraBlocks) {
  TFileInfo info;
  info.Urgency = 3;
  info.Keywords = {"k1", "k2"};
  info.SupplementalCategories = {"s"};
  info.ReferenceDate = {1999, 12, 31};
  info.TimeCreated = {9, 5, 7};
  info.ReleaseDate = {2001, 2, 3};
  info.ObjectName = "name";
  info.Caption = "cap";
  info.Dataset231 = "not written";
  info.Url = "http://x";
  info.CopyrightFlag = true;
  const TApp14Segment segment = info.BuildSegment();
  ASSERT_EQ(segment.Resources.size(), 3u);
  EXPECT_EQ(segment.Resources[0].Datasets, (TSegmentList{{0, std::string("\x00\x04", 2)},
                                                         {120, "cap"},
                                                         {5, "name"},
                                                         {30, "20010203"},
                                                         {60, "090507+0000"},
                                                         {47, "19991231"},
                                                         {25, "k1"},
                                                         {25, "k2"},
                                                         {20, "s"},
                                                         {10, "3"}}));
  EXPECT_EQ(segment.Resources[1].ResourceId, kUrlResource);
  EXPECT_EQ(segment.Resources[1].ResourceName, "Image URL");
  EXPECT_EQ(segment.Resources[1].Text, "http://x");
  EXPECT_EQ(segment.Resources[2].ResourceId, kCopyrightFlagResource);
  EXPECT_EQ(segment.Resources[2].ResourceName, "Copyright Flag");
  EXPECT_EQ(segment.Resources[2].Text, "\x01");
}

TFileInfo EveryField() {
  TFileInfo info;
  std::string* texts[] = {&info.ObjectName,
                          &info.EditStatus,
                          &info.Category,
                          &info.FixtureIdentifier,
                          &info.SpecialInstructions,
                          &info.ReferenceService,
                          &info.ReferenceNumber,
                          &info.OriginatingProgram,
                          &info.ProgramVersion,
                          &info.ObjectCycle,
                          &info.Byline,
                          &info.BylineTitle,
                          &info.City,
                          &info.SubLocation,
                          &info.ProvinceState,
                          &info.CountryCode,
                          &info.CountryName,
                          &info.TransmissionReference,
                          &info.Headline,
                          &info.Credit,
                          &info.Source,
                          &info.CopyrightNotice,
                          &info.Caption,
                          &info.Dataset121,
                          &info.CaptionWriter,
                          &info.Dataset230};
  int i = 0;
  for (std::string* text : texts) *text = "value " + std::to_string(++i) + " \xC3\xA9";
  for (auto& text : info.Dataset200To219) text = "extra " + std::to_string(++i);
  info.Urgency = 8;
  info.SupplementalCategories = {"sc1", "", "sc3"};
  info.Keywords = {"alpha", "beta", "gamma"};
  info.ReleaseDate = {2005, 2, 28};
  info.ReleaseTime = {23, 59, 59};
  info.ReferenceDate = {812, 1, 1};
  info.DateCreated = {2024, 12, 31};
  info.TimeCreated = {0, 0, 1};
  info.CopyrightFlag = true;
  info.Url = "https://example.invalid/a?b=c";
  return info;
}

class FileInfoRoundTrip : public ::testing::TestWithParam<TFileInfo> {};

TEST_P(FileInfoRoundTrip, MergeParseWriteBuildGivesBackTheFields) {
  const TFileInfo& original = GetParam();
  TMemoryStream written;
  original.BuildSegment().WriteSegment(written);
  ASSERT_GT(written.Size(), 4u);
  TMemoryStream payload;
  written.Seek(4);
  payload.CopyFrom(written, written.Size() - 4);
  TApp14Segment parsed;
  parsed.ParseSegment(payload);
  TFileInfo back;
  back.MergeSegment(parsed);
  EXPECT_EQ(back, original);
}

TFileInfo CaptionOnlyInfo() {
  TFileInfo info;
  info.Caption = "only";
  return info;
}

INSTANTIATE_TEST_SUITE_P(Infos, FileInfoRoundTrip,
                         ::testing::Values(TFileInfo(), CaptionOnlyInfo(), EveryField()));

TEST(FileInfo, ClearAndAssign) {
  TFileInfo info = EveryField();
  info.HasPhotoshopData = true;
  TFileInfo copy;
  copy.Assign(info);
  EXPECT_EQ(copy, info);
  EXPECT_TRUE(copy.HasPhotoshopData);
  copy.Clear();
  EXPECT_EQ(copy, TFileInfo());
}

}  // namespace
}  // namespace quorvex
