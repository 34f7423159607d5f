// The fixed table of EXIF tags the system knows by name.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvex {

// Value formats. The numbering is the table's own, not the TIFF type numbers.
enum class TExifFormat : uint8_t {
  Byte = 0,
  Ascii = 1,
  Short = 2,
  Long = 3,
  Rational = 4,
  Undefined = 5,
  SRational = 6,
};

// The directory a tag is written into.
enum class TExifIfd : uint8_t { Main = 0, Exif = 1, Gps = 2, Thumbnail = 3 };

struct TExifLookupRecord {
  std::string_view Name;
  uint16_t Tag;
  TExifFormat Format;
  TExifIfd Ifd;
};

inline constexpr size_t kExifLookupSize = 118;
using TExifLookup = std::array<TExifLookupRecord, kExifLookupSize>;

// The table in its fixed row order; row 31 (index 30) is an unnamed placeholder, tag 0xFFFF.
const TExifLookup& ExifLookup() noexcept;

// Name of the first row with this tag; empty when there is none.
std::string_view FindTagName(uint16_t tag) noexcept;

// First row whose name equals name (case-sensitive); nullptr when there is none. The empty name
// of the placeholder row matches nothing.
const TExifLookupRecord* FindTagRecord(std::string_view name) noexcept;

// The TIFF type number written for a format.
uint16_t TiffType(TExifFormat format) noexcept;

}  // namespace quorvex
