// An EXIF block as directories of raw entries, for writing it back with only what has to change:
// every value keeps its bytes and byte order, whatever its tag, so fields this system has no
// name for (lens data, offsets of time, the maker note) survive a rewrite.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvex {

enum class TIfdKind : uint8_t { Main, Exif, Gps, Interop, Thumbnail };
inline constexpr size_t kIfdKinds = 5;

inline constexpr uint16_t kMakerNoteTag = 0x927C;

struct TTiffEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Value;  // the count values, in the block's byte order
  // Where a value longer than four bytes lay in the source, counted from the TIFF header; the
  // writer puts the maker note back there, since vendors' offsets inside it count from there.
  uint32_t SourceOffset = 0;
};

struct TTiffDirectory {
  bool Present = false;
  std::vector<TTiffEntry> Entries;  // ascending by tag; the pointers to other directories left out

  TTiffEntry* Find(uint16_t tag) noexcept;
  // Replaces the entry with the same tag, or inserts it in tag order.
  void Set(TTiffEntry entry);
  void Remove(uint16_t tag);
};

class TExifBlock {
 public:
  bool BigEndian = false;
  std::array<TTiffDirectory, kIfdKinds> Directories;
  std::vector<uint8_t> Thumbnail;  // the JPEG the thumbnail directory points at

  TTiffDirectory& operator[](TIfdKind kind) noexcept {
    return Directories[static_cast<size_t>(kind)];
  }
  const TTiffDirectory& operator[](TIfdKind kind) const noexcept {
    return Directories[static_cast<size_t>(kind)];
  }

  // Reads an APP1 payload ("Exif", two zero bytes, the TIFF structure); nullopt when its header
  // is not that of an EXIF block or its main directory cannot be read (everything hangs off it).
  // Entries of an unknown type, or whose value lies outside the payload, are left out alone; each
  // directory is read once, within the budgets of metadata_budget.h.
  static std::optional<TExifBlock> Parse(std::span<const uint8_t> payload);

  // The APP1 payload: the main directory, then the EXIF, interoperability and GPS directories
  // that are present (a directory without entries still written, so that none disappears), their
  // values at even offsets, the maker note at its source offset when nothing else needs the
  // place, then the thumbnail directory and picture when there is a thumbnail.
  std::vector<uint8_t> Write() const;

  // Entries holding one value, in the block's byte order.
  TTiffEntry Short(uint16_t tag, uint16_t value) const;
  TTiffEntry Long(uint16_t tag, uint32_t value) const;
  TTiffEntry Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) const;
};

}  // namespace quorvex
