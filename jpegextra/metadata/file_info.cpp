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

void First(std::string& field, const std::string& value) {
  if (field.empty()) field = value;
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

std::string TimeText(const TIptcTime& time) {
  return TwoDigits(time.Hour) + ':' + TwoDigits(time.Minute) + ':' + TwoDigits(time.Second);
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
        break;
      case kCopyrightFlagResource:
        CopyrightFlag = !block.Text.empty() && block.Text.front() == '\x01';
        continue;
      case kUrlResource:
        Url = block.Text;
        continue;
      default:
        continue;
    }
    for (const TSegmentData& dataset : block.Datasets) {
      const std::string& v = dataset.Value;
      const int number = dataset.DatasetNumber;
      if (number >= 200 && number <= 219) {
        Dataset200To219[static_cast<size_t>(number - 200)] = v;
        continue;
      }
      switch (number) {
        case 5:
          First(ObjectName, v);
          break;
        case 7:
          EditStatus = v;
          break;
        case 10: {
          const auto value = ParseInt64(v);
          Urgency = value ? static_cast<uint8_t>(*value) : 0;
          break;
        }
        case 15:
          First(Category, v);
          break;
        case 20:
          SupplementalCategories.push_back(v);
          break;
        case 22:
          FixtureIdentifier = v;
          break;
        case 25:
          Keywords.push_back(v);
          break;
        case 30:
          ReleaseDate = ParseIptcDate(v);
          break;
        case 35:
          ReleaseTime = ParseIptcTime(v);
          break;
        case 40:
          First(SpecialInstructions, v);
          break;
        case 45:
          ReferenceService = v;
          break;
        case 47:
          ReferenceDate = ParseIptcDate(v);
          break;
        case 50:
          ReferenceNumber = v;
          break;
        case 55:
          DateCreated = ParseIptcDate(v);
          break;
        case 60:
          TimeCreated = ParseIptcTime(v);
          break;
        case 65:
          OriginatingProgram = v;
          break;
        case 70:
          ProgramVersion = v;
          break;
        case 75:
          ObjectCycle = v;
          break;
        case 80:
          First(Byline, v);
          break;
        case 85:
          First(BylineTitle, v);
          break;
        case 90:
          First(City, v);
          break;
        case 92:
          SubLocation = v;
          break;
        case 95:
          First(ProvinceState, v);
          break;
        case 100:
          CountryCode = v;
          break;
        case 101:
          First(CountryName, v);
          break;
        case 103:
          First(TransmissionReference, v);
          break;
        case 105:
          First(Headline, v);
          break;
        case 110:
          First(Credit, v);
          break;
        case 115:
          First(Source, v);
          break;
        case 116:
          First(CopyrightNotice, v);
          break;
        case 120:
          First(Caption, v);
          break;
        case 121:
          Dataset121 = v;
          break;
        case 122:
          First(CaptionWriter, v);
          break;
        case 230:
          Dataset230 = v;
          break;
        case 231:
          Dataset231 = v;
          break;
        case 232:
          Dataset232 = v;
          break;
        default:
          break;
      }
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
  auto add = [&out](int number, const std::string& value) {
    if (!value.empty()) out.push_back({static_cast<uint8_t>(number), value});
  };
  out.push_back({0, std::string("\x00\x02", 2)});  // record version
  add(120, Caption);
  add(122, CaptionWriter);
  add(105, Headline);
  add(40, SpecialInstructions);
  add(5, ObjectName);
  add(90, City);
  add(95, ProvinceState);
  add(101, CountryName);
  add(15, Category);
  add(80, Byline);
  add(85, BylineTitle);
  add(110, Credit);
  add(115, Source);
  add(103, TransmissionReference);
  add(116, CopyrightNotice);
  add(7, EditStatus);
  add(22, FixtureIdentifier);
  add(45, ReferenceService);
  add(50, ReferenceNumber);
  add(65, OriginatingProgram);
  add(70, ProgramVersion);
  add(75, ObjectCycle);
  add(92, SubLocation);
  add(100, CountryCode);
  add(121, Dataset121);
  for (size_t i = 0; i < Dataset200To219.size(); ++i)
    add(200 + static_cast<int>(i), Dataset200To219[i]);
  add(230, Dataset230);
  if (!DateCreated.IsNone()) add(55, DateText(DateCreated));
  if (!ReleaseDate.IsNone()) add(30, DateText(ReleaseDate));
  if (!TimeCreated.IsNone()) add(60, TimeText(TimeCreated));
  if (!ReleaseTime.IsNone()) add(35, TimeText(ReleaseTime));
  if (!ReferenceDate.IsNone()) add(47, DateText(ReferenceDate));
  for (const std::string& keyword : Keywords) out.push_back({25, keyword});
  for (const std::string& category : SupplementalCategories) out.push_back({20, category});
  if (Urgency != 0) add(10, std::to_string(Urgency));
  segment.Resources.push_back(std::move(iptc));

  if (!Url.empty()) segment.Resources.push_back({kUrlResource, "Image URL", Url, {}});
  if (CopyrightFlag)
    segment.Resources.push_back({kCopyrightFlagResource, "Copyright Flag", "\x01", {}});
  return segment;
}

}  // namespace quorvex
