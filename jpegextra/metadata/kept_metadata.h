// The metadata of a loaded picture, kept apart from it so that pictures made from it can be
// written with it: taken from a loaded JPEG object once, then put into each JPEG object that
// encodes a result, adjusted to that result.
#pragma once

#include <cstdint>

#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/file_info.h"
#include "jpegextra/metadata/icc_profile.h"
#include "jpegextra/metadata/jpeg_image_extra.h"

namespace quorvex {

struct TKeptMetadata {
  TExif Exif;
  TFileInfo FileInfo;
  TICCProfile IccProfile;  // read only when the loading object had UseIccProfile on
  bool HadThumbnail = false;
};

// Moves the loaded object's EXIF fields, IPTC record and colour profile out, and notes whether
// its EXIF block carried a thumbnail.
TKeptMetadata TakeMetadata(TJPEGImageExtra& loaded);

// The EXIF Orientation recorded in the fields, 1..8; 1 when there is none or it is not one of
// those numbers.
int RecordedOrientation(const TExif& exif) noexcept;

// Records that the pixels now stand upright: an Orientation field becomes 1.
void MarkUpright(TKeptMetadata& kept);

// What the encoded result is: its size, the resolution its JFIF header gets (0 for none) and
// whether it is written as grayscale.
struct TOutputPicture {
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t Dpi = 0;
  bool Gray = false;
};

// Gives output (a JPEG object about to be saved) the kept metadata: the EXIF fields with
// PixelXDimension and PixelYDimension set to the result's size and the resolution fields set to
// its DPI in inches (left out when it has none); a thumbnail built from the result when the
// source had one; the IPTC record; the colour profile when its colour space is the result's
// (RGB for colour, gray for grayscale).
void PutMetadata(const TKeptMetadata& kept, const TOutputPicture& picture, TJPEGImageExtra& output);

}  // namespace quorvex
