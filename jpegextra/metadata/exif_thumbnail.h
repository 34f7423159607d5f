// The EXIF thumbnail: a small JPEG and the directory (IFD1) that describes it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "jpegextra/memory_stream.h"
#include "jpegextra/metadata/exif_lookup.h"
#include "jpegextra/metadata/string_list.h"

namespace quorvex {

// One 12-byte directory entry as read from a file.
struct TExifEntry {
  uint16_t Tag = 0;
  TExifFormat Format = TExifFormat::Undefined;
  uint32_t Count = 0;
  uint32_t ValueOrOffset = 0;       // the last four bytes read as a number in the file's order
  std::array<uint8_t, 4> Inline{};  // the same four bytes in file order
};

class TEXIFThumbnail {
 public:
  uint16_t EntryCount = 0;          // directory entries to write (7 once built) or read
  TMemoryStream JpegData;           // a complete JPEG file starting FF D8
  TStringList Fields;               // the directory as name=value lines, in writing order
  std::vector<TExifEntry> Entries;  // raw entries of a directory that was read

  void Clear() noexcept {
    EntryCount = 0;
    JpegData.Clear();
    Fields.Clear();
    Entries.clear();
  }
};

}  // namespace quorvex
