// Fuzzes the Resize object's transforms: a small image (0..48 on each side, 8- or 24-bit) set
// through the object's own image replacement, then a sequence of ResizeImage, ScaleImage,
// ResizeBox, RotateImage, CropImage, FlipHorizontal, FlipVertical, FillBox (under any Gravity
// and Sharpen, NaN and infinities included) and BackgroundColor puts with
// arguments that include 0, 1, negative, huge, INT_MIN and INT_MAX sizes and NaN, infinite,
// 1e30 and -0.0 angles. Only the system's own exceptions may come out. Each step is checked
// against the size rules of the transforms (and, for flips, crops and quarter turns, against
// the pixels); a step that fails must leave the image and the settings as they were.
//
// Input: flags (bit 0: 8-bit, bit 1: pixels from the input rather than generated), width % 49,
// height % 49, for 8-bit a palette count byte and three bytes per entry, four bytes of pixel seed
// (or the pixel bytes themselves), four bytes of background colour; then up to 16 steps, each an
// operation byte (% 9) and its arguments: one selector byte per integer (below 200 a small value
// -20..179, else one of the special values) or per angle (below 200 a whole number of degrees,
// else a special value or the next four bytes as a float); FillBox first takes a Gravity byte
// (% 12: the eleven names and an unknown one) and a Sharpen selector.
//
// The seeds (fuzz/corpus/resize_transforms/) were written by a short script from this layout, one
// per kind of step and a few mixed sequences over 8- and 24-bit images, including the zero-side
// crop followed by ResizeBox and a 48 x 4 image whose ResizeBox(1, 100) must fail (1 x 4 / 48).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "fuzz/fuzz_input.h"
#include "imaging/exception.h"
#include "imaging/fill_box.h"
#include "imaging/raster_image.h"
#include "imaging/rotate.h"
#include "platform/com_ptr.h"

namespace {

using namespace quorvex;

// Results above this many pixels are skipped rather than made, to keep each run fast; results
// above the raster limit are still asked for, since those must be refused before allocation.
constexpr int64_t kWorkLimit = int64_t{1} << 16;

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "resize_transforms_fuzzer: %s\n", what.c_str());
  std::abort();
}

class TInput : public quorvex::fuzzing::TFuzzInput {
 public:
  using TFuzzInput::TFuzzInput;

  LONG Integer() {
    static constexpr LONG kSpecial[] = {0,
                                        1,
                                        -1,
                                        2,
                                        std::numeric_limits<LONG>::min(),
                                        std::numeric_limits<LONG>::max(),
                                        std::numeric_limits<LONG>::min() + 1,
                                        std::numeric_limits<LONG>::max() - 1,
                                        48,
                                        49,
                                        100,
                                        1000,
                                        16383,
                                        16384,
                                        65535,
                                        1 << 20,
                                        -(1 << 20),
                                        1 << 30,
                                        -100,
                                        100000,
                                        46341,
                                        -46341,
                                        -2,
                                        3,
                                        255,
                                        256,
                                        4096,
                                        -4096,
                                        2000000000,
                                        -2000000000,
                                        10,
                                        5};
    const uint8_t selector = Byte();
    if (selector < 200) return static_cast<LONG>(selector) - 20;
    return kSpecial[(selector - 200) % (sizeof kSpecial / sizeof kSpecial[0])];
  }

