// Fuzzes the image transforms: the input is a small image (up to 64 x 64, 8 or 24 bits, with a
// palette) followed by a sequence of resizes, rotations and flips whose arguments come from the
// input, including zero, negative, huge, NaN and infinite ones. Each step checks the result's
// shape and content rules; the only exceptions allowed are those the arguments call for.
//
// Layout: flags (bit 0: 8-bit, bit 1: one more palette entry, bit 2: constant colour), width % 65,
// height % 65, for 8-bit a palette count and three bytes per entry, three bytes of the constant
// colour, the pixel bytes unless constant; then up to 8 steps, each an operation byte (% 5:
// halftone resize, colour-on-colour resize, rotate, reverse rows, reverse columns) and its
// arguments: a selector byte per size (below 240 a size 0..129, else a special value), or for a
// rotation an angle selector (a special value, else the next four bytes as a float) and four bytes
// of background colour. The seed corpus holds one small hand-made input per kind of step.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "imaging/errors.h"
#include "imaging/flip.h"
#include "imaging/palette_match.h"
#include "imaging/raster_image.h"
#include "imaging/resize.h"
#include "imaging/rotate.h"

namespace {

using namespace quorvex;

// Results above this are skipped rather than made, to keep each run fast.
constexpr int64_t kWorkLimit = int64_t{1} << 20;
// Content checks look at every pixel, so only for images up to this size.
constexpr int64_t kCheckLimit = int64_t{1} << 16;

class TInput : public quorvex::fuzzing::TFuzzInput {
 public:
  using TFuzzInput::TFuzzInput;

  int32_t Size() {
    static constexpr int32_t kSpecial[] = {-1,
                                           -5,
                                           std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max(),
                                           16383,
                                           16384,
                                           20000,
                                           65535,
                                           1 << 20,
                                           1 << 28,
                                           -16384,
                                           100000,
                                           3000,
                                           1000,
                                           2,
                                           1};
    const uint8_t selector = Byte();
    if (selector >= 240) return kSpecial[selector - 240];
    return selector % 130;
  }

  float Angle() {
    static constexpr float kSpecial[] = {0.0f,
                                         -0.0f,
                                         90.0f,
                                         180.0f,
                                         270.0f,
                                         -90.0f,
                                         45.0f,
                                         30.0f,
                                         360.0f,
                                         std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         1e30f,
                                         5.3e20f,
                                         5.2e20f,
                                         1e-30f,
                                         std::numeric_limits<float>::max(),
                                         std::numeric_limits<float>::denorm_min(),
                                         0.5f,
                                         -33.3f};
    const uint8_t selector = Byte();
    if (selector < sizeof(kSpecial) / sizeof(kSpecial[0])) return kSpecial[selector];
    const uint32_t bits = Word();
    float angle;
    std::memcpy(&angle, &bits, sizeof angle);
    return angle;
  }
};

[[noreturn]] void Fail() {
  std::abort();
}

void Require(bool condition) {
  if (!condition) Fail();
}

int64_t Pixels(int64_t width, int64_t height) {
  return width * height;
}

bool SamePalette(const TBitmap& a, const TBitmap& b) {
  if (a.PaletteSize() != b.PaletteSize()) return false;
  for (int i = 0; i < a.PaletteSize(); ++i)
    if (!(a.Palette()[i] == b.Palette()[i])) return false;
  return true;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  const size_t bytes = static_cast<size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
  if (bytes == 0) return true;
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), bytes) != 0) return false;
  return true;
}

uint32_t PixelAt(const TBitmap& image, int32_t x, int32_t y) {
  const int bpp = TBitmap::BytesPerPixel(image.PixelFormat());
  const uint8_t* p = image.ScanLine(y) + static_cast<size_t>(x) * bpp;
  return bpp == 1 ? p[0] : uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

std::set<uint32_t> PixelValues(const TBitmap& image) {
  std::set<uint32_t> values;
  if (image.Empty()) return values;
  for (int32_t y = 0; y < image.Height(); ++y)
    for (int32_t x = 0; x < image.Width(); ++x) values.insert(PixelAt(image, x, y));
  return values;
}

// Every pixel of result is one of allowed.
void RequireDrawnFrom(const TBitmap& result, const std::set<uint32_t>& allowed) {
  if (result.Empty()) return;
  for (int32_t y = 0; y < result.Height(); ++y)
    for (int32_t x = 0; x < result.Width(); ++x) Require(allowed.count(PixelAt(result, x, y)) != 0);
}

std::unique_ptr<TBitmap> ReadImage(TInput& in) {
  auto image = std::make_unique<TBitmap>();
  const uint8_t flags = in.Byte();
  const TPixelFormat format = flags & 1 ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
  image->SetPixelFormat(format);
  const int32_t width = in.Byte() % 65;
  const int32_t height = in.Byte() % 65;
  if (format == TPixelFormat::pf8bit) {
    std::vector<TPaletteEntry> palette(in.Byte() + (flags & 2 ? 1 : 0));
    for (auto& entry : palette) entry = {in.Byte(), in.Byte(), in.Byte(), 0};
    image->SetPalette(palette);
  }
  image->SetSize(width, height);
  const size_t bytes = static_cast<size_t>(width) * TBitmap::BytesPerPixel(format);
  const bool constant = flags & 4;
  uint8_t first[3] = {in.Byte(), in.Byte(), in.Byte()};
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->Row(y);
    for (size_t i = 0; i < bytes; ++i) row[i] = constant ? first[i % 3] : in.Byte();
  }
  return image;
}

