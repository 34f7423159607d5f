// Edits of a kept XMP packet that leave its length as it was, so the packet's padding and any
// extended-XMP chunks that belong to it stay valid.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex {

// Sets the TIFF Orientation property of the APP1 XMP payload to 1, for a picture now upright.
void MarkXmpUpright(std::vector<uint8_t>& payload);

// Blanks the GPS properties of the EXIF namespace (attributes and elements) with spaces.
void RemoveXmpGps(std::vector<uint8_t>& payload);

}  // namespace quorvex
