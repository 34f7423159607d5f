// WebP through libwebp; metadata as the extended format's ICCP, EXIF and XMP chunks.
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>
#include <string>

#include "imageformats/format_encoder.h"
#include "imageformats/format_quality.h"
#include "imageformats/packed_pixels.h"
#include "imaging/errors.h"

namespace quorvex {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw EInvalidGraphic("WebP encoding failed: " + what + ".");
}

struct PictureGuard {
  WebPPicture* picture;
  explicit PictureGuard(WebPPicture* p) : picture(p) {}
  ~PictureGuard() { WebPPictureFree(picture); }
  PictureGuard(const PictureGuard&) = delete;
  PictureGuard& operator=(const PictureGuard&) = delete;
};

struct WriterGuard {
  WebPMemoryWriter memory;
  WriterGuard() { WebPMemoryWriterInit(&memory); }
  ~WriterGuard() { WebPMemoryWriterClear(&memory); }
  WriterGuard(const WriterGuard&) = delete;
  WriterGuard& operator=(const WriterGuard&) = delete;
};

struct MuxDeleter {
  void operator()(WebPMux* mux) const noexcept { WebPMuxDelete(mux); }
};

void SetChunk(WebPMux* mux, const char fourcc[4], const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  const WebPData data{bytes.data(), bytes.size()};
  if (WebPMuxSetChunk(mux, fourcc, &data, 1) != WEBP_MUX_OK) Fail("metadata chunk refused");
}

// The simple-format file becomes an extended one with the metadata chunks; the muxer writes the
// VP8X header and its flags.
std::vector<uint8_t> WithMetadata(std::vector<uint8_t> plain, const TFormatMetadata& metadata) {
  if (metadata.Exif.empty() && metadata.Xmp.empty() && metadata.Icc.empty()) return plain;
  const WebPData image{plain.data(), plain.size()};
  std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 0));
  if (!mux) Fail("the encoded image could not be read back");
  SetChunk(mux.get(), "ICCP", metadata.Icc);
  SetChunk(mux.get(), "EXIF", metadata.Exif);
  SetChunk(mux.get(), "XMP ", metadata.Xmp);
  WebPData assembled;
  WebPDataInit(&assembled);
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) Fail("metadata could not be added");
  std::vector<uint8_t> result(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  return result;
}

}  // namespace

std::vector<uint8_t> EncodeWebP(const TBitmap& image, const TFormatOptions& options) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) Fail("library version mismatch");
  config.quality = static_cast<float>(WebPQuality(options.Quality));
  config.method = kWebPMethod;
  if (!WebPValidateConfig(&config)) Fail("invalid settings");

  WebPPicture picture;
  if (!WebPPictureInit(&picture)) Fail("library version mismatch");
  PictureGuard guard{&picture};
  picture.width = image.Width();
  picture.height = image.Height();
  // The format has no gray mode: gray goes in as equal channels and comes out with neutral chroma.
  const TPackedPixels pixels =
      PackPixels(image, options.Grayscale ? TPacking::GrayRgb : TPacking::Rgb);
  if (!WebPPictureImportRGB(&picture, pixels.Bytes.data(), static_cast<int>(pixels.RowBytes())))
    Fail("out of memory");

  WriterGuard writer;
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer.memory;
  if (!WebPEncode(&config, &picture)) Fail("error " + std::to_string(picture.error_code));
  return WithMetadata(std::vector<uint8_t>(writer.memory.mem, writer.memory.mem + writer.memory.size),
                      options.Metadata);
}

}  // namespace quorvex
