// PNG through libpng: the resolution in pHYs, the profile in iCCP, EXIF in eXIf and XMP in an
// iTXt chunk.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <new>
#include <string>

#include "imageformats/format_encoder.h"
#include "imageformats/packed_pixels.h"
#include "imaging/errors.h"

namespace quorvex {
namespace {

constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

struct PngWrite {
  const TPackedPixels* Pixels = nullptr;
  const TFormatOptions* Options = nullptr;
  std::vector<uint8_t>* Output = nullptr;
  std::string Error;
};

void OnError(png_structp png, png_const_charp message) {
  static_cast<PngWrite*>(png_get_error_ptr(png))->Error = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, size_t length) {
  auto& job = *static_cast<PngWrite*>(png_get_io_ptr(png));
  bool grown = true;
  try {
    job.Output->insert(job.Output->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  // Leaves by the library's jump only once the C++ handler is done.
  if (!grown) png_error(png, "out of memory");
}

void OnFlush(png_structp) {}

// Everything between setjmp and the library's jump lives in job or in the library, so the jump
// skips no destructor.
bool WriteRows(png_structp png, png_infop info, PngWrite& job) {
  if (setjmp(png_jmpbuf(png))) return false;
  const TPackedPixels& pixels = *job.Pixels;
  const TFormatOptions& options = *job.Options;
  png_set_write_fn(png, &job, OnWrite, OnFlush);
  png_set_benign_errors(png, 1);
  png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.Width),
               static_cast<png_uint_32>(pixels.Height), 8,
               pixels.Channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (options.Dpi != 0) {
    const auto perMetre = static_cast<png_uint_32>(std::lround(options.Dpi / 0.0254));
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  }
  const TFormatMetadata& metadata = options.Metadata;
  if (!metadata.Icc.empty())
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, metadata.Icc.data(),
                 static_cast<png_uint_32>(metadata.Icc.size()));
  if (!metadata.Exif.empty())
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.Exif.size()),
                   const_cast<png_bytep>(metadata.Exif.data()));
  png_text xmp{};
  // The library measures the text to its terminating zero, which the packet's bytes lack.
  const std::string packet(metadata.Xmp.begin(), metadata.Xmp.end());
  if (!packet.empty()) {
    xmp.compression = PNG_ITXT_COMPRESSION_NONE;
    xmp.key = const_cast<png_charp>(kXmpKeyword);
    xmp.text = const_cast<png_charp>(packet.c_str());
    xmp.itxt_length = packet.size();
    xmp.lang = const_cast<png_charp>("");
    xmp.lang_key = const_cast<png_charp>("");
    png_set_text(png, info, &xmp, 1);
  }
  png_write_info(png, info);
  for (int32_t y = 0; y < pixels.Height; ++y)
    png_write_row(png, pixels.Bytes.data() + static_cast<size_t>(y) * pixels.RowBytes());
  // Every chunk went before the image data; nothing is left for after it.
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const TBitmap& image, const TFormatOptions& options) {
  const TPackedPixels pixels =
      PackPixels(image, options.Grayscale ? TPacking::Gray : TPacking::Rgb);
  std::vector<uint8_t> output;
  PngWrite job{&pixels, &options, &output, {}};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, OnError, OnWarning);
  if (png == nullptr) throw EOutOfMemory();
  png_infop info = png_create_info_struct(png);
  const bool made = info != nullptr;
  const bool written = made && WriteRows(png, info, job);
  png_destroy_write_struct(&png, &info);
  if (!made) throw EOutOfMemory();
  if (!written) throw EInvalidGraphic("PNG encoding failed: " + job.Error + ".");
  return output;
}

}  // namespace quorvex
