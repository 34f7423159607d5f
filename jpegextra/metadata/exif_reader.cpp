// Reading an APP1 payload into name=value lines. The payload is untrusted: every offset and
// count is checked against it before use, in 64-bit arithmetic that cannot wrap.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/number_text.h"
#include "jpegextra/metadata/utf8.h"

namespace quorvex {
namespace {

constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint32_t kMaxValueCount = 4096;
constexpr uint64_t kTiffStart = 6;  // offsets in the TIFF structure count from here
constexpr size_t kEntrySize = 12;

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

}  // namespace

bool TExif::ReadExif(TBEMemoryStream& payload, TEXIFThumbnail& thumbnail) {
  thumbnail.Clear();
  const std::span<const uint8_t> bytes = payload.Bytes();
  if (bytes.size() < 20) return false;
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (!std::equal(std::begin(kHeader), std::end(kHeader), bytes.begin())) return false;
  if (bytes[6] == 'M' && bytes[7] == 'M')
    payload.BigEndian = true;
  else if (bytes[6] == 'I' && bytes[7] == 'I')
    payload.BigEndian = false;
  else
    return false;
  const TiffView tiff(bytes, payload.BigEndian);
  if (tiff.Word(8) != 42) return false;

  if (!ThumbnailOnly) Fields.Clear();
  enum class Directory { Main, Exif, Gps };
  Directory directory = Directory::Main;
  uint32_t exifOffset = 0;
  uint32_t gpsOffset = 0;
  uint64_t at = uint64_t{tiff.Long(10)} + kTiffStart;
  if (at > tiff.Size()) return true;

  for (;;) {
    if (!tiff.Has(at, 2)) return true;
    const uint32_t declared = tiff.Word(at);
    if (declared == 0) return true;
    at += 2;
    // A directory cut short by the end of the payload keeps the entries that are whole.
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(declared, (tiff.Size() - at) / kEntrySize));
    const uint64_t entriesAt = at;
    at += uint64_t{kEntrySize} * count;

    if (ThumbnailOnly) {
      if (directory == Directory::Main && count == declared && tiff.Has(at, 4)) {
        const uint32_t next = tiff.Long(at);
        if (next != 0) HasThumbnail = ReadThumbnailDirectory(tiff, next, DecodeUtf8, thumbnail);
      }
      return true;
    }

    for (uint32_t i = 0; i < count; ++i) {
      const TExifEntry entry = tiff.Entry(entriesAt + kEntrySize * i, true);
      if (entry.Tag == kExifPointer) {
        exifOffset = entry.ValueOrOffset;
      } else if (entry.Tag == kGpsPointer) {
        gpsOffset = entry.ValueOrOffset;
      } else {
        const std::string_view name = FindTagName(entry.Tag);
        if (name.empty() || entry.Count < 1 || entry.Count > kMaxValueCount) continue;
        if (const auto text = ValueText(tiff, entry, DecodeUtf8)) Fields.Add(name, *text);
      }
    }

    // Main, then EXIF, then GPS: each at most once, so pointers that lead back cannot loop.
    if (directory == Directory::Main && exifOffset != 0) {
      at = uint64_t{exifOffset} + kTiffStart;
      if (at >= tiff.Size()) return true;
      directory = Directory::Exif;
      continue;
    }
    if (directory != Directory::Gps && gpsOffset != 0) {
      at = uint64_t{gpsOffset} + kTiffStart;
      if (at >= tiff.Size()) return true;
      directory = Directory::Gps;
      continue;
    }
    return true;
  }
}

}  // namespace quorvex
