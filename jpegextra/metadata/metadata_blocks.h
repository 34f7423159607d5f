// Metadata as the blocks picture formats other than JPEG carry: the EXIF fields as a TIFF
// structure, XMP (where IPTC goes too), the colour profile.
#pragma once

#include <cstdint>
#include <vector>

#include "jpegextra/metadata/jpeg_image_extra.h"

namespace quorvex {

struct TMetadataBlocks {
  std::vector<uint8_t> Exif;  // from the byte-order mark on; no thumbnail
  std::vector<uint8_t> Xmp;
  std::vector<uint8_t> Icc;
};

// The IPTC core fields of info as an XMP packet (Dublin Core, Photoshop and IPTC Core names);
// empty when none is set. Texts that are not UTF-8 are left out.
std::vector<uint8_t> XmpPacket(const TFileInfo& info);

}  // namespace quorvex
