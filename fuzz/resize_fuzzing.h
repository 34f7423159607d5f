// What the fuzzers of the Resize object's loads share: a byte array and a scratch file as the
// loads take their source, small JPEG files made by the codec, everything observable about the
// object (to tell whether a failed call changed it) and the rule that only the system's own
// exceptions may come out of a member.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imaging/exception.h"
#include "imaging/raster_image.h"
#include "jpegextra/jpeg_image.h"
#include "jpegextra/memory_stream.h"

namespace quorvex::fuzzing {

[[noreturn]] inline void Fault(const char* target, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", target, what.c_str());
  std::abort();
}

// The message of the system's exception a call raised, nothing when it returned. Anything else
// escapes and is reported by the fuzzer.
template <typename Call>
std::optional<std::string> Failure(Call&& call) {
  try {
    call();
    return std::nullopt;
  } catch (const Exception& e) {
    return e.Message();
  }
}

// A picture source as the loads take it: a byte array (VT_ARRAY | VT_UI1) or a file name.
class TSource {
 public:
  TSource(const std::vector<uint8_t>& bytes, bool asFile) {
    VariantInit(&value_);
    if (asFile) {
      std::ofstream(File(), std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
      V_VT(&value_) = VT_BSTR;
      V_BSTR(&value_) = Utf8ToNewBstr(File());
    } else {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (array == nullptr) std::abort();
      if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
      V_VT(&value_) = VT_ARRAY | VT_UI1;
      V_ARRAY(&value_) = array;
    }
  }
  ~TSource() { VariantClear(&value_); }
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;

  const VARIANT& Value() const noexcept { return value_; }
  // A plain load of the same source.
  void LoadInto(TResize& resize) const {
    if (V_VT(&value_) == VT_BSTR)
      resize.LoadFromFile(V_BSTR(&value_));
    else
      resize.VariantIn(value_);
  }

 private:
  // One file per process, in a directory of its own, both removed when the process ends.
  static const std::string& File() {
    struct TScratch {
      std::string directory, file;
      TScratch() {
        char pattern[] = "/tmp/quorvex-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        directory = pattern;
        file = directory + "/source.jpg";
      }
      ~TScratch() {
        std::remove(file.c_str());
        rmdir(directory.c_str());
      }
    };
    static const TScratch scratch;
    return scratch.file;
  }

  VARIANT value_;
};

// A small picture of the given format with pixels from a seed, for a codec to encode.
inline void FillPicture(TBitmap& image, int32_t width, int32_t height, bool gray, uint32_t seed) {
  image.SetPixelFormat(gray ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
  if (gray) {
    std::vector<TPaletteEntry> palette(256);
    for (size_t i = 0; i < palette.size(); ++i) {
      const auto level = static_cast<uint8_t>(i);
      palette[i] = {level, level, level, 0};
    }
    image.SetPalette(palette);
  }
  image.SetSize(width, height);
  const size_t row = static_cast<size_t>(width) * TBitmap::BytesPerPixel(image.PixelFormat());
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* pixels = image.Row(y);
    for (size_t i = 0; i < row; ++i) {
      seed = seed * 1664525u + 1013904223u;
      // Smooth ramps with a little noise, so that the picture has both edges and flat parts.
      pixels[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(y) * 5) + (seed >> 29));
    }
  }
}

// The picture encoded as a baseline JPEG file.
inline std::vector<uint8_t> EncodeJpeg(const TBitmap& image, bool gray) {
  TJPEGImage encoder;
  encoder.Assign(image);
  encoder.SetQuality(90);
  encoder.SetGrayscale(gray);
  TMemoryStream out;
  encoder.SaveToStream(out);
  return {out.Bytes().begin(), out.Bytes().end()};
}

// A JPEG file with segments put right after its start marker.
inline std::vector<uint8_t> WithSegments(const std::vector<uint8_t>& jpeg,
                                         const std::vector<uint8_t>& segments) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segments.begin(), segments.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// The colour of pixel (x, y) as red, green and blue, through the palette for 8-bit pictures.
inline void ColourAt(const TBitmap& image, int32_t x, int32_t y, uint8_t rgb[3]) {
  const uint8_t* p =
      image.ScanLine(y) + static_cast<size_t>(x) * TBitmap::BytesPerPixel(image.PixelFormat());
  if (image.PixelFormat() == TPixelFormat::pf24bit) {
    rgb[0] = p[2], rgb[1] = p[1], rgb[2] = p[0];
    return;
  }
  const auto palette = image.Palette();
  const TPaletteEntry entry = p[0] < palette.size() ? palette[p[0]] : TPaletteEntry{};
  rgb[0] = entry.Red, rgb[1] = entry.Green, rgb[2] = entry.Blue;
}

// Everything observable about an object's load: the picture and what the load found.
struct TObjectState {
  int32_t width = 0, height = 0;
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<TPaletteEntry> palette;
  std::vector<uint8_t> pixels;
  LONG dpi = 0, orientation = 0, sourceQuality = 0;
  VARIANT_BOOL gray = 0;
  std::string colorProfile, metadata;

  explicit TObjectState(const TResize& resize)
      : width(resize.Image().Width()),
        height(resize.Image().Height()),
        format(resize.Image().PixelFormat()),
        palette(resize.Image().Palette().begin(), resize.Image().Palette().end()),
        dpi(resize.DPI()),
        orientation(resize.Orientation()),
        sourceQuality(resize.SourceQuality()),
        gray(resize.GrayScale()),
        colorProfile(resize.ColorProfile()),
        metadata(resize.Metadata()) {
    const TBitmap& image = resize.Image();
    if (image.Empty()) return;
    const size_t row = static_cast<size_t>(width) * TBitmap::BytesPerPixel(format);
    for (int32_t y = 0; y < height; ++y)
      pixels.insert(pixels.end(), image.ScanLine(y), image.ScanLine(y) + row);
  }
  bool operator==(const TObjectState&) const = default;
};

}  // namespace quorvex::fuzzing
