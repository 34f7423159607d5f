// Reading an APP1 payload into name=value lines. The payload is untrusted: every offset and
// count is checked against it before use, in 64-bit arithmetic that cannot wrap.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/metadata_budget.h"
#include "jpegextra/metadata/number_text.h"
#include "jpegextra/metadata/utf8.h"

namespace quorvex {
namespace {

constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint32_t kMaxValueCount = 4096;
constexpr uint64_t kTiffStart = 6;  // offsets in the TIFF structure count from here
constexpr size_t kEntrySize = 12;
constexpr uint16_t kXResolution = 0x011A;
constexpr uint16_t kYResolution = 0x011B;
constexpr uint16_t kResolutionUnit = 0x0128;

class TiffView {
 public:
  TiffView(std::span<const uint8_t> bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

  size_t Size() const noexcept { return bytes_.size(); }
  bool Has(uint64_t at, uint64_t count) const noexcept {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  const uint8_t* At(uint64_t at) const noexcept { return bytes_.data() + at; }
  uint16_t Word(const uint8_t* p) const noexcept {
    return big_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t Long(const uint8_t* p) const noexcept {
    return big_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
  uint16_t Word(uint64_t at) const noexcept { return Word(At(at)); }
  uint32_t Long(uint64_t at) const noexcept { return Long(At(at)); }

  TExifEntry Entry(uint64_t at, bool sRationalKnown) const noexcept {
    TExifEntry entry;
    const uint8_t* p = At(at);
    entry.Tag = Word(p);
    entry.Format = FormatOf(Word(p + 2), sRationalKnown);
    entry.Count = Long(p + 4);
    entry.ValueOrOffset = Long(p + 8);
    for (size_t i = 0; i < 4; ++i) entry.Inline[i] = p[8 + i];
    return entry;
  }

 private:
  static TExifFormat FormatOf(uint16_t type, bool sRationalKnown) noexcept {
    switch (type) {
      case 1:
        return TExifFormat::Byte;
      case 2:
        return TExifFormat::Ascii;
      case 3:
        return TExifFormat::Short;
      case 4:
        return TExifFormat::Long;
      case 5:
        return TExifFormat::Rational;
      case 10:
        return sRationalKnown ? TExifFormat::SRational : TExifFormat::Undefined;
      default:
        return TExifFormat::Undefined;
    }
  }

  std::span<const uint8_t> bytes_;
  bool big_;
};

uint64_t ValueSize(const TExifEntry& entry) noexcept {
  const uint64_t count = entry.Count;
  switch (entry.Format) {
    case TExifFormat::Short:
      return 2 * count;
    case TExifFormat::Long:
      return 4 * count;
    case TExifFormat::Rational:
    case TExifFormat::SRational:
      return 8 * count;
    default:
      return count;
  }
}

bool IsInline(const TExifEntry& entry) noexcept {
  switch (entry.Format) {
    case TExifFormat::Short:
      return entry.Count <= 2;
    case TExifFormat::Long:
      return entry.Count == 1;
    case TExifFormat::Rational:
    case TExifFormat::SRational:
      return false;
    default:
      return entry.Count <= 4;
  }
}

// The value text of an entry; nullopt when its value lies outside the payload.
std::optional<std::string> ValueText(const TiffView& tiff, const TExifEntry& entry,
                                     bool decodeUtf8) {
  const uint64_t size = ValueSize(entry);
  const uint8_t* data;
  if (IsInline(entry)) {
    data = entry.Inline.data();
  } else {
    const uint64_t at = uint64_t{entry.ValueOrOffset} + kTiffStart;
    if (!tiff.Has(at, size)) return std::nullopt;
    data = tiff.At(at);
  }
  std::string text;
  auto separate = [&text](uint32_t i) {
    if (i != 0) text.push_back(',');
  };
  switch (entry.Format) {
    case TExifFormat::Byte:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += std::to_string(data[i]);
      }
      break;
    case TExifFormat::Ascii:
      for (uint32_t i = 0; i < entry.Count; ++i)
        if (data[i] != 0) text.push_back(static_cast<char>(data[i]));
      if (decodeUtf8 && !IsWellFormedUtf8(text)) text.clear();
      break;
    case TExifFormat::Short:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += std::to_string(tiff.Word(data + 2 * i));
      }
      break;
    case TExifFormat::Long:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += std::to_string(tiff.Long(data + 4 * i));
      }
      break;
    case TExifFormat::Rational:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += std::to_string(tiff.Long(data + 8 * i)) + '/' +
                std::to_string(tiff.Long(data + 8 * i + 4));
      }
      break;
    case TExifFormat::SRational:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += std::to_string(static_cast<int32_t>(tiff.Long(data + 8 * i))) + '/' +
                std::to_string(static_cast<int32_t>(tiff.Long(data + 8 * i + 4)));
      }
      break;
    case TExifFormat::Undefined:
      for (uint32_t i = 0; i < entry.Count; ++i) {
        separate(i);
        text += HexByte(data[i]);
      }
      break;
  }
  return text;
}

// The first number of a value text; 0 when there is none.
uint32_t FirstNumber(std::string_view text) {
  const auto value = ParseInt64(text.substr(0, text.find(',')));
  return value ? static_cast<uint32_t>(*value) : 0;
}

// The thumbnail directory (IFD1) at TIFF offset t. Returns false when it cannot be read whole.
bool ReadThumbnailDirectory(const TiffView& tiff, uint32_t t, bool decodeUtf8,
                            TEXIFThumbnail& thumbnail) {
  const uint64_t at = uint64_t{t} + kTiffStart;
  if (!tiff.Has(at, 2)) return false;
  thumbnail.EntryCount = tiff.Word(at);
  if (!tiff.Has(at + 2, uint64_t{kEntrySize} * thumbnail.EntryCount)) return false;
  thumbnail.Entries.reserve(thumbnail.EntryCount);
  for (uint32_t i = 0; i < thumbnail.EntryCount; ++i)
    thumbnail.Entries.push_back(tiff.Entry(at + 2 + kEntrySize * i, false));

  uint32_t offset = 0;
  uint16_t length = 0;
  for (const TExifEntry& entry : thumbnail.Entries) {
    const std::string_view name = FindTagName(entry.Tag);
    if (name.empty() || entry.Count == 0) continue;
    const auto text = ValueText(tiff, entry, decodeUtf8);
    if (!text) continue;
    thumbnail.Fields.Add(name, *text);
    if (name == "JpegInterchangeFormat") offset = FirstNumber(*text);
    if (name == "JpegInterchangeFormatLength") length = static_cast<uint16_t>(FirstNumber(*text));
  }
  // The offset means nothing outside this block; a writer places the picture anew.
  thumbnail.Fields.SetValue("JpegInterchangeFormat", "0");
  const uint64_t start = uint64_t{offset} + kTiffStart;
  if (!tiff.Has(start, length)) return false;
  thumbnail.JpegData.Write(tiff.At(start), length);
  thumbnail.JpegData.Seek(0);
  return true;
}

// The payload's TIFF structure behind a valid header; nullopt without one.
std::optional<TiffView> TiffOf(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() < 20) return std::nullopt;
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (!std::equal(std::begin(kHeader), std::end(kHeader), bytes.begin())) return std::nullopt;
  bool bigEndian;
  if (bytes[6] == 'M' && bytes[7] == 'M')
    bigEndian = true;
  else if (bytes[6] == 'I' && bytes[7] == 'I')
    bigEndian = false;
  else
    return std::nullopt;
  const TiffView tiff(bytes, bigEndian);
  if (tiff.Word(8) != 42) return std::nullopt;
  return tiff;
}

