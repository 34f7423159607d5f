#include "jpegextra/metadata/metadata_parts.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace quorvex {
namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

struct PartName {
  std::string_view Name;
  bool TMetadataParts::*Field;
};
constexpr PartName kPartNames[] = {{"exif", &TMetadataParts::Exif},
                                   {"gps", &TMetadataParts::Gps},
                                   {"iptc", &TMetadataParts::Iptc},
                                   {"xmp", &TMetadataParts::Xmp},
                                   {"icc", &TMetadataParts::Icc}};

}  // namespace

std::optional<TMetadataParts> ParseMetadataParts(std::string_view list) {
  TMetadataParts parts;
  if (Trimmed(list).empty()) return parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string name = Lowered(Trimmed(list.substr(start, comma - start)));
    const auto known = std::find_if(std::begin(kPartNames), std::end(kPartNames),
                                    [&](const PartName& p) { return p.Name == name; });
    if (known == std::end(kPartNames)) return std::nullopt;
    parts.*(known->Field) = true;
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

std::string MetadataPartsText(const TMetadataParts& parts) {
  std::string text;
  for (const PartName& p : kPartNames)
    if (parts.*(p.Field)) text += (text.empty() ? "" : ",") + std::string(p.Name);
  return text;
}

}  // namespace quorvex
