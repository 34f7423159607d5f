// Reading and writing the raw directories of an EXIF block. The payload is untrusted: every
// offset and count is checked in 64-bit arithmetic before use.
#include "jpegextra/metadata/exif_block.h"

#include <algorithm>
#include <utility>

#include "jpegextra/metadata/metadata_budget.h"

namespace quorvex {
namespace {

constexpr uint64_t kTiffStart = 6;  // offsets in the TIFF structure count from here
constexpr size_t kEntrySize = 12;
constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint16_t kInteropPointer = 0xA005;
constexpr uint16_t kThumbnailOffset = 0x0201;
constexpr uint16_t kThumbnailLength = 0x0202;
constexpr uint16_t kStripOffsets = 0x0111;
constexpr uint16_t kStripByteCounts = 0x0117;
constexpr uint16_t kSubDirectories = 0x014A;
constexpr uint16_t kLongType = 4;

// Bytes of one value of a TIFF type; 0 for a type whose size is not known (such an entry
// cannot be copied) or that points at a directory of its own.
uint64_t TypeSize(uint16_t type) noexcept {
  switch (type) {
    case 1:  // BYTE
    case 2:  // ASCII
    case 6:  // SBYTE
    case 7:  // UNDEFINED
      return 1;
    case 3:  // SHORT
    case 8:  // SSHORT
      return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
      return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
      return 8;
    default:
      return 0;
  }
}

class Reader {
 public:
  Reader(std::span<const uint8_t> bytes, bool big) : bytes_(bytes), big_(big) {}

