#include "tools/metadata_report.h"

#include <cstdio>

#include "component/file_access.h"
#include "jpegextra/metadata/jpeg_image_extra.h"

namespace quorvex::tools {

namespace {

std::string DateText(const TIptcDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
  return text;
}

std::string TimeText(const TIptcTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.Hour, time.Minute, time.Second);
  return text;
}

nlohmann::ordered_json IptcFields(const TFileInfo& info) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  const auto text = [&](const char* name, const std::string& value) {
    if (!value.empty()) fields[name] = value;
  };
  const auto list = [&](const char* name, const std::vector<std::string>& values) {
    if (!values.empty()) fields[name] = values;
  };
  const auto date = [&](const char* name, const TIptcDate& value) {
    if (!value.IsNone()) fields[name] = DateText(value);
  };
  const auto time = [&](const char* name, const TIptcTime& value) {
    if (!value.IsNone()) fields[name] = TimeText(value);
  };
  text("ObjectName", info.ObjectName);
  text("EditStatus", info.EditStatus);
  if (info.Urgency != 0) fields["Urgency"] = info.Urgency;
  text("Category", info.Category);
  list("SupplementalCategories", info.SupplementalCategories);
  text("FixtureIdentifier", info.FixtureIdentifier);
  list("Keywords", info.Keywords);
  date("ReleaseDate", info.ReleaseDate);
  time("ReleaseTime", info.ReleaseTime);
  text("SpecialInstructions", info.SpecialInstructions);
  text("ReferenceService", info.ReferenceService);
  date("ReferenceDate", info.ReferenceDate);
  text("ReferenceNumber", info.ReferenceNumber);
  date("DateCreated", info.DateCreated);
  time("TimeCreated", info.TimeCreated);
  text("OriginatingProgram", info.OriginatingProgram);
  text("ProgramVersion", info.ProgramVersion);
  text("ObjectCycle", info.ObjectCycle);
  text("Byline", info.Byline);
  text("BylineTitle", info.BylineTitle);
  text("City", info.City);
  text("SubLocation", info.SubLocation);
  text("ProvinceState", info.ProvinceState);
  text("CountryCode", info.CountryCode);
  text("CountryName", info.CountryName);
  text("TransmissionReference", info.TransmissionReference);
  text("Headline", info.Headline);
  text("Credit", info.Credit);
  text("Source", info.Source);
  text("CopyrightNotice", info.CopyrightNotice);
  text("Caption", info.Caption);
  text("Dataset121", info.Dataset121);
  text("CaptionWriter", info.CaptionWriter);
  for (size_t i = 0; i < info.Dataset200To219.size(); ++i)
    text(("Dataset" + std::to_string(200 + i)).c_str(), info.Dataset200To219[i]);
  text("Dataset230", info.Dataset230);
  text("Dataset231", info.Dataset231);
  text("Dataset232", info.Dataset232);
  if (info.CopyrightFlag) fields["CopyrightFlag"] = true;
  text("Url", info.Url);
  return fields;
}

}  // namespace

MetadataReport ReadMetadataReport(const std::string& path) {
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const std::exception&) {
    return MetadataReport();
  }
  return MetadataReportOf(std::move(bytes));
}

MetadataReport MetadataReportOf(std::vector<uint8_t> bytes) {
  MetadataReport report;
  try {
    TJPEGImageExtra jpeg;
    jpeg.SetUseIccProfile(true);
    jpeg.LoadFromBytes(std::move(bytes));
    report.quality = jpeg.EstimatedQuality();
    for (const std::string& line : jpeg.Exif().Fields) {
      const std::string name(TStringList::NameOf(line));
      if (!report.exif.contains(name)) report.exif[name] = std::string(TStringList::ValueOf(line));
    }
    report.iptc = IptcFields(jpeg.FileInfo());
    report.iccBytes = jpeg.IccProfile().Size();
  } catch (const std::exception&) {
    // The object has read the file already; whatever it made of it stands.
  }
  return report;
}

}  // namespace quorvex::tools
