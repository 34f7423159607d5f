// Fuzzes the web host's reading of a source's size before any work (the frame header, and the
// EXIF orientation when the load turns the picture upright), against the codec that will load
// it. With arbitrary bytes as the file:
//   - the bytes in memory and the same bytes in a file read by descriptor give the same answer;
//   - a size found is the one the codec's header read gives, when that read succeeds;
//   - the upright size, when there is one, is the stored one, its sides exchanged exactly when
//     the orientation the load turns by (the codec's EXIF reader's) turns it a quarter.
// A source the host does not weigh (no size) is safe: the object then refuses by its own limits.
//
// The kept corpus (fuzz/corpus/source_header/, minimised by scripts/fuzz-campaign --merge; inputs
// that found a fault under crashes/, which merging leaves alone) grew from the JPEG files of the
// decode target's corpus and small pictures with an EXIF orientation 1..8, two EXIF segments,
// and one without an orientation before one with it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "imaging/orientation.h"
#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/kept_metadata.h"
#include "webhost/source_header.h"

namespace {

using namespace quorvex;
using webhost::JpegLoadSize;
using webhost::PictureSize;

[[noreturn]] void Fault(const char* what) {
  std::fprintf(stderr, "source_header_fuzzer: %s\n", what);
  std::abort();
}

bool Same(const std::optional<PictureSize>& a, const std::optional<PictureSize>& b) {
  return a.has_value() == b.has_value() && (!a || (a->width == b->width && a->height == b->height));
}

// The answer for the bytes as a file, read through its descriptor.
std::optional<PictureSize> FromFile(std::string_view bytes, bool upright) {
  static const int fd = memfd_create("source", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    Fault("cannot write the scratch file");
  return JpegLoadSize(fd, upright);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<PictureSize> stored = JpegLoadSize(bytes, false);
  const std::optional<PictureSize> upright = JpegLoadSize(bytes, true);
  if (!Same(stored, FromFile(bytes, false)) || !Same(upright, FromFile(bytes, true)))
    Fault("the file and the bytes differ");
  // Upright, the headers are read up to the data: a source may be weighed stored, not upright.
  if (upright && !stored) Fault("upright finds a frame the stored read does not");
  if (!stored) return 0;

  TJPEGImageExtra jpeg;
  try {
    jpeg.LoadFromBytes(std::vector<uint8_t>(data, data + size));
  } catch (...) {
    return 0;  // the load refuses the file: what the host weighed never runs
  }
  if (stored->width != jpeg.Width() || stored->height != jpeg.Height())
    Fault("the frame size differs from the codec's");
  const bool swapped = OrientationSwapsSides(RecordedOrientation(jpeg.Exif()));
  const PictureSize expected = swapped ? PictureSize{stored->height, stored->width} : *stored;
  if (upright && !Same(upright, expected))
    Fault("the upright size differs from the load's orientation");
  return 0;
}