  FLOAT Angle() {
    static constexpr FLOAT kSpecial[] = {0.0f,
                                         -0.0f,
                                         90.0f,
                                         -90.0f,
                                         180.0f,
                                         270.0f,
                                         360.0f,
                                         45.0f,
                                         1e30f,
                                         -1e30f,
                                         std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::max(),
                                         std::numeric_limits<float>::denorm_min(),
                                         5.28e20f,  // radians just above 2^63
                                         1e-7f,
                                         720.0f,
                                         -450.0f};
    const uint8_t selector = Byte();
    if (selector < 200) return static_cast<FLOAT>(static_cast<int>(selector) * 3 - 300);
    if (selector == 255) {
      const uint32_t bits = Word();
      FLOAT value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    return kSpecial[(selector - 200) % (sizeof kSpecial / sizeof kSpecial[0])];
  }

  double Strength() {
    static constexpr double kSpecial[] = {0.0,
                                          1.0,
                                          -1.0,
                                          10.0,
                                          11.0,
                                          1e308,
                                          std::numeric_limits<double>::denorm_min(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::quiet_NaN()};
    const uint8_t selector = Byte();
    if (selector < 200) return selector / 40.0;
    return kSpecial[(selector - 200) % (sizeof kSpecial / sizeof kSpecial[0])];
  }
};

// The object under test, with its image set directly as the tests of its subclasses do.
class FuzzResize : public TResize {
 public:
  void SetImage(TBitmap& image) { ReplaceImage(image); }
};

// Everything observable about the image, to tell whether a failed step changed it.
struct Snapshot {
  int32_t width = 0, height = 0;
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<TPaletteEntry> palette;
  std::vector<uint8_t> pixels;

  explicit Snapshot(const TBitmap& image)
      : width(image.Width()),
        height(image.Height()),
        format(image.PixelFormat()),
        palette(image.Palette().begin(), image.Palette().end()) {
    if (image.Empty()) return;
    const size_t row = static_cast<size_t>(width) * TBitmap::BytesPerPixel(format);
    for (int32_t y = 0; y < height; ++y)
      pixels.insert(pixels.end(), image.ScanLine(y), image.ScanLine(y) + row);
  }
  bool operator==(const Snapshot&) const = default;

  // Red, green and blue of pixel (x, y), through the palette for 8-bit images.
  void Colour(int32_t x, int32_t y, uint8_t rgb[3]) const {
    const size_t bpp = TBitmap::BytesPerPixel(format);
    const uint8_t* p = pixels.data() + (static_cast<size_t>(y) * width + x) * bpp;
    if (format == TPixelFormat::pf24bit) {
      rgb[0] = p[2];
      rgb[1] = p[1];
      rgb[2] = p[0];
      return;
    }
    const TPaletteEntry entry = p[0] < palette.size() ? palette[p[0]] : TPaletteEntry{};
    rgb[0] = entry.Red;
    rgb[1] = entry.Green;
    rgb[2] = entry.Blue;
  }
  // The raw bytes of pixel (x, y).
  const uint8_t* Raw(int32_t x, int32_t y) const {
    const size_t bpp = TBitmap::BytesPerPixel(format);
    return pixels.data() + (static_cast<size_t>(y) * width + x) * bpp;
  }
};

struct Settings {
  LONG dpi, quality;
  VARIANT_BOOL gray;
  OLE_COLOR background;
  bool operator==(const Settings&) const = default;
};

Settings SettingsOf(const TResize& resize) {
  return {resize.DPI(), resize.JPGQuality(), resize.GrayScale(), resize.BackgroundColor()};
}

void MakeImage(TInput& in, FuzzResize& resize) {
  const uint8_t flags = in.Byte();
  const bool indexed = (flags & 1) != 0;
  const int32_t width = in.Byte() % 49;
  const int32_t height = in.Byte() % 49;
  TBitmap image;
  image.SetPixelFormat(indexed ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
  if (indexed) {
    std::vector<TPaletteEntry> palette(in.Byte() % 256 + 1);
    for (TPaletteEntry& entry : palette) {
      entry.Red = in.Byte();
      entry.Green = in.Byte();
      entry.Blue = in.Byte();
    }
    image.SetPalette(palette);
  }
  image.SetSize(width, height);
  const bool raw = (flags & 2) != 0;
  uint32_t seed = raw ? 0 : in.Word();
  const size_t row = static_cast<size_t>(width) * TBitmap::BytesPerPixel(image.PixelFormat());
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* pixels = image.Row(y);
    for (size_t i = 0; i < row; ++i) {
      seed = seed * 1664525u + 1013904223u;
      pixels[i] = raw ? in.Byte() : static_cast<uint8_t>(seed >> 24);
    }
  }
  resize.SetImage(image);
  resize.SetBackgroundColor(in.Word());
}

struct Size {
  int64_t width, height;
};

// What a resize to the target gives: nullopt when it must fail. Over the raster limit it fails
// too, as out of memory.
std::optional<Size> ResizeOutcome(Size target, const Size& source) {
  if (target.height == 0 || source.height == 0) return std::nullopt;  // Division by zero
  if (target.width > std::numeric_limits<int32_t>::max() ||
      target.height > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  if (target.width * target.height > kMaxRasterPixels) return std::nullopt;
  return target;
}

// The ResizeImage rules: nothing happens (no target), or a resize to the target.
struct Plan {
  bool nothing = false;
  bool derivedByZeroWidth = false;  // the missing side would be derived by dividing by 0
  Size target{0, 0};
};

Plan ResizeImagePlan(LONG width, LONG height, const Size& image) {
  Plan plan;
  int64_t w = std::max<LONG>(width, 0), h = std::max<LONG>(height, 0);
  if ((w == 0 && h == 0) || image.height == 0) {
    plan.nothing = true;
    return plan;
  }
  if (w == 0) {
    w = h * image.width / image.height;
  } else if (h == 0) {
    if (image.width == 0) {
      plan.derivedByZeroWidth = true;
      return plan;
    }
    h = w * image.height / image.width;
  }
  plan.target = {w, h};
  return plan;
}

// Runs one step; returns whether it raised. Only the system's exceptions are caught: anything
// else escapes and is reported by the fuzzer.
template <typename Step>
bool Raises(Step&& step, std::string* message) {
  try {
    step();
    return false;
  } catch (const Exception& e) {
    *message = e.Message();
    return true;
  }
}

// Whether a planned result is too large to make quickly, though the system would make it.
bool TooSlow(const std::optional<Size>& outcome) {
  return outcome && outcome->width * outcome->height > kWorkLimit;
}

// What a step must give: no change, a failure, or a result of the expected size.
enum class Expect { kUnchanged, kFailure, kSize };

// Sets what a resize by the plan must give; false when its result is too large to make quickly.
bool ExpectResize(const Plan& plan, const Size& size, Expect& expect, Size& expected) {
  const std::optional<Size> outcome =
      plan.nothing || plan.derivedByZeroWidth ? std::nullopt : ResizeOutcome(plan.target, size);
  if (TooSlow(outcome)) return false;
  expect = plan.nothing ? Expect::kUnchanged : outcome ? Expect::kSize : Expect::kFailure;
  if (outcome) expected = *outcome;
  return true;
}

void CheckSize(const TResize& resize, const Size& expected, const char* step) {
  if (resize.Width() != expected.width || resize.Height() != expected.height)
    Fault(std::string(step) + ": " + std::to_string(resize.Width()) + "x" +
          std::to_string(resize.Height()) + " instead of " + std::to_string(expected.width) + "x" +
          std::to_string(expected.height));
}

void CheckCrop(const Snapshot& before, const TResize& resize, int64_t left, int64_t top) {
  const TBitmap& image = resize.Image();
  if (image.PixelFormat() != TPixelFormat::pf24bit) Fault("crop result is not 24-bit");
  if (image.Empty()) return;
  const OLE_COLOR background = resize.BackgroundColor();
  const uint8_t fill[3] = {static_cast<uint8_t>(background), static_cast<uint8_t>(background >> 8),
                           static_cast<uint8_t>(background >> 16)};
  for (int32_t y = 0; y < image.Height(); ++y)
    for (int32_t x = 0; x < image.Width(); ++x) {
      const int64_t sx = left + x, sy = top + y;
      uint8_t expected[3];
      if (sx >= 0 && sy >= 0 && sx < before.width && sy < before.height) {
        before.Colour(static_cast<int32_t>(sx), static_cast<int32_t>(sy), expected);
      } else {
        std::memcpy(expected, fill, 3);
      }
      const uint8_t* got = image.ScanLine(y) + 3 * x;
      if (got[2] != expected[0] || got[1] != expected[1] || got[0] != expected[2])
        Fault("crop pixel " + std::to_string(x) + "," + std::to_string(y) + " is wrong");
    }
}

// A mapping from result pixels to the source pixels they must equal exactly.
template <typename Map>
void CheckMapped(const Snapshot& before, const TBitmap& image, Map&& map, const char* step) {
  if (image.PixelFormat() != before.format) Fault(std::string(step) + ": pixel format changed");
  if (!std::equal(before.palette.begin(), before.palette.end(), image.Palette().begin(),
                  image.Palette().end()))
    Fault(std::string(step) + ": palette changed");
  if (image.Empty()) return;  // a side of 0 may come with a huge other side
  const int bpp = TBitmap::BytesPerPixel(before.format);
  for (int32_t y = 0; y < image.Height(); ++y)
    for (int32_t x = 0; x < image.Width(); ++x) {
      int32_t sx = 0, sy = 0;
      map(x, y, sx, sy);
      if (std::memcmp(image.ScanLine(y) + bpp * x, before.Raw(sx, sy), bpp) != 0)
        Fault(std::string(step) + ": pixel " + std::to_string(x) + "," + std::to_string(y) +
              " is not source pixel " + std::to_string(sx) + "," + std::to_string(sy));
    }
}

// Whether the image is a window of the source's pixels at some place, as a cut must be.
bool IsWindow(const Snapshot& before, const TBitmap& image) {
  if (image.PixelFormat() != before.format ||
      !std::equal(before.palette.begin(), before.palette.end(), image.Palette().begin(),
                  image.Palette().end()))
    return false;
  const int32_t w = image.Width(), h = image.Height();
  const size_t row = static_cast<size_t>(w) * TBitmap::BytesPerPixel(before.format);
  for (int32_t top = 0; top + h <= before.height; ++top)
    for (int32_t left = 0; left + w <= before.width; ++left) {
      int32_t y = 0;
      while (y < h && std::memcmp(image.ScanLine(y), before.Raw(left, top + y), row) == 0) ++y;
      if (y == h) return true;
    }
  return false;
}

constexpr const char* kGravities[] = {"center",    "north",     "south",     "east",
                                      "west",      "northeast", "northwest", "southeast",
                                      "southwest", "attention", "entropy",   "middle"};

// Gravity and Sharpen for the next FillBox: an unknown name and NaN are refused and change
// nothing; any other strength is kept within 0..10.
void SetFillSettings(TInput& in, FuzzResize& resize) {
  const char* gravity = kGravities[in.Byte() % (sizeof kGravities / sizeof kGravities[0])];
  const bool known = std::string(gravity) != "middle";
  const TBstr previous(resize.Gravity()), name(Utf8ToNewBstr(gravity));
  std::string message;
  const bool refused = Raises([&] { resize.SetGravity(name.get()); }, &message);
  const TBstr now(resize.Gravity());
  const bool kept =
      BstrToUtf8(now.get()) == (known ? std::string(gravity) : BstrToUtf8(previous.get()));
  if (refused == known || !kept) Fault(std::string("Gravity \"") + gravity + "\" not handled");

  const double strength = in.Strength();
  const double before = resize.Sharpen();
  if (Raises([&] { resize.SetSharpen(strength); }, &message) != std::isnan(strength))
    Fault("Sharpen " + std::to_string(strength) + " not handled");
  const double after = resize.Sharpen();
  if (std::isnan(strength) ? after != before : !(after >= 0 && after <= 10))
    Fault("Sharpen " + std::to_string(strength) + " kept as " + std::to_string(after));
}

void Step(TInput& in, FuzzResize& resize) {
  const Snapshot before(resize.Image());
  const Settings settings = SettingsOf(resize);
  const Size size{before.width, before.height};
  std::string message;
  bool raised = false;
  Expect expect = Expect::kUnchanged;
  Size expected = size;
  const char* name = "";

  const uint8_t op = in.Byte() % 9;
  switch (op) {
    case 0: {
      name = "ResizeImage";
      const LONG w = in.Integer(), h = in.Integer();
      if (!ExpectResize(ResizeImagePlan(w, h, size), size, expect, expected)) return;
      raised = Raises([&] { resize.ResizeImage(w, h); }, &message);
      break;
    }
    case 1: {
      name = "ScaleImage";
      const LONG factor = in.Integer();
      if (factor <= 0) {
        expect = Expect::kUnchanged;
      } else {
        const std::optional<Size> outcome = ResizeOutcome(
            {int64_t{factor} * size.width / 100, int64_t{factor} * size.height / 100}, size);
        if (TooSlow(outcome)) return;
        expect = outcome ? Expect::kSize : Expect::kFailure;
        if (outcome) expected = *outcome;
      }
      raised = Raises([&] { resize.ScaleImage(factor); }, &message);
      break;
    }
    case 2: {
      name = "ResizeBox";
      const LONG w = in.Integer(), h = in.Integer();
      if (w >= size.width && h >= size.height) {
        expect = Expect::kUnchanged;
      } else {
        const double rw = static_cast<double>(size.width) / w;
        const double rh = static_cast<double>(size.height) / h;
        const Plan plan = rw > rh ? ResizeImagePlan(w, 0, size) : ResizeImagePlan(0, h, size);
        if (!ExpectResize(plan, size, expect, expected)) return;
      }
      raised = Raises([&] { resize.ResizeBox(w, h); }, &message);
      break;
    }
    case 3: {
      name = "RotateImage";
      const FLOAT angle = in.Angle();
      // A picture with a side of 0 has no pixels to turn; a crop 0 pixels wide may still be 2^31
      // rows high, whose turned size no raster may hold. Either answer is sound: only a crash or
      // an escaping exception is a fault.
      if (size.width == 0 || size.height == 0) {
        std::string ignored;
        Raises([&] { resize.RotateImage(angle); }, &ignored);
        return;
      }
      std::optional<Size> outcome = size;
      {
        std::string sizeMessage;
        TRotatedSize turned;
        if (Raises([&] { turned = RotatedSize(before.width, before.height, RotationFor(angle)); },
                   &sizeMessage)) {
          outcome = std::nullopt;
        } else {
          outcome = Size{turned.width, turned.height};
          if (outcome->width * outcome->height > kMaxRasterPixels) outcome = std::nullopt;
        }
      }
      if (TooSlow(outcome)) return;
      expect = outcome ? Expect::kSize : Expect::kFailure;
      if (outcome) expected = *outcome;
      raised = Raises([&] { resize.RotateImage(angle); }, &message);
      if (raised || before.width == 0 || before.height == 0) break;
      CheckSize(resize, expected, name);
      // The exact turns map every pixel onto one source pixel.
      const int32_t w = before.width, h = before.height;
      if (angle == 0.0f) {
        CheckMapped(
            before, resize.Image(),
            [](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { sx = x, sy = y; }, name);
      } else if (angle == 180.0f) {
        CheckMapped(
            before, resize.Image(),
            [&](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { sx = w - 1 - x, sy = h - 1 - y; },
            name);
      } else if (angle == 90.0f) {
        CheckMapped(
            before, resize.Image(),
            [&](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { sx = w - 1 - y, sy = x; }, name);
      }
      break;
    }
    case 4: {
      name = "CropImage";
      const LONG x1 = in.Integer(), y1 = in.Integer(), x2 = in.Integer(), y2 = in.Integer();
      const int64_t left = std::min(x1, x2), right = std::max(x1, x2);
      const int64_t top = std::min(y1, y2), bottom = std::max(y1, y2);
      std::optional<Size> outcome = Size{right - left, bottom - top};
      if (outcome->width > std::numeric_limits<int32_t>::max() ||
          outcome->height > std::numeric_limits<int32_t>::max() ||
          outcome->width * outcome->height > kMaxRasterPixels)
        outcome = std::nullopt;
      if (TooSlow(outcome)) return;
      expect = outcome ? Expect::kSize : Expect::kFailure;
      if (outcome) expected = *outcome;
      raised = Raises([&] { resize.CropImage(x1, y1, x2, y2); }, &message);
      if (raised) break;
      CheckSize(resize, expected, name);
      CheckCrop(before, resize, left, top);
      break;
    }
    case 5: {
      name = "FlipHorizontal";
      expect = Expect::kSize;
      raised = Raises([&] { resize.FlipHorizontal(); }, &message);
      if (raised) break;
      CheckSize(resize, expected, name);
      CheckMapped(
          before, resize.Image(),
          [&](int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
            sx = x, sy = before.height - 1 - y;
          },
          name);
      break;
    }
    case 6: {
      name = "FlipVertical";
      expect = Expect::kSize;
      raised = Raises([&] { resize.FlipVertical(); }, &message);
      if (raised) break;
      CheckSize(resize, expected, name);
      CheckMapped(
          before, resize.Image(),
          [&](int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
            sx = before.width - 1 - x, sy = y;
          },
          name);
      break;
    }
    case 7: {
      name = "FillBox";
      SetFillSettings(in, resize);
      const LONG w = in.Integer(), h = in.Integer();
      const LONG bw = std::max<LONG>(w, 0), bh = std::max<LONG>(h, 0);
      bool window = false;
      if (bw == 0 || bh == 0) {
        // One side only: the other follows the picture, as ResizeImage derives it, and the
        // picture is never enlarged.
        if ((bw == 0 || bw >= size.width) && (bh == 0 || bh >= size.height))
          expect = Expect::kUnchanged;
        else if (!ExpectResize(ResizeImagePlan(bw, bh, size), size, expect, expected))
          return;
      } else if (size.height == 0) {
        expect = Expect::kUnchanged;
      } else if (size.width == 0) {
        expect = Expect::kFailure;
      } else {
        const TFillPlan plan = PlanFill({before.width, before.height}, {bw, bh});
        if (plan.Scaled.Width * int64_t{plan.Scaled.Height} > kWorkLimit) return;
        expect = Expect::kSize;
        expected = {plan.Cut.Width, plan.Cut.Height};
        if (plan.Cut.Width > bw || plan.Cut.Height > bh || plan.Cut.Width < 1 ||
            plan.Cut.Height < 1)
          Fault("FillBox cut outside the box");
        window = !plan.Shrinks;
      }
      raised = Raises([&] { resize.FillBox(w, h); }, &message);
      if (!raised && window && !IsWindow(before, resize.Image()))
        Fault("FillBox without a shrink is not a window of the picture");
      break;
    }
    default: {
      const OLE_COLOR colour = in.Word();
      resize.SetBackgroundColor(colour);
      if (resize.BackgroundColor() != colour) Fault("BackgroundColor not stored as given");
      return;
    }
  }

  // Transforms read the settings and never change them, whatever happens.
  if (!(SettingsOf(resize) == settings)) Fault(std::string(name) + " changed a setting");
  if (raised) {
    if (expect != Expect::kFailure) Fault(std::string(name) + " raised \"" + message + "\"");
    if (!(Snapshot(resize.Image()) == before))
      Fault(std::string(name) + " failed with \"" + message + "\" but changed the image");
    return;
  }
  switch (expect) {
    case Expect::kFailure:
      Fault(std::string(name) + " succeeded where it must fail");
    case Expect::kUnchanged:
      if (!(Snapshot(resize.Image()) == before))
        Fault(std::string(name) + " changed the image where nothing may change");
      break;
    case Expect::kSize:
      CheckSize(resize, expected, name);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  FuzzResize resize;
  MakeImage(in, resize);
  for (int step = 0; step < 16 && !in.Empty(); ++step) Step(in, resize);
  return 0;
}
