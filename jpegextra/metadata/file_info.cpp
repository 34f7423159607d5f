#include "jpegextra/metadata/file_info.h"

#include <chrono>
#include <cstdio>

#include "jpegextra/metadata/number_text.h"

namespace quorvex {
namespace {

// Digits only, at most 4 of them; -1 otherwise.
int Digits(std::string_view text) noexcept {
  if (text.empty() || text.size() > 4) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view Part(std::string_view text, size_t from, size_t length) noexcept {
  return from < text.size() ? text.substr(from, length) : std::string_view();
}

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::string DateText(const TIptcDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.Year, date.Month, date.Day);
  return text;
}

// The standard's HHMMSS±HHMM; the fields hold no zone, so the time is written as it is, at +0000.
std::string TimeText(const TIptcTime& time) {
  return TwoDigits(time.Hour) + TwoDigits(time.Minute) + TwoDigits(time.Second) + "+0000";
}

// Record-2 dataset numbers of the named fields.
enum TIptcDataset : uint8_t {
  kRecordVersion = 0,
  kObjectName = 5,
  kEditStatus = 7,
  kUrgency = 10,
  kCategory = 15,
  kSupplementalCategories = 20,
  kFixtureIdentifier = 22,
  kKeywords = 25,
  kReleaseDate = 30,
  kReleaseTime = 35,
  kSpecialInstructions = 40,
  kReferenceService = 45,
  kReferenceDate = 47,
  kReferenceNumber = 50,
  kDateCreated = 55,
  kTimeCreated = 60,
  kOriginatingProgram = 65,
  kProgramVersion = 70,
  kObjectCycle = 75,
  kByline = 80,
  kBylineTitle = 85,
  kCity = 90,
  kSubLocation = 92,
  kProvinceState = 95,
  kCountryCode = 100,
  kCountryName = 101,
  kTransmissionReference = 103,
  kHeadline = 105,
  kCredit = 110,
  kSource = 115,
  kCopyrightNotice = 116,
  kCaption = 120,
  kDataset121 = 121,
  kCaptionWriter = 122,
  kDataset200 = 200,  // 200 ... 219 fill Dataset200To219
  kDataset219 = 219,
  kDataset230 = 230,
  kDataset231 = 231,
  kDataset232 = 232,
};

// How a dataset merges into its field.
enum class TMerge : uint8_t {
  First,    // text; an earlier non-empty value is kept
  Last,     // text; the latest value wins
  List,     // text appended to a list
  Date,     // latest value, by the date rule
  Time,     // latest value, by the time rule
  Integer,  // latest value as an integer, 0 when it is not one
};

// One named field: its dataset, its merge rule and the member it fills (set for the rule's type).
struct TFieldRule {
  uint8_t Dataset;
  TMerge Merge;
  std::string TFileInfo::*Text = nullptr;
  std::vector<std::string> TFileInfo::*List = nullptr;
  TIptcDate TFileInfo::*Date = nullptr;
  TIptcTime TFileInfo::*Time = nullptr;
  uint8_t TFileInfo::*Integer = nullptr;
};

constexpr TFieldRule Field(uint8_t dataset, TMerge merge, std::string TFileInfo::*member) {
  return {dataset, merge, member};
}
constexpr TFieldRule Field(uint8_t dataset, TMerge merge,
                           std::vector<std::string> TFileInfo::*member) {
  return {dataset, merge, nullptr, member};
}
constexpr TFieldRule Field(uint8_t dataset, TMerge merge, TIptcDate TFileInfo::*member) {
  return {dataset, merge, nullptr, nullptr, member};
}
constexpr TFieldRule Field(uint8_t dataset, TMerge merge, TIptcTime TFileInfo::*member) {
  return {dataset, merge, nullptr, nullptr, nullptr, member};
}
constexpr TFieldRule Field(uint8_t dataset, TMerge merge, uint8_t TFileInfo::*member) {
  return {dataset, merge, nullptr, nullptr, nullptr, nullptr, member};
}

using enum TMerge;
using F = TFileInfo;

// The merge rule of every named dataset but 200 ... 219; datasets not listed are ignored.
constexpr TFieldRule kFieldRules[] = {
    Field(kObjectName, First, &F::ObjectName),
    Field(kEditStatus, Last, &F::EditStatus),
    Field(kUrgency, Integer, &F::Urgency),
    Field(kCategory, First, &F::Category),
    Field(kSupplementalCategories, List, &F::SupplementalCategories),
    Field(kFixtureIdentifier, Last, &F::FixtureIdentifier),
    Field(kKeywords, List, &F::Keywords),
    Field(kReleaseDate, Date, &F::ReleaseDate),
    Field(kReleaseTime, Time, &F::ReleaseTime),
    Field(kSpecialInstructions, First, &F::SpecialInstructions),
    Field(kReferenceService, Last, &F::ReferenceService),
    Field(kReferenceDate, Date, &F::ReferenceDate),
    Field(kReferenceNumber, Last, &F::ReferenceNumber),
    Field(kDateCreated, Date, &F::DateCreated),
    Field(kTimeCreated, Time, &F::TimeCreated),
    Field(kOriginatingProgram, Last, &F::OriginatingProgram),
    Field(kProgramVersion, Last, &F::ProgramVersion),
    Field(kObjectCycle, Last, &F::ObjectCycle),
    Field(kByline, First, &F::Byline),
    Field(kBylineTitle, First, &F::BylineTitle),
    Field(kCity, First, &F::City),
    Field(kSubLocation, Last, &F::SubLocation),
    Field(kProvinceState, First, &F::ProvinceState),
    Field(kCountryCode, Last, &F::CountryCode),
    Field(kCountryName, First, &F::CountryName),
    Field(kTransmissionReference, First, &F::TransmissionReference),
    Field(kHeadline, First, &F::Headline),
    Field(kCredit, First, &F::Credit),
    Field(kSource, First, &F::Source),
    Field(kCopyrightNotice, First, &F::CopyrightNotice),
    Field(kCaption, First, &F::Caption),
    Field(kDataset121, Last, &F::Dataset121),
    Field(kCaptionWriter, First, &F::CaptionWriter),
    Field(kDataset230, Last, &F::Dataset230),
    Field(kDataset231, Last, &F::Dataset231),
    Field(kDataset232, Last, &F::Dataset232),
};

// Every row's member is the one its rule fills.
constexpr bool RulesFitMembers() {
  for (const TFieldRule& rule : kFieldRules) {
    const bool text = rule.Merge == First || rule.Merge == Last;
    if (text != (rule.Text != nullptr) || (rule.Merge == List) != (rule.List != nullptr) ||
        (rule.Merge == Date) != (rule.Date != nullptr) ||
        (rule.Merge == Time) != (rule.Time != nullptr) ||
        (rule.Merge == Integer) != (rule.Integer != nullptr))
      return false;
  }
  return true;
}
static_assert(RulesFitMembers());

void MergeDataset(TFileInfo& info, const TSegmentData& dataset) {
  const std::string& v = dataset.Value;
  const uint8_t number = dataset.DatasetNumber;
  if (number >= kDataset200 && number <= kDataset219) {
    info.Dataset200To219[static_cast<size_t>(number - kDataset200)] = v;
    return;
  }
  for (const TFieldRule& rule : kFieldRules) {
    if (rule.Dataset != number) continue;
    switch (rule.Merge) {
      case First:
        if ((info.*rule.Text).empty()) info.*rule.Text = v;
        break;
      case Last:
        info.*rule.Text = v;
        break;
      case List:
        (info.*rule.List).push_back(v);
        break;
      case Date:
        info.*rule.Date = ParseIptcDate(v);
        break;
      case Time:
        info.*rule.Time = ParseIptcTime(v);
        break;
      case Integer: {
        const auto value = ParseInt64(v);
        info.*rule.Integer = value ? static_cast<uint8_t>(*value) : 0;
        break;
      }
    }
    return;
  }
}

}  // namespace

TIptcDate ParseIptcDate(std::string_view value) noexcept {
  const int year = Digits(Part(value, 0, 4));
  const int month = Digits(Part(value, 4, 2));
  const int day = Digits(Part(value, 6, 2));
  if (year <= 0 || month <= 0 || day <= 0) return {};
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return {};
  return {year, month, day};
}

TIptcTime ParseIptcTime(std::string_view value) noexcept {
  if (value.size() <= 5) return {};
  const bool separated = value[2] == '-' || value[2] == '.' || value[2] == ':';
  const size_t step = separated ? 3 : 2;
  const int hour = Digits(Part(value, 0, 2));
  const int minute = Digits(Part(value, step, 2));
  const int second = Digits(Part(value, 2 * step, 2));
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return {};
  return {hour, minute, second};
}

void TFileInfo::MergeSegment(const TApp14Segment& segment) {
  for (const TBIMSegment& block : segment.Resources) {
    switch (block.ResourceId) {
      case kIptcResource:
        // An IPTC block without record-2 datasets ends the merge.
        if (block.Datasets.empty()) return;
        for (const TSegmentData& dataset : block.Datasets) MergeDataset(*this, dataset);
        break;
      case kCopyrightFlagResource:
        CopyrightFlag = !block.Text.empty() && block.Text.front() == '\x01';
        break;
      case kUrlResource:
        Url = block.Text;
        break;
      default:
        break;
    }
  }
}

TApp14Segment TFileInfo::BuildSegment() const {
  TApp14Segment segment;
  segment.Header = "Photoshop 3.0";
  TBIMSegment iptc;
  iptc.ResourceId = kIptcResource;
  iptc.ResourceName = "Caption";
  TSegmentList& out = iptc.Datasets;
  auto add = [&out](uint8_t number, const std::string& value) {
    if (!value.empty()) out.push_back({number, value});
  };
  // The record version of the current standard, 4.
  out.push_back({kRecordVersion, std::string("\x00\x04", 2)});
  add(kCaption, Caption);
  add(kCaptionWriter, CaptionWriter);
  add(kHeadline, Headline);
  add(kSpecialInstructions, SpecialInstructions);
  add(kObjectName, ObjectName);
  add(kCity, City);
  add(kProvinceState, ProvinceState);
  add(kCountryName, CountryName);
  add(kCategory, Category);
  add(kByline, Byline);
  add(kBylineTitle, BylineTitle);
  add(kCredit, Credit);
  add(kSource, Source);
  add(kTransmissionReference, TransmissionReference);
  add(kCopyrightNotice, CopyrightNotice);
  add(kEditStatus, EditStatus);
  add(kFixtureIdentifier, FixtureIdentifier);
  add(kReferenceService, ReferenceService);
  add(kReferenceNumber, ReferenceNumber);
  add(kOriginatingProgram, OriginatingProgram);
  add(kProgramVersion, ProgramVersion);
  add(kObjectCycle, ObjectCycle);
  add(kSubLocation, SubLocation);
  add(kCountryCode, CountryCode);
  add(kDataset121, Dataset121);
  for (size_t i = 0; i < Dataset200To219.size(); ++i)
    add(static_cast<uint8_t>(kDataset200 + i), Dataset200To219[i]);
  add(kDataset230, Dataset230);
  if (!DateCreated.IsNone()) add(kDateCreated, DateText(DateCreated));
  if (!ReleaseDate.IsNone()) add(kReleaseDate, DateText(ReleaseDate));
  if (!TimeCreated.IsNone()) add(kTimeCreated, TimeText(TimeCreated));
  if (!ReleaseTime.IsNone()) add(kReleaseTime, TimeText(ReleaseTime));
  if (!ReferenceDate.IsNone()) add(kReferenceDate, DateText(ReferenceDate));
  for (const std::string& keyword : Keywords) out.push_back({kKeywords, keyword});
  for (const std::string& category : SupplementalCategories)
    out.push_back({kSupplementalCategories, category});
  if (Urgency != 0) add(kUrgency, std::to_string(Urgency));
  segment.Resources.push_back(std::move(iptc));

  if (!Url.empty()) segment.Resources.push_back({kUrlResource, "Image URL", Url, {}});
  if (CopyrightFlag)
    segment.Resources.push_back({kCopyrightFlagResource, "Copyright Flag", "\x01", {}});
  return segment;
}

}  // namespace quorvex
