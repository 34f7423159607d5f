#include "jpegextra/metadata/metadata_json.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "jpegextra/metadata/exif_lookup.h"

namespace quorvex {

namespace {

using Json = nlohmann::ordered_json;

struct TFrame {
  int Components = 0;
  uint8_t Ids[4] = {};
  uint8_t H[4] = {};
  uint8_t V[4] = {};
};

// The first frame header of the data; nullopt when there is none before the data runs out.
std::optional<TFrame> FrameOf(std::span<const uint8_t> data) {
  size_t at = 2;
  if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  while (at + 4 <= data.size()) {
    if (data[at] != 0xFF) return std::nullopt;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    const size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || at + 2 + length > data.size()) return std::nullopt;
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      const uint8_t* p = data.data() + at + 4;
      if (length < 8) return std::nullopt;
      TFrame result;
      result.Components = p[5];
      if (result.Components < 1 || result.Components > 4 ||
          length < 8 + 3 * size_t(result.Components))
        return std::nullopt;
      for (int i = 0; i < result.Components; ++i) {
        result.Ids[i] = p[6 + 3 * i];
        result.H[i] = p[7 + 3 * i] >> 4;
        result.V[i] = p[7 + 3 * i] & 15;
      }
      return result;
    }
    if (marker == 0xDA) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

// J:a:b notation for a luma block of 4 columns: the chroma samples of its first and second row.
std::string SamplingText(const TFrame& frame) {
  if (frame.Components < 3) return "";
  const int h = frame.H[0], v = frame.V[0];
  if (h == 0 || v == 0) return "";
  for (int i = 1; i < 3; ++i)
    if (frame.H[i] != frame.H[1] || frame.V[i] != frame.V[1] || frame.H[i] == 0 ||
        frame.V[i] == 0 || h % frame.H[i] != 0 || v % frame.V[i] != 0)
      return "";
  const int a = 4 * frame.H[1] / h;
  const int b = frame.V[1] == v ? a : (v / frame.V[1] == 2 ? 0 : -1);
  if (a == 0 || b < 0) return "";
  return "4:" + std::to_string(a) + ":" + std::to_string(b);
}

std::vector<std::string_view> Items(std::string_view text) {
  std::vector<std::string_view> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

Json NumberOf(std::string_view item) {
  const size_t slash = item.find('/');
  const std::string text(item);
  if (slash == std::string_view::npos) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str() && *end == 0 ? Json(value) : Json(text);
  }
  const double num = std::strtod(text.substr(0, slash).c_str(), nullptr);
  const double den = std::strtod(text.substr(slash + 1).c_str(), nullptr);
  if (den == 0) return nullptr;
  return num / den;
}

Json NumbersOf(std::string_view value) {
  const std::vector<std::string_view> items = Items(value);
  if (items.size() == 1) return NumberOf(items[0]);
  Json list = Json::array();
  for (std::string_view item : items) list.push_back(NumberOf(item));
  return list;
}

// Undefined values are hex bytes; the version tags and comments are text.
std::string BytesText(std::string_view value, size_t skip) {
  std::string text;
  for (std::string_view item : Items(value)) {
    if (skip > 0) {
      --skip;
      continue;
    }
    const int byte = static_cast<int>(std::strtol(std::string(item).c_str(), nullptr, 16));
    if (byte != 0) text.push_back(static_cast<char>(byte));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// "YYYY:MM:DD HH:MM:SS" (the date alone for GPSDateStamp) as ISO 8601.
std::string DateText(std::string text) {
  if (text.size() >= 10 && text[4] == ':' && text[7] == ':') text[4] = text[7] = '-';
  if (text.size() >= 19 && text[10] == ' ') text[10] = 'T';
  return text;
}

double Degrees(const Json& parts) {
  if (!parts.is_array()) return parts.is_number() ? parts.get<double>() : 0.0;
  double degrees = 0, unit = 1;
  for (const Json& part : parts) {
    if (part.is_number()) degrees += part.get<double>() / unit;
    unit *= 60;
  }
  return degrees;
}

void ExifFields(const TExif& exif, Json& main, Json& gps) {
  for (const std::string& line : exif.Fields) {
    const std::string name(TStringList::NameOf(line));
    const std::string_view value = TStringList::ValueOf(line);
    const TExifLookupRecord* record = FindTagRecord(name);
    if (record == nullptr || record->Ifd == TExifIfd::Thumbnail) continue;
    Json& group = record->Ifd == TExifIfd::Gps ? gps : main;
    if (group.contains(name)) continue;
    if (name.ends_with("Version")) {
      group[name] = BytesText(value, 0);
    } else if (name == "UserComment") {
      group[name] = BytesText(value, 8);  // after the character code
    } else if (name == "GPSVersionID") {
      std::string text;
      for (std::string_view item : Items(value))
        text += (text.empty() ? "" : ".") + std::string(item);
      group[name] = text;
    } else if (record->Format == TExifFormat::Ascii) {
      group[name] = name.starts_with("DateTime") || name == "GPSDateStamp"
                        ? DateText(std::string(value))
                        : std::string(value);
    } else if (record->Format == TExifFormat::Undefined) {
      group[name] = std::string(value);
    } else {
      group[name] = NumbersOf(value);
    }
  }
  // Positions are signed decimal degrees, south, west and below sea level negative.
  const auto sign = [&](const char* name, const char* ref, char negative) {
    if (!gps.contains(name)) return;
    const double degrees = Degrees(gps[name]);
    const bool minus = gps.contains(ref) && gps[ref].is_string() &&
                       !gps[ref].get<std::string>().empty() &&
                       gps[ref].get<std::string>()[0] == negative;
    gps[name] = minus ? -degrees : degrees;
  };
  sign("GPSLatitude", "GPSLatitudeRef", 'S');
  sign("GPSLongitude", "GPSLongitudeRef", 'W');
  sign("GPSDestLatitude", "GPSDestLatitudeRef", 'S');
  sign("GPSDestLongitude", "GPSDestLongitudeRef", 'W');
  if (gps.contains("GPSAltitude") && gps["GPSAltitude"].is_number() &&
      gps.value("GPSAltitudeRef", Json(0)) == Json(1))
    gps["GPSAltitude"] = -gps["GPSAltitude"].get<double>();
  if (gps.contains("GPSTimeStamp") && gps["GPSTimeStamp"].is_array() &&
      gps["GPSTimeStamp"].size() == 3) {
    // Whole hours, minutes and seconds, bounded so that no file's numbers overflow.
    const auto whole = [](const Json& part) {
      return part.is_number() ? static_cast<int>(std::clamp(part.get<double>(), 0.0, 99.0)) : 0;
    };
    const Json& t = gps["GPSTimeStamp"];
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", whole(t[0]), whole(t[1]), whole(t[2]));
    gps["GPSTimeStamp"] = text;
  }
}

std::string IptcDate(const TIptcDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
  return text;
}

std::string IptcTime(const TIptcTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.Hour, time.Minute, time.Second);
  return text;
}

Json IptcFields(const TFileInfo& info) {
  Json fields = Json::object();
  const auto text = [&](const char* name, const std::string& value) {
    if (!value.empty()) fields[name] = value;
  };
  const auto list = [&](const char* name, const std::vector<std::string>& values) {
    if (!values.empty()) fields[name] = values;
  };
  const auto date = [&](const char* name, const TIptcDate& value) {
    if (!value.IsNone()) fields[name] = IptcDate(value);
  };
  const auto time = [&](const char* name, const TIptcTime& value) {
    if (!value.IsNone()) fields[name] = IptcTime(value);
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
  text("CaptionWriter", info.CaptionWriter);
  if (info.CopyrightFlag) fields["CopyrightFlag"] = true;
  text("Url", info.Url);
  return fields;
}

// The name="value" attributes of a description, less the namespace declarations and rdf's own.
void XmpAttributes(std::string_view tag, Json& fields) {
  size_t at = 0;
  while (at < tag.size()) {
    const size_t eq = tag.find('=', at);
    if (eq == std::string_view::npos || eq + 1 >= tag.size()) return;
    const char quote = tag[eq + 1];
    const size_t end = tag.find(quote, eq + 2);
    if ((quote != '"' && quote != '\'') || end == std::string_view::npos) return;
    const size_t space = tag.find_last_of(" \t\r\n", eq);
    const size_t from = space == std::string_view::npos ? 0 : space + 1;
    const std::string_view key = tag.substr(from, eq - from);
    if (!key.starts_with("xmlns") && !key.starts_with("rdf:") && key.find(':') != key.npos)
      fields[std::string(key)] = std::string(tag.substr(eq + 2, end - eq - 2));
    at = end + 1;
  }
}

// The simple properties of an XMP packet, in one pass: attributes of its descriptions, and
// elements holding only text or a list of rdf:li texts, by their prefixed names.
Json XmpFields(std::string_view xml) {
  struct TOpen {
    std::string_view Name;
    size_t TextStart;
    bool HasChildren = false;
    bool Nested = false;  // a list item with structure of its own
    Json Items = Json::array();
  };
  const auto isProperty = [](std::string_view name) {
    return !name.starts_with("rdf:") && !name.starts_with("x:");
  };
  Json fields = Json::object();
  std::vector<TOpen> open;
  size_t at = 0;
  while ((at = xml.find('<', at)) != std::string_view::npos) {
    const size_t tagStart = at;
    const size_t close = xml.find('>', at);
    if (close == std::string_view::npos) break;
    std::string_view tag = xml.substr(at + 1, close - at - 1);
    at = close + 1;
    if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
    if (tag[0] == '/') {
      const std::string_view name = tag.substr(1, tag.find_first_of(" \t\r\n", 1) - 1);
      if (open.empty() || open.back().Name != name) continue;
      TOpen done = std::move(open.back());
      open.pop_back();
      const std::string text(xml.substr(done.TextStart, tagStart - done.TextStart));
      if (name == "rdf:li") {
        // The item belongs to the nearest property above its list.
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
          if (!isProperty(it->Name)) continue;
          if (done.HasChildren)
            it->Nested = true;
          else
            it->Items.push_back(text);
          break;
        }
      } else if (isProperty(name)) {
        if (!done.HasChildren)
          fields[std::string(name)] = text;
        else if (!done.Items.empty() && !done.Nested)
          fields[std::string(name)] = done.Items.size() == 1 ? done.Items[0] : done.Items;
      }
      continue;
    }
    const bool empty = tag.back() == '/';
    if (empty) tag.remove_suffix(1);
    const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n"));
    if (name == "rdf:Description") XmpAttributes(tag.substr(name.size()), fields);
    if (!open.empty()) open.back().HasChildren = true;
    if (!empty) open.push_back({name, at});
  }
  return fields;
}

std::string Trimmed(std::string_view text) {
  std::string result(text);
  while (!result.empty() && (result.back() == ' ' || result.back() == 0)) result.pop_back();
  return result;
}

Json IccFields(const TICCProfile& profile, const std::string& description) {
  Json fields = Json::object();
  const std::span<const uint8_t> bytes = profile.ProfileData.Bytes();
  fields["Size"] = bytes.size();
  if (!description.empty()) fields["ProfileDescription"] = description;
  if (bytes.size() >= 128) {
    const auto text = [&](size_t at) {
      return Trimmed({reinterpret_cast<const char*>(bytes.data() + at), 4});
    };
    char version[16];
    std::snprintf(version, sizeof version, "%d.%d.%d", bytes[8], bytes[9] >> 4, bytes[9] & 15);
    fields["ProfileVersion"] = version;
    fields["ProfileClass"] = text(12);
    fields["ColorSpaceData"] = text(16);
    fields["ProfileConnectionSpace"] = text(20);
  }
  return fields;
}

}  // namespace

TPictureFacts PictureFactsOf(const TJPEGImageExtra& jpeg) {
  TPictureFacts facts;
  facts.Progressive = jpeg.Progressive();
  facts.Quality = std::max(jpeg.EstimatedQuality(), 0);
  const TMemoryStream* data = jpeg.Data();
  const std::optional<TFrame> frame = data ? FrameOf(data->Bytes()) : std::nullopt;
  if (!frame) return facts;
  switch (frame->Components) {
    case 1:
      facts.ColorSpace = "Gray";
      break;
    case 3:
      facts.ColorSpace =
          frame->Ids[0] == 'R' && frame->Ids[1] == 'G' && frame->Ids[2] == 'B' ? "RGB" : "YCbCr";
      break;
    case 4:
      facts.ColorSpace = jpeg.ColorKind() == TColorKind::Cmyk ? "CMYK" : "YCCK";
      break;
  }
  facts.ChromaSampling = SamplingText(*frame);
  return facts;
}

std::string MetadataJson(const TKeptMetadata& kept, const TPictureFacts& facts,
                         const std::string& profileDescription) {
  Json json = Json::object();
  json["ColorSpace"] = facts.ColorSpace;
  json["Progressive"] = facts.Progressive;
  if (!facts.ChromaSampling.empty()) json["ChromaSampling"] = facts.ChromaSampling;
  json["Quality"] = facts.Quality;
  json["ProfileDescription"] = profileDescription;
  Json exif = Json::object(), gps = Json::object();
  ExifFields(kept.Exif, exif, gps);
  if (!exif.empty()) json["EXIF"] = std::move(exif);
  if (!gps.empty()) json["GPS"] = std::move(gps);
  if (Json iptc = IptcFields(kept.FileInfo); !iptc.empty()) json["IPTC"] = std::move(iptc);
  if (!kept.Raw.Xmp.empty()) {
    const std::string_view packet(reinterpret_cast<const char*>(kept.Raw.Xmp.data()),
                                  kept.Raw.Xmp.size());
    if (Json xmp = XmpFields(packet); !xmp.empty()) json["XMP"] = std::move(xmp);
  }
  if (kept.IccProfile.Size() > 0) json["ICC"] = IccFields(kept.IccProfile, profileDescription);
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quorvex