// The table's row for a tag when the tag belongs in the directory being read: a GPS tag number
// means something else in the main directory, and an Orientation inside the GPS directory is
// not the picture's.
const TExifLookupRecord* RowIn(uint16_t tag, TExifIfd directory) noexcept {
  for (const TExifLookupRecord& row : ExifLookup())
    if (row.Tag == tag && !row.Name.empty()) return row.Ifd == directory ? &row : nullptr;
  return nullptr;
}

// What one segment may still cost.
struct ReadBudget {
  size_t Text = kMaxExifTextPerSegment;
  size_t ValueBytes = kMaxExifValueBytesPerSegment;
  size_t Entries = kMaxExifEntriesPerSegment;

  // Charges a value of size bytes, whose text is at most textBound characters; false when the
  // segment has spent its budget.
  bool Take(uint64_t size, uint64_t textBound) noexcept {
    if (size > ValueBytes || textBound > Text) return false;
    ValueBytes -= static_cast<size_t>(size);
    Text -= static_cast<size_t>(textBound);
    return true;
  }
};

// Most characters a value text can have: 24 for a signed rational and its comma.
uint64_t TextBound(const TExifEntry& entry) noexcept {
  switch (entry.Format) {
    case TExifFormat::Rational:
    case TExifFormat::SRational:
      return 24 * uint64_t{entry.Count};
    case TExifFormat::Long:
      return 11 * uint64_t{entry.Count};
    case TExifFormat::Short:
      return 6 * uint64_t{entry.Count};
    case TExifFormat::Byte:
    case TExifFormat::Undefined:
      return 4 * uint64_t{entry.Count};
    case TExifFormat::Ascii:
      return entry.Count;
  }
  return 0;
}

}  // namespace

