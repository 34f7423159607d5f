// The EXIF block of a JPEG object as text lines name=value, its reader and its writer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "jpegextra/memory_stream.h"
#include "jpegextra/metadata/be_memory_stream.h"
#include "jpegextra/metadata/exif_lookup.h"
#include "jpegextra/metadata/exif_thumbnail.h"
#include "jpegextra/metadata/string_list.h"

namespace quorvex {

class TExif {
 public:
  // One line per recognised tag, in the order met; names compared without regard to case.
  TStringList Fields;
  // Ascii values are UTF-8 in the file. The system's code page is UTF-8, so reading only checks
  // the text (a malformed one becomes empty) and writing keeps the bytes.
  bool DecodeUtf8 = true;
  // A thumbnail directory is to be written, or was read.
  bool HasThumbnail = false;
  // The reader fills only the thumbnail holder.
  bool ThumbnailOnly = false;

  // Reads the APP1 payload held in payload (from its start). Returns true when the "Exif"
  // header, the byte-order mark and the number 42 check out, even if reading stops early.
  // Never raises: entries that point outside the payload are skipped, reading stops at a
  // directory outside it or one already read, and at the segment's budget
  // (metadata_budget.h). A tag is read only in the directory it belongs to.
  bool ReadExif(TBEMemoryStream& payload, TEXIFThumbnail& thumbnail);

  // Appends a little-endian EXIF block (from "Exif" on) to output; nothing when no line belongs
  // to the main, EXIF or GPS directory. Raises EConvertError for items that are not numbers and
  // EExifError for a value text with too few items; output is untouched then.
  void WriteExif(TMemoryStream& output, const TEXIFThumbnail& thumbnail) const;

  void Assign(const TExif& other) {
    Fields = other.Fields;
    DecodeUtf8 = other.DecodeUtf8;
  }
};

// The resolution fields (XResolution, YResolution, ResolutionUnit) of the main directory of an
// APP1 payload, as ReadExif would give them; nullopt when the header is not valid.
std::optional<TStringList> ExifResolutionFields(std::span<const uint8_t> payload);

}  // namespace quorvex
