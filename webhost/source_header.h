// The size a JPEG source declares in its frame header, read before anything is decoded, so that
// a request can be weighed before its work starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace quorvex::webhost {

struct PictureSize {
  int64_t width = 0;
  int64_t height = 0;
};

// Copies up to size bytes from offset into the buffer; the count copied (0 at the end or on an
// error).
using SourceReader = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;

// The size of the picture as it loads: its frame header's, with the sides swapped when upright
// is set and the first EXIF block's orientation turns it a quarter. Nothing when the source is
// not a JPEG, or its headers are not laid out segment after segment with the frame header among
// the first markers (upright: up to the data).
std::optional<PictureSize> JpegLoadSize(const SourceReader& read, bool upright);

// The same for bytes held in memory.
std::optional<PictureSize> JpegLoadSize(std::string_view bytes, bool upright);

// The same for an open file, read with pread.
std::optional<PictureSize> JpegLoadSize(int fd, bool upright);

}  // namespace quorvex::webhost
