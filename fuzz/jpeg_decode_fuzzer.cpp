// Loads and decodes arbitrary bytes through the JPEG image object. The last input byte picks
// the decode settings (24-bit, quantized colour, gray) and whether the picture is encoded
// again, so every path through the library binding is reached.
//
// Seeds (fuzz/corpus/jpeg_decode/) are 24 x 16 pictures made with cjpeg -quality 75 (plain,
// -progressive, -grayscale, -rgb, -restart 1 -sample 1x1, -arithmetic), one Adobe YCCK file
// from ImageMagick (convert -colorspace CMYK), and the first 300 bytes of the plain one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpegextra/jpeg_image.h"

namespace {

// Large frames decode correctly but slowly; the interesting failures are in small ones.
constexpr int64_t kMaxFuzzPixels = 4'000'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  const uint8_t mode = size > 0 ? data[size - 1] : 0;
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TJPEGImage jpeg;
  jpeg.SetEightBitOutput((mode & 3) == 1);
  jpeg.SetGrayscale((mode & 3) == 2);
  try {
    jpeg.LoadFromStream(stream);
    if (static_cast<int64_t>(jpeg.Width()) * jpeg.Height() > kMaxFuzzPixels) return 0;
    const TBMPImage& raster = jpeg.Decode();
    if ((mode & 3) == 3) {
      TJPEGImage encoder;
      encoder.Assign(raster);
      encoder.SetQuality(mode);
      encoder.SetProgressive((mode & 4) != 0);
      encoder.SetGrayscale((mode & 8) != 0);
      TMemoryStream out;
      encoder.SaveToStream(out);
    }
  } catch (const Exception&) {
    // Refusing bad input is the expected outcome; crashes, leaks and hangs are not.
  }
  return 0;
}
