// Writing name=value lines as a little-endian EXIF block: main, EXIF and GPS directories, then
// the optional thumbnail directory and picture.
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/metadata_errors.h"
#include "jpegextra/metadata/number_text.h"

namespace quorvex {
namespace {

constexpr uint64_t kTiffStart = 6;
constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint16_t kLongType = 4;

struct EncodedValue {
  uint16_t Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Bytes;  // inline when at most 4
};

std::vector<std::string_view> SplitItems(std::string_view text, char separator) {
  std::vector<std::string_view> items;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    items.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return items;
    start = at + 1;
  }
}

void PutWord(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLong(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PatchLong(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

EncodedValue Encode(TExifFormat format, std::string_view text) {
  EncodedValue value;
  value.Type = TiffType(format);
  switch (format) {
    case TExifFormat::Ascii:
      // The system's texts are UTF-8 already, so encoding keeps the bytes.
      value.Bytes.assign(text.begin(), text.end());
      value.Bytes.push_back(0);
      break;
    case TExifFormat::Byte:
      for (std::string_view item : SplitItems(text, ','))
        value.Bytes.push_back(static_cast<uint8_t>(StrToInt64(item)));
      break;
    case TExifFormat::Undefined:
      for (std::string_view item : SplitItems(text, ',')) {
        const auto number = ParseHex(item);
        if (!number)
          throw EConvertError("'" + std::string(item) + "' is not a valid integer value");
        value.Bytes.push_back(static_cast<uint8_t>(*number));
      }
      break;
    case TExifFormat::Short:
      for (std::string_view item : SplitItems(text, ','))
        PutWord(value.Bytes, static_cast<uint16_t>(StrToInt64(item)));
      value.Count = static_cast<uint32_t>(value.Bytes.size() / 2);
      break;
    case TExifFormat::Long:
      PutLong(value.Bytes, static_cast<uint32_t>(StrToInt64(text)));
      value.Count = 1;
      break;
    case TExifFormat::Rational:
    case TExifFormat::SRational: {
      std::string whole(text);
      if (whole.find('/') == std::string::npos) whole += "/1";
      for (std::string_view item : SplitItems(whole, ',')) {
        const size_t slash = item.find('/');
        if (slash == std::string_view::npos) throw EExifError();
        PutLong(value.Bytes, static_cast<uint32_t>(StrToInt64(item.substr(0, slash))));
        PutLong(value.Bytes, static_cast<uint32_t>(StrToInt64(item.substr(slash + 1))));
      }
      value.Count = static_cast<uint32_t>(value.Bytes.size() / 8);
      break;
    }
  }
  if (value.Count == 0) value.Count = static_cast<uint32_t>(value.Bytes.size());
  return value;
}

struct Item {
  const TExifLookupRecord* Row;
  std::string Value;
};
using TagSet = std::map<uint16_t, Item>;  // one entry per tag, ascending

class BlockWriter {
 public:
  std::vector<uint8_t> Out;

  uint64_t Offset() const noexcept { return Out.size() - kTiffStart; }

  // Writes one entry; a value longer than 4 bytes goes to data at offset next, which advances.
  // Returns the position of the entry's value field.
  size_t Entry(uint16_t tag, const EncodedValue& value, uint64_t& next,
               std::vector<uint8_t>& data) {
    PutWord(Out, tag);
    PutWord(Out, value.Type);
    PutLong(Out, value.Count);
    const size_t field = Out.size();
    if (value.Bytes.size() <= 4) {
      std::array<uint8_t, 4> padded{};
      std::copy(value.Bytes.begin(), value.Bytes.end(), padded.begin());
      Out.insert(Out.end(), padded.begin(), padded.end());
    } else {
      PutLong(Out, Checked(next));
      data.insert(data.end(), value.Bytes.begin(), value.Bytes.end());
      next += value.Bytes.size();
    }
    return field;
  }

  void WriteDirectory(const TagSet& items, uint64_t& next, std::vector<uint8_t>& data) {
    PutWord(Out, static_cast<uint16_t>(items.size()));
    for (const auto& [tag, item] : items)
      Entry(tag, Encode(item.Row->Format, item.Value), next, data);
    PutLong(Out, 0);
  }

  static uint32_t Checked(uint64_t offset) {
    if (offset > std::numeric_limits<uint32_t>::max()) throw EExifError();
    return static_cast<uint32_t>(offset);
  }
};

uint64_t DirectorySize(size_t entries) noexcept {
  return 2 + 12 * uint64_t{entries} + 4;
}

}  // namespace

void TExif::WriteExif(TMemoryStream& output, const TEXIFThumbnail& thumbnail) const {
  if (Fields.Empty()) return;
  std::array<TagSet, 3> sets;  // main, EXIF, GPS
  for (const std::string& line : Fields) {
    const std::string_view name = TStringList::NameOf(line);
    const TExifLookupRecord* row = FindTagRecord(name);
    // Names outside the table have no tag to be written under.
    if (row == nullptr || row->Ifd == TExifIfd::Thumbnail) continue;
    sets[static_cast<size_t>(row->Ifd)].try_emplace(row->Tag, Item{row, Fields.Value(name)});
  }
  const TagSet& mainSet = sets[0];
  const TagSet& exifSet = sets[1];
  const TagSet& gpsSet = sets[2];
  if (mainSet.empty() && exifSet.empty() && gpsSet.empty()) return;

  BlockWriter w;
  for (char c : std::string_view("Exif\0\0II", 8)) w.Out.push_back(static_cast<uint8_t>(c));
  PutWord(w.Out, 42);
  PutLong(w.Out, 8);

  const size_t mainCount = mainSet.size() + !exifSet.empty() + !gpsSet.empty();
  uint64_t next = 8 + DirectorySize(mainCount);
  std::vector<uint8_t> mainData;
  PutWord(w.Out, static_cast<uint16_t>(mainCount));
  // The pointer entries take their places in tag order (the XP tags sort after them); their
  // values are known only once the main directory's own values are placed, so they are
  // patched afterwards.
  size_t exifField = 0, gpsField = 0;
  auto pointers = [&](uint16_t before) {
    if (!exifSet.empty() && exifField == 0 && kExifPointer < before)
      exifField = w.Entry(kExifPointer, {kLongType, 1, {}}, next, mainData);
    if (!gpsSet.empty() && gpsField == 0 && kGpsPointer < before)
      gpsField = w.Entry(kGpsPointer, {kLongType, 1, {}}, next, mainData);
  };
  for (const auto& [tag, item] : mainSet) {
    pointers(tag);
    w.Entry(tag, Encode(item.Row->Format, item.Value), next, mainData);
  }
  pointers(std::numeric_limits<uint16_t>::max());
  const uint64_t exifAt = next;
  const uint64_t gpsAt = exifAt + (exifSet.empty() ? 0 : DirectorySize(exifSet.size()));
  if (exifField != 0) PatchLong(w.Out, exifField, BlockWriter::Checked(exifAt));
  if (gpsField != 0) PatchLong(w.Out, gpsField, BlockWriter::Checked(gpsAt));
  const size_t nextDirectoryField = w.Out.size();
  PutLong(w.Out, 0);
  w.Out.insert(w.Out.end(), mainData.begin(), mainData.end());

  // Values of the EXIF and GPS directories follow both directories.
  next = gpsAt + (gpsSet.empty() ? 0 : DirectorySize(gpsSet.size()));
  std::vector<uint8_t> data;
  if (!exifSet.empty()) w.WriteDirectory(exifSet, next, data);
  if (!gpsSet.empty()) w.WriteDirectory(gpsSet, next, data);
  w.Out.insert(w.Out.end(), data.begin(), data.end());

  // A flag left over from an earlier save, with the holder since emptied, writes no directory.
  if (HasThumbnail && !thumbnail.Fields.Empty()) {
    PatchLong(w.Out, nextDirectoryField, BlockWriter::Checked(w.Offset()));
    std::vector<std::pair<const TExifLookupRecord*, std::string_view>> lines;
    for (const std::string& line : thumbnail.Fields)
      if (const TExifLookupRecord* row = FindTagRecord(TStringList::NameOf(line)))
        lines.emplace_back(row, TStringList::ValueOf(line));
    // The count written is the number of entries written, whatever EntryCount says.
    if (lines.size() > std::numeric_limits<uint16_t>::max()) throw EExifError();
    next = w.Offset() + DirectorySize(lines.size());
    std::vector<uint8_t> thumbData;
    size_t pictureField = 0;
    PutWord(w.Out, static_cast<uint16_t>(lines.size()));
    for (const auto& [row, value] : lines) {
      const size_t field = w.Entry(row->Tag, Encode(row->Format, value), next, thumbData);
      if (row->Name == "JpegInterchangeFormat") pictureField = field;
    }
    PutLong(w.Out, 0);
    w.Out.insert(w.Out.end(), thumbData.begin(), thumbData.end());
    if (pictureField != 0) PatchLong(w.Out, pictureField, BlockWriter::Checked(w.Offset()));
    const std::span<const uint8_t> picture = thumbnail.JpegData.Bytes();
    w.Out.insert(w.Out.end(), picture.begin(), picture.end());
  }
  BlockWriter::Checked(w.Offset());
  output.Write(w.Out.data(), w.Out.size());
}

}  // namespace quorvex