bool TExif::ReadExif(TBEMemoryStream& payload, TEXIFThumbnail& thumbnail) {
  thumbnail.Clear();
  const std::optional<TiffView> view = TiffOf(payload.Bytes());
  if (!view) return false;
  const TiffView& tiff = *view;
  payload.BigEndian = payload.Bytes()[6] == 'M';

  if (!ThumbnailOnly) Fields.Clear();
  TExifIfd directory = TExifIfd::Main;
  uint32_t exifOffset = 0;
  uint32_t gpsOffset = 0;
  uint64_t at = uint64_t{tiff.Long(10)} + kTiffStart;
  if (at > tiff.Size()) return true;
  // Pointers that lead back to a directory already read are not followed again.
  std::vector<uint64_t> visited;
  ReadBudget budget;

  for (;;) {
    if (!tiff.Has(at, 2)) return true;
    visited.push_back(at);
    const uint32_t declared = tiff.Word(at);
    if (declared == 0) return true;
    at += 2;
    // A directory cut short by the end of the payload keeps the entries that are whole.
    const uint32_t count = static_cast<uint32_t>(
        std::min<uint64_t>({declared, (tiff.Size() - at) / kEntrySize, budget.Entries}));
    budget.Entries -= count;
    const uint64_t entriesAt = at;
    at += uint64_t{kEntrySize} * count;

    if (ThumbnailOnly) {
      if (directory == TExifIfd::Main && count == declared && tiff.Has(at, 4)) {
        const uint32_t next = tiff.Long(at);
        if (next != 0) HasThumbnail = ReadThumbnailDirectory(tiff, next, DecodeUtf8, thumbnail);
      }
      return true;
    }

    for (uint32_t i = 0; i < count; ++i) {
      const TExifEntry entry = tiff.Entry(entriesAt + kEntrySize * i, true);
      if (entry.Tag == kExifPointer && directory != TExifIfd::Gps) {
        exifOffset = entry.ValueOrOffset;
      } else if (entry.Tag == kGpsPointer && directory != TExifIfd::Gps) {
        gpsOffset = entry.ValueOrOffset;
      } else {
        const TExifLookupRecord* row = RowIn(entry.Tag, directory);
        if (row == nullptr || entry.Count < 1 || entry.Count > kMaxValueCount) continue;
        if (!budget.Take(ValueSize(entry), TextBound(entry))) return true;
        if (const auto text = ValueText(tiff, entry, DecodeUtf8)) Fields.Add(row->Name, *text);
      }
    }

    // Main, then EXIF, then GPS: each at most once, and none at an offset already read.
    const auto unread = [&](uint32_t offset) {
      at = uint64_t{offset} + kTiffStart;
      return std::find(visited.begin(), visited.end(), at) == visited.end();
    };
    if (directory == TExifIfd::Main && exifOffset != 0) {
      directory = TExifIfd::Exif;
      if (unread(exifOffset)) {
        if (at >= tiff.Size()) return true;
        continue;
      }
    }
    if (directory != TExifIfd::Gps && gpsOffset != 0) {
      directory = TExifIfd::Gps;
      if (unread(gpsOffset)) {
        if (at >= tiff.Size()) return true;
        continue;
      }
    }
    return true;
  }
}

std::optional<TStringList> ExifResolutionFields(std::span<const uint8_t> payload) {
  const std::optional<TiffView> view = TiffOf(payload);
  if (!view) return std::nullopt;
  const TiffView& tiff = *view;
  TStringList fields;
  const uint64_t at = uint64_t{tiff.Long(10)} + kTiffStart;
  if (!tiff.Has(at, 2)) return fields;
  const uint64_t count = std::min<uint64_t>(tiff.Word(at), (tiff.Size() - at - 2) / kEntrySize);
  for (uint64_t i = 0; i < count; ++i) {
    const TExifEntry entry = tiff.Entry(at + 2 + kEntrySize * i, true);
    if (entry.Tag != kXResolution && entry.Tag != kYResolution && entry.Tag != kResolutionUnit)
      continue;
    const TExifLookupRecord* row = RowIn(entry.Tag, TExifIfd::Main);
    // A resolution is one or two numbers; long lists there say nothing of the picture.
    if (row == nullptr || entry.Count < 1 || entry.Count > 16) continue;
    if (const auto text = ValueText(tiff, entry, true)) fields.Add(row->Name, *text);
  }
  return fields;
}

}  // namespace quorvex