  uint64_t Size() const noexcept { return bytes_.size(); }
  bool Has(uint64_t at, uint64_t count) const noexcept {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  uint16_t Word(uint64_t at) const noexcept {
    const uint8_t* p = bytes_.data() + at;
    return big_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t Long(uint64_t at) const noexcept {
    const uint8_t* p = bytes_.data() + at;
    return big_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
  std::span<const uint8_t> Bytes(uint64_t at, uint64_t count) const noexcept {
    return bytes_.subspan(static_cast<size_t>(at), static_cast<size_t>(count));
  }

 private:
  std::span<const uint8_t> bytes_;
  bool big_;
};

// Where the pointers of one directory lead.
struct Pointers {
  uint32_t Exif = 0, Gps = 0, Interop = 0, Next = 0, Thumbnail = 0, ThumbnailLength = 0;
};

class Parser {
 public:
  Parser(const Reader& tiff, TExifBlock& block) : tiff_(tiff), block_(block) {}

  // Reads the directory at TIFF offset offset as kind; false when it is not there or was read.
  bool Directory(uint32_t offset, TIfdKind kind, Pointers& pointers) {
    const uint64_t at = uint64_t{offset} + kTiffStart;
    TTiffDirectory& directory = block_[kind];
    if (offset == 0 || directory.Present || !tiff_.Has(at, 2)) return false;
    if (std::find(visited_.begin(), visited_.end(), at) != visited_.end()) return false;
    visited_.push_back(at);
    directory.Present = true;
    const uint64_t declared = tiff_.Word(at);
    // A directory cut short by the end of the payload keeps the entries that are whole.
    const uint64_t count =
        std::min<uint64_t>({declared, (tiff_.Size() - at - 2) / kEntrySize, entries_});
    entries_ -= static_cast<size_t>(count);
    for (uint64_t i = 0; i < count; ++i) Entry(at + 2 + kEntrySize * i, kind, directory, pointers);
    const uint64_t next = at + 2 + kEntrySize * count;
    if (count == declared && tiff_.Has(next, 4)) pointers.Next = tiff_.Long(next);
    std::stable_sort(directory.Entries.begin(), directory.Entries.end(),
                     [](const TTiffEntry& a, const TTiffEntry& b) { return a.Tag < b.Tag; });
    // One entry per tag: the first stands.
    directory.Entries.erase(
        std::unique(directory.Entries.begin(), directory.Entries.end(),
                    [](const TTiffEntry& a, const TTiffEntry& b) { return a.Tag == b.Tag; }),
        directory.Entries.end());
    return true;
  }

 private:
  void Entry(uint64_t at, TIfdKind kind, TTiffDirectory& directory, Pointers& pointers) {
    TTiffEntry entry;
    entry.Tag = tiff_.Word(at);
    entry.Type = tiff_.Word(at + 2);
    entry.Count = tiff_.Long(at + 4);
    const uint32_t value = tiff_.Long(at + 8);
    const bool main = kind == TIfdKind::Main;
    if (main && entry.Tag == kExifPointer) return void(pointers.Exif = value);
    if (main && entry.Tag == kGpsPointer) return void(pointers.Gps = value);
    if (kind == TIfdKind::Exif && entry.Tag == kInteropPointer)
      return void(pointers.Interop = value);
    if (kind == TIfdKind::Thumbnail) {
      if (entry.Tag == kThumbnailOffset) return void(pointers.Thumbnail = value);
      if (entry.Tag == kThumbnailLength) return void(pointers.ThumbnailLength = value);
      // The strips of an uncompressed thumbnail are not carried; a JPEG one replaces them.
      if (entry.Tag == kStripOffsets || entry.Tag == kStripByteCounts) return;
    }
    // Pointers elsewhere, and sub-directories, lead to data a rewrite would not move along.
    if (entry.Tag == kExifPointer || entry.Tag == kGpsPointer || entry.Tag == kInteropPointer ||
        entry.Tag == kSubDirectories)
      return;
    const uint64_t size = TypeSize(entry.Type) * entry.Count;
    if (size == 0) return;
    if (size <= 4) {
      const std::span<const uint8_t> bytes = tiff_.Bytes(at + 8, size);
      entry.Value.assign(bytes.begin(), bytes.end());
    } else {
      const uint64_t from = uint64_t{value} + kTiffStart;
      if (!tiff_.Has(from, size) || size > valueBytes_) return;
      valueBytes_ -= static_cast<size_t>(size);
      const std::span<const uint8_t> bytes = tiff_.Bytes(from, size);
      entry.Value.assign(bytes.begin(), bytes.end());
      entry.SourceOffset = value;
    }
    directory.Entries.push_back(std::move(entry));
  }

  const Reader& tiff_;
  TExifBlock& block_;
  std::vector<uint64_t> visited_;
  size_t entries_ = kMaxExifEntriesPerSegment;
  size_t valueBytes_ = kMaxKeptExifValueBytes;
};

// Writes numbers in the block's byte order into a buffer that grows as needed.
class Writer {
 public:
  explicit Writer(bool big) : big_(big) {}

  void Word(size_t at, uint16_t value) {
    Reserve(at + 2);
    out_[at + (big_ ? 1 : 0)] = static_cast<uint8_t>(value);
    out_[at + (big_ ? 0 : 1)] = static_cast<uint8_t>(value >> 8);
  }
  void Long(size_t at, uint32_t value) {
    Reserve(at + 4);
    for (size_t i = 0; i < 4; ++i)
      out_[at + (big_ ? 3 - i : i)] = static_cast<uint8_t>(value >> (8 * i));
  }
  void Bytes(size_t at, std::span<const uint8_t> bytes) {
    Reserve(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  std::vector<uint8_t> Release() noexcept { return std::move(out_); }

 private:
  void Reserve(size_t size) {
    if (out_.size() < size) out_.resize(size);
  }

  bool big_;
  std::vector<uint8_t> out_;
};

// Hands out places in the TIFF structure one after the other, at even offsets, around the one
// range kept for the maker note.
class Places {
 public:
  explicit Places(uint64_t start) : next_(start) {}

  void Keep(uint64_t from, uint64_t size) noexcept { keptFrom_ = from, keptTo_ = from + size; }
  uint64_t Take(uint64_t size) noexcept {
    next_ += next_ & 1;
    if (next_ < keptTo_ && next_ + size > keptFrom_) next_ = keptTo_ + (keptTo_ & 1);
    const uint64_t at = next_;
    next_ += size;
    return at;
  }

 private:
  uint64_t next_;
  uint64_t keptFrom_ = 0, keptTo_ = 0;
};

uint64_t DirectorySize(size_t entries) noexcept {
  return 2 + kEntrySize * uint64_t{entries} + 4;
}

}  // namespace

TTiffEntry* TTiffDirectory::Find(uint16_t tag) noexcept {
  for (TTiffEntry& entry : Entries)
    if (entry.Tag == tag) return &entry;
  return nullptr;
}

void TTiffDirectory::Set(TTiffEntry entry) {
  auto at = std::lower_bound(Entries.begin(), Entries.end(), entry.Tag,
                             [](const TTiffEntry& e, uint16_t tag) { return e.Tag < tag; });
  if (at != Entries.end() && at->Tag == entry.Tag)
    *at = std::move(entry);
  else
    Entries.insert(at, std::move(entry));
}

void TTiffDirectory::Remove(uint16_t tag) {
  std::erase_if(Entries, [tag](const TTiffEntry& e) { return e.Tag == tag; });
}

std::optional<TExifBlock> TExifBlock::Parse(std::span<const uint8_t> payload) {
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (payload.size() < 20 || !std::equal(std::begin(kHeader), std::end(kHeader), payload.begin()))
    return std::nullopt;
  TExifBlock block;
  if (payload[6] == 'M' && payload[7] == 'M')
    block.BigEndian = true;
  else if (payload[6] != 'I' || payload[7] != 'I')
    return std::nullopt;
  const Reader tiff(payload, block.BigEndian);
  if (tiff.Word(8) != 42) return std::nullopt;

  Parser parser(tiff, block);
  Pointers main, exif, unused;
  if (!parser.Directory(tiff.Long(10), TIfdKind::Main, main)) return std::nullopt;
  if (parser.Directory(main.Exif, TIfdKind::Exif, exif))
    parser.Directory(exif.Interop, TIfdKind::Interop, unused);
  parser.Directory(main.Gps, TIfdKind::Gps, unused);
  Pointers thumbnail;
  if (parser.Directory(main.Next, TIfdKind::Thumbnail, thumbnail)) {
    const uint64_t at = uint64_t{thumbnail.Thumbnail} + kTiffStart;
    if (thumbnail.Thumbnail != 0 && tiff.Has(at, thumbnail.ThumbnailLength)) {
      const std::span<const uint8_t> picture = tiff.Bytes(at, thumbnail.ThumbnailLength);
      block.Thumbnail.assign(picture.begin(), picture.end());
    }
  }
  return block;
}

std::vector<uint8_t> TExifBlock::Write() const {
  const TTiffDirectory& main = (*this)[TIfdKind::Main];
  const bool exif = (*this)[TIfdKind::Exif].Present;
  const bool interop = exif && (*this)[TIfdKind::Interop].Present;
  const bool gps = (*this)[TIfdKind::Gps].Present;
  const bool thumbnail = (*this)[TIfdKind::Thumbnail].Present && !Thumbnail.empty();

  // The directories as written: the pointers take their places among the entries.
  auto withPointers = [](const TTiffDirectory& directory,
                         std::initializer_list<std::pair<bool, uint16_t>> pointers) {
    TTiffDirectory out = directory;
    for (const auto& [present, tag] : pointers)
      if (present) out.Set(TTiffEntry{tag, kLongType, 1, std::vector<uint8_t>(4), 0});
    return out;
  };
  std::array<TTiffDirectory, kIfdKinds> written;
  written[static_cast<size_t>(TIfdKind::Main)] =
      withPointers(main, {{exif, kExifPointer}, {gps, kGpsPointer}});
  written[static_cast<size_t>(TIfdKind::Exif)] =
      withPointers((*this)[TIfdKind::Exif], {{interop, kInteropPointer}});
  written[static_cast<size_t>(TIfdKind::Gps)] = (*this)[TIfdKind::Gps];
  written[static_cast<size_t>(TIfdKind::Interop)] = (*this)[TIfdKind::Interop];
  written[static_cast<size_t>(TIfdKind::Thumbnail)] = withPointers(
      (*this)[TIfdKind::Thumbnail], {{thumbnail, kThumbnailOffset}, {thumbnail, kThumbnailLength}});

  // The maker note of the EXIF directory goes back where it was.
  const TTiffEntry* makerNote = nullptr;
  if (exif)
    for (const TTiffEntry& entry : written[static_cast<size_t>(TIfdKind::Exif)].Entries)
      if (entry.Tag == kMakerNoteTag && entry.SourceOffset >= 8 && entry.Value.size() > 4)
        makerNote = &entry;
  Places places(8);
  if (makerNote != nullptr) places.Keep(makerNote->SourceOffset, makerNote->Value.size());

  std::vector<std::pair<TIfdKind, bool>> order = {{TIfdKind::Main, true},
                                                  {TIfdKind::Exif, exif},
                                                  {TIfdKind::Interop, interop},
                                                  {TIfdKind::Gps, gps},
                                                  {TIfdKind::Thumbnail, thumbnail}};
  std::array<uint64_t, kIfdKinds> at{};
  // Directories first, then their values; the thumbnail's directory, values and picture last.
  auto placeValues = [&](const TTiffDirectory& directory, std::vector<uint64_t>& offsets) {
    for (const TTiffEntry& entry : directory.Entries) {
      uint64_t offset = 0;
      if (entry.Value.size() > 4)
        offset = &entry == makerNote ? entry.SourceOffset : places.Take(entry.Value.size());
      offsets.push_back(offset);
    }
  };
  std::array<std::vector<uint64_t>, kIfdKinds> valueAt;
  for (const auto& [kind, present] : order)
    if (present && kind != TIfdKind::Thumbnail)
      at[static_cast<size_t>(kind)] =
          places.Take(DirectorySize(written[static_cast<size_t>(kind)].Entries.size()));
  for (const auto& [kind, present] : order)
    if (present && kind != TIfdKind::Thumbnail)
      placeValues(written[static_cast<size_t>(kind)], valueAt[static_cast<size_t>(kind)]);
  uint64_t pictureAt = 0;
  if (thumbnail) {
    const size_t k = static_cast<size_t>(TIfdKind::Thumbnail);
    at[k] = places.Take(DirectorySize(written[k].Entries.size()));
    placeValues(written[k], valueAt[k]);
    pictureAt = places.Take(Thumbnail.size());
  }

  auto pointerValue = [&](uint16_t tag) -> uint32_t {
    switch (tag) {
      case kExifPointer:
        return static_cast<uint32_t>(at[static_cast<size_t>(TIfdKind::Exif)]);
      case kGpsPointer:
        return static_cast<uint32_t>(at[static_cast<size_t>(TIfdKind::Gps)]);
      case kInteropPointer:
        return static_cast<uint32_t>(at[static_cast<size_t>(TIfdKind::Interop)]);
      case kThumbnailOffset:
        return static_cast<uint32_t>(pictureAt);
      default:
        return static_cast<uint32_t>(Thumbnail.size());
    }
  };

  // Offsets count from the TIFF header, six bytes into the payload; every place handed out
  // fits 32 bits because the caller keeps the block near 64 KiB.
  Writer w(BigEndian);
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  w.Bytes(0, kHeader);
  const uint8_t order16[2] = {static_cast<uint8_t>(BigEndian ? 'M' : 'I'),
                              static_cast<uint8_t>(BigEndian ? 'M' : 'I')};
  w.Bytes(6, order16);
  w.Word(8, 42);
  // The main directory comes first unless a maker note kept its place there.
  w.Long(10, static_cast<uint32_t>(at[static_cast<size_t>(TIfdKind::Main)]));
  for (const auto& [kind, present] : order) {
    if (!present) continue;
    const size_t k = static_cast<size_t>(kind);
    const TTiffDirectory& directory = written[k];
    size_t p = static_cast<size_t>(kTiffStart + at[k]);
    w.Word(p, static_cast<uint16_t>(directory.Entries.size()));
    p += 2;
    for (size_t i = 0; i < directory.Entries.size(); ++i, p += kEntrySize) {
      const TTiffEntry& entry = directory.Entries[i];
      w.Word(p, entry.Tag);
      w.Word(p + 2, entry.Type);
      w.Long(p + 4, entry.Count);
      const bool pointer = entry.Tag == kExifPointer || entry.Tag == kGpsPointer ||
                           entry.Tag == kInteropPointer ||
                           (kind == TIfdKind::Thumbnail &&
                            (entry.Tag == kThumbnailOffset || entry.Tag == kThumbnailLength));
      if (pointer) {
        w.Long(p + 8, pointerValue(entry.Tag));
      } else if (entry.Value.size() <= 4) {
        uint8_t inline4[4] = {};
        std::copy(entry.Value.begin(), entry.Value.end(), inline4);
        w.Bytes(p + 8, inline4);
      } else {
        w.Long(p + 8, static_cast<uint32_t>(valueAt[k][i]));
        w.Bytes(static_cast<size_t>(kTiffStart + valueAt[k][i]), entry.Value);
      }
    }
    const uint32_t next = kind == TIfdKind::Main && thumbnail
                              ? static_cast<uint32_t>(at[static_cast<size_t>(TIfdKind::Thumbnail)])
                              : 0;
    w.Long(p, next);
  }
  if (thumbnail) w.Bytes(static_cast<size_t>(kTiffStart + pictureAt), Thumbnail);
  return w.Release();
}

TTiffEntry TExifBlock::Short(uint16_t tag, uint16_t value) const {
  Writer w(BigEndian);
  w.Word(0, value);
  return {tag, 3, 1, w.Release(), 0};
}

TTiffEntry TExifBlock::Long(uint16_t tag, uint32_t value) const {
  Writer w(BigEndian);
  w.Long(0, value);
  return {tag, kLongType, 1, w.Release(), 0};
}

TTiffEntry TExifBlock::Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) const {
  Writer w(BigEndian);
  w.Long(0, numerator);
  w.Long(4, denominator);
  return {tag, 5, 1, w.Release(), 0};
}

}  // namespace quorvex