void FuzzResize(std::unique_ptr<TBitmap>& image, TInput& in, TStretchMode mode) {
  const int32_t width = in.Size();
  const int32_t height = in.Size();
  const bool positive = width >= 0 && height >= 0;
  if (positive && Pixels(width, height) > kWorkLimit && Pixels(width, height) <= kMaxRasterPixels)
    return;
  std::unique_ptr<TBitmap> result = std::make_unique<TBitmap>();
  try {
    ResizeBitmap(width, height, result, *image, mode);
  } catch (const EDivByZero&) {
    Require(height == 0 || image->Height() == 0);
    Require(result && result->Empty() && result->PixelFormat() == image->PixelFormat());
    return;
  } catch (const EInvalidGraphicOperation&) {
    Require(height != 0 && image->Height() != 0 && !positive);
    return;
  } catch (const EOutOfMemory&) {
    Require(height != 0 && image->Height() != 0 && positive &&
            Pixels(width, height) > kMaxRasterPixels);
    return;
  }
  Require(height != 0 && image->Height() != 0 && positive);
  Require(result->Width() == width && result->Height() == height);
  Require(result->PixelFormat() == image->PixelFormat() && SamePalette(*result, *image));
  if (width == image->Width() && height == image->Height()) Require(SamePixels(*result, *image));
  const bool selecting =
      mode == TStretchMode::ColorOnColor || image->PixelFormat() == TPixelFormat::pf8bit;
  if (!image->Empty() && Pixels(image->Width(), image->Height()) <= kCheckLimit &&
      Pixels(width, height) <= kCheckLimit) {
    const std::set<uint32_t> values = PixelValues(*image);
    // Selection copies source pixels; averaging a single colour gives that colour.
    if (selecting || values.size() == 1) RequireDrawnFrom(*result, values);
  }
  image = std::move(result);
}

void FuzzRotate(std::unique_ptr<TBitmap>& image, TInput& in) {
  const float angle = in.Angle();
  const TColor background = in.Word();
  const TRotation rotation = RotationFor(angle);
  Require(std::isfinite(rotation.sine) && std::isfinite(rotation.cosine));
  Require(std::fabs(rotation.sine) <= 1 && std::fabs(rotation.cosine) <= 1);
  int64_t expected = 0;
  if (!image->Empty()) {
    const TRotatedSize size = RotatedSize(image->Width(), image->Height(), rotation);
    Require(size.width <= int64_t{image->Width()} + image->Height() + 1);
    Require(size.height <= int64_t{image->Width()} + image->Height() + 1);
    expected = Pixels(size.width, size.height);
    if (expected > kWorkLimit && expected <= kMaxRasterPixels) return;
  }
  std::unique_ptr<TBitmap> result;
  try {
    RotateBitmap(*image, result, background, angle);
  } catch (const EOutOfMemory&) {
    Require(expected > kMaxRasterPixels);
    return;
  }
  Require(result->PixelFormat() == image->PixelFormat() && SamePalette(*result, *image));
  if (image->Empty()) Require(result->Empty());
  if (angle == 0) Require(SamePixels(*result, *image));
  // NaN, infinities and angles whose radian value passes 2^63 turn into nothing.
  if (!(std::fabs(angle * 0.017453292519943295) < 0x1p63 * 1.001)) Require(result->Empty());
  if (!image->Empty() && Pixels(image->Width(), image->Height()) <= kCheckLimit &&
      Pixels(result->Width(), result->Height()) <= kCheckLimit) {
    std::set<uint32_t> values = PixelValues(*image);
    values.insert(image->PixelFormat() == TPixelFormat::pf8bit
                      ? static_cast<uint32_t>(FindPaletteIndex(image->Palette(), background))
                      : (background >> 16 & 0xFF) | (background & 0xFF00) |
                            (background & 0xFF) << 16);
    RequireDrawnFrom(*result, values);
  }
  image = std::move(result);
}

void FuzzFlip(std::unique_ptr<TBitmap>& image, bool rows) {
  TBitmap before;
  before.CopyFrom(*image);
  if (rows)
    ReverseRowOrder(*image);
  else
    ReverseColumnOrder(*image);
  Require(image->Width() == before.Width() && image->Height() == before.Height());
  Require(image->PixelFormat() == before.PixelFormat() && SamePalette(*image, before));
  if (Pixels(image->Width(), image->Height()) <= kCheckLimit) {
    TBitmap twice;
    twice.CopyFrom(*image);
    if (rows)
      ReverseRowOrder(twice);
    else
      ReverseColumnOrder(twice);
    Require(SamePixels(twice, before));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  try {
    std::unique_ptr<TBitmap> image = ReadImage(in);
    for (int step = 0; step < 8 && !in.Empty(); ++step) {
      switch (in.Byte() % 5) {
        case 0:
          FuzzResize(image, in, TStretchMode::Halftone);
          break;
        case 1:
          FuzzResize(image, in, TStretchMode::ColorOnColor);
          break;
        case 2:
          FuzzRotate(image, in);
          break;
        case 3:
          FuzzFlip(image, true);
          break;
        default:
          FuzzFlip(image, false);
          break;
      }
    }
  } catch (...) {
    // Every expected exception is caught where it is expected; anything else is a fault.
    Fail();
  }
  return 0;
}
