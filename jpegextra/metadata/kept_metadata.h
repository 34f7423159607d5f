// The metadata of a loaded picture, kept apart from it so that pictures made from it can be
// written with it: taken from a loaded JPEG object once, then put into each JPEG object that
// encodes a result, adjusted to that result. What is kept is written back as it was read, less
// what the result changes.
#pragma once

#include <cstdint>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/icc_profile.h"
#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/metadata_blocks.h"
#include "jpegextra/metadata/metadata_parts.h"

namespace quorvex {

struct TKeptMetadata {
  TExif Exif;  // the fields of the first EXIF segment, for what the load needs of them
  TRawSegments Raw;
  TFileInfo FileInfo;      // the IPTC fields
  TICCProfile IccProfile;  // read only when the loading object had UseIccProfile on
  bool Upright = false;    // the load turned the picture upright
};

// Moves the loaded object's EXIF fields, kept segments and colour profile out.
TKeptMetadata TakeMetadata(TJPEGImageExtra& loaded);

// The EXIF Orientation recorded in the fields, 1..8; 1 when there is none or it is not one of
// those numbers.
int RecordedOrientation(const TExif& exif) noexcept;

// Records that the pixels now stand upright: a kept Orientation becomes 1 when written.
void MarkUpright(TKeptMetadata& kept);

// What the encoded result is: its size, the resolution its JFIF header gets (0 for none) and
// whether it is written as grayscale.
struct TOutputPicture {
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t Dpi = 0;
  bool Gray = false;
  bool Srgb = false;  // the pixels were converted to sRGB
};

// Gives output (a JPEG object about to be saved) the parts of the kept metadata, as segments
// written after its JFIF header: the first EXIF segment as it was read, with Orientation 1 when
// the load turned the picture, PixelXDimension and PixelYDimension (where the source had them)
// set to the result's size, the resolution fields set to its DPI (left as they were without
// one) and a thumbnail built from the result when the source had one; the block is kept
// within its 64 KiB by leaving out the thumbnail, then the largest fields without a name,
// then the largest others. The XMP packets, the Photoshop segments as they were read; the
// colour profile when its colour space is the result's (RGB for colour, gray for grayscale).
void PutMetadata(const TKeptMetadata& kept, const TOutputPicture& picture,
                 const TMetadataParts& parts, TJPEGImageExtra& output);

// The same parts as the blocks formats other than JPEG carry: the EXIF structure adjusted as
// above but without a thumbnail; the XMP packet as it was read, or, when the source had none,
// its IPTC record as XMP; the colour profile.
TMetadataBlocks MetadataBlocks(const TKeptMetadata& kept, const TOutputPicture& picture,
                               const TMetadataParts& parts);

}  // namespace quorvex
