// Fuzzes the EXIF reader with arbitrary APP1 payloads, in the normal and the thumbnail-only
// mode, and writes back whatever it read. The reader must never raise or read outside the
// payload; the writer may only raise its two documented errors. Seeds: the APP1 payloads of the
// exiftool samples in tests/data/metadata (both byte orders), one with a thumbnail directory
// added by exiftool, and two bare headers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/metadata_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  for (const bool thumbnailOnly : {false, true}) {
    TExif exif;
    exif.ThumbnailOnly = thumbnailOnly;
    TEXIFThumbnail thumbnail;
    TBEMemoryStream payload(std::vector<uint8_t>(data, data + size));
    const bool valid = exif.ReadExif(payload, thumbnail);
    if (!valid && (!exif.Fields.Empty() || !thumbnail.Fields.Empty())) __builtin_trap();
    if (!valid) return 0;
    TMemoryStream out;
    try {
      exif.WriteExif(out, thumbnail);
    } catch (const EExifError&) {
      continue;
    } catch (const EConvertError&) {
      continue;
    }
    // What the writer produced must read back as a valid block with no more lines.
    TExif again;
    TEXIFThumbnail none;
    TBEMemoryStream written(std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().end()));
    if (out.Size() != 0 &&
        (!again.ReadExif(written, none) || again.Fields.Count() > exif.Fields.Count()))
      __builtin_trap();
  }
  return 0;
}
