// The kinds of metadata an output may keep, and their names in settings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Which kinds of metadata an output keeps. GPS is the GPS directory of the EXIF block (and the
// GPS properties of XMP); the rest of the EXIF block, thumbnail included, is Exif.
struct TMetadataParts {
  bool Exif = false;
  bool Gps = false;
  bool Iptc = false;
  bool Xmp = false;
  bool Icc = false;

  static TMetadataParts All() noexcept { return {true, true, true, true, true}; }
  bool Any() const noexcept { return Exif || Gps || Iptc || Xmp || Icc; }
  friend bool operator==(const TMetadataParts&, const TMetadataParts&) = default;
};

// A comma list of exif, gps, iptc, xmp, icc (any case, spaces around names allowed); the empty
// list gives no parts. nullopt when a name is none of these.
std::optional<TMetadataParts> ParseMetadataParts(std::string_view list);
// The list in the order above; the empty text for no parts.
std::string MetadataPartsText(const TMetadataParts& parts);

}  // namespace quorvex
