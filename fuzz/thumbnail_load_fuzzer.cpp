// Fuzzes LoadThumbnail, by file name and by byte array, with arbitrary bytes as the file and an
// arbitrary box, Fit, Gravity, Sharpen, AutoOrient and ConvertToSRGB. It must behave as a load
// followed by ResizeBox (FillBox with Fit "cover") on an object with the same settings:
//   - when it fails, the object is as it was (picture, resolution, orientation, profile,
//     metadata), and its message is the load's or the box's;
//   - it fails only where the load or the box fails;
//   - when both succeed: the same size (a side that rounds to 0 made 1), resolution, grayscale,
//     orientation, profile description and metadata, and, where the box is too close to the
//     picture's size for a reduced-scale decode, the same pixels.
// The object starts with a small picture loaded, so that "as it was" means something. Loads are
// bounded to 2^18 pixels, so that each run stays fast; larger files fail alike on both paths.
//
// Input: a flags byte (bit 0 by file name, bit 1 Fit "cover", bit 2 AutoOrient, bit 3
// ConvertToSRGB), a Gravity byte (% 12: the eleven names and an unknown one), the box's width
// and height (a selector byte each: below 200 the value 0..199 - 20, else one of a few special
// values), a Sharpen byte (/ 16), then the file's bytes.
//
// The kept corpus (fuzz/corpus/thumbnail_load/, minimised by scripts/fuzz-campaign --merge; inputs
// that found a fault under crashes/, which merging leaves alone) grew from seeds written by a short
// script from this layout, with small files made by ImageMagick: 4:2:0 colour with boxes that take
// each reduced scale, gray, CMYK with and without a profile, progressive, an EXIF orientation of 6
// and of 3 with AutoOrient, cover with several gravities, a truncated file and a box with a side of
// 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/resize_fuzzing.h"
#include "jpegextra/load_limits.h"
#include "platform/com_ptr.h"

namespace {

using namespace quorvex;
using namespace quorvex::fuzzing;

constexpr const char* kTarget = "thumbnail_load_fuzzer";

[[noreturn]] void Fault(const std::string& what) {
  fuzzing::Fault(kTarget, what);
}

LONG BoxSide(TFuzzInput& in) {
  static constexpr LONG kSpecial[] = {0,
                                      1,
                                      -1,
                                      2,
                                      3,
                                      7,
                                      8,
                                      9,
                                      16,
                                      48,
                                      64,
                                      65500,
                                      65535,
                                      1 << 20,
                                      1 << 30,
                                      std::numeric_limits<LONG>::max(),
                                      std::numeric_limits<LONG>::min()};
  const uint8_t selector = in.Byte();
  if (selector < 200) return static_cast<LONG>(selector) - 20;
  return kSpecial[(selector - 200) % std::size(kSpecial)];
}

struct TSettings {
  bool cover = false, autoOrient = false, toSrgb = false;
  std::string gravity;
  double sharpen = 0;
};

void Apply(const TSettings& settings, TResize& resize) {
  TLoadLimits limits;
  limits.MaxPixels = int64_t{1} << 18;
  limits.MaxMemoryBytes = uint64_t{64} << 20;
  resize.SetLoadLimits(limits);
  resize.SetAutoOrient(settings.autoOrient ? VARIANT_TRUE : VARIANT_FALSE);
  resize.SetConvertToSRGB(settings.toSrgb ? VARIANT_TRUE : VARIANT_FALSE);
  TBstr fit(Utf8ToNewBstr(settings.cover ? "cover" : "inside"));
  resize.SetFit(fit.get());
  TBstr gravity(Utf8ToNewBstr(settings.gravity));
  // An unknown name fails and leaves the Gravity as it was; the load must not care.
  Failure([&] { resize.SetGravity(gravity.get()); });
  resize.SetSharpen(settings.sharpen);
}

// The picture the object holds before the call: a load of its own, so that it has a
// resolution, metadata and an orientation to lose.
const std::vector<uint8_t>& EarlierFile() {
  static const std::vector<uint8_t> file = [] {
    TBitmap image;
    FillPicture(image, 12, 9, false, 7);
    return EncodeJpeg(image, false);
  }();
  return file;
}

// Whether a thumbnail of width x height from a picture of pictureWidth x pictureHeight is too
// large for any reduced-scale decode, which needs the decoded picture at 7/8 of full size to be
// at least twice the result on both axes; such a thumbnail is made exactly as ResizeBox makes it.
bool FullScaleOnly(int64_t width, int64_t height, int64_t pictureWidth, int64_t pictureHeight) {
  const auto scaled = [](int64_t side) { return (side * 7 + 7) / 8; };
  return 2 * width > scaled(pictureWidth) || 2 * height > scaled(pictureHeight);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kGravities[] = {"center",    "north",     "south",     "east",
                                           "west",      "northeast", "northwest", "southeast",
                                           "southwest", "attention", "entropy",   "middle"};
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  TSettings settings;
  const bool asFile = (flags & 1) != 0;
  settings.cover = (flags & 2) != 0;
  settings.autoOrient = (flags & 4) != 0;
  settings.toSrgb = (flags & 8) != 0;
  settings.gravity = kGravities[in.Byte() % std::size(kGravities)];
  const LONG boxWidth = BoxSide(in), boxHeight = BoxSide(in);
  settings.sharpen = in.Byte() / 16.0;
  const size_t header = 5;
  const std::vector<uint8_t> file(data + std::min(size, header), data + size);

  TResize thumbnail;
  Apply(settings, thumbnail);
  {
    const TSource earlier(EarlierFile(), false);
    earlier.LoadInto(thumbnail);
  }
  const TObjectState before(thumbnail);
  const TSource source(file, asFile);
  const std::optional<std::string> failed =
      Failure([&] { thumbnail.LoadThumbnail(source.Value(), boxWidth, boxHeight); });

  TResize plain;
  Apply(settings, plain);
  const std::optional<std::string> loadFailed = Failure([&] { source.LoadInto(plain); });
  const int64_t loadedWidth = plain.Width(), loadedHeight = plain.Height();
  std::optional<std::string> boxFailed;
  if (!loadFailed)
    boxFailed = Failure([&] {
      if (settings.cover)
        plain.FillBox(boxWidth, boxHeight);
      else
        plain.ResizeBox(boxWidth, boxHeight);
    });

  if (failed) {
    if (!(TObjectState(thumbnail) == before))
      Fault("LoadThumbnail failed with \"" + *failed + "\" but changed the object");
    if (!loadFailed && !boxFailed)
      Fault("LoadThumbnail failed with \"" + *failed + "\" where a load and its box succeed");
    const std::string& expected = loadFailed ? *loadFailed : *boxFailed;
    if (*failed != expected)
      Fault("LoadThumbnail failed with \"" + *failed + "\" instead of \"" + expected + "\"");
    return 0;
  }
  // A reduced-scale decode needs less memory than the full one, so it may succeed alone.
  if (loadFailed) return 0;
  if (thumbnail.Width() < 1 || thumbnail.Height() < 1) Fault("an empty thumbnail");
  if (thumbnail.DPI() != plain.DPI() || thumbnail.GrayScale() != plain.GrayScale() ||
      thumbnail.Orientation() != plain.Orientation() ||
      thumbnail.ColorProfile() != plain.ColorProfile() ||
      thumbnail.SourceQuality() != plain.SourceQuality())
    Fault("LoadThumbnail found other facts than a load");
  if (thumbnail.Metadata() != plain.Metadata())
    Fault("LoadThumbnail's metadata differs from a load's:\n" + thumbnail.Metadata() + "\n" +
          plain.Metadata());
  // The box refused a side that rounds to 0, which a thumbnail makes 1.
  if (boxFailed) {
    if (std::min(thumbnail.Width(), thumbnail.Height()) != 1)
      Fault("ResizeBox failed with \"" + *boxFailed + "\" but the thumbnail is " +
            std::to_string(thumbnail.Width()) + "x" + std::to_string(thumbnail.Height()));
    return 0;
  }
  // The box may also leave a side of 0, which a thumbnail makes 1.
  if (thumbnail.Width() != std::max<LONG>(plain.Width(), 1) ||
      thumbnail.Height() != std::max<LONG>(plain.Height(), 1))
    Fault("LoadThumbnail gave " + std::to_string(thumbnail.Width()) + "x" +
          std::to_string(thumbnail.Height()) + ", a load and its box " +
          std::to_string(plain.Width()) + "x" + std::to_string(plain.Height()));
  if (!settings.cover && !plain.Image().Empty() &&
      FullScaleOnly(plain.Width(), plain.Height(), loadedWidth, loadedHeight) &&
      !(TObjectState(thumbnail) == TObjectState(plain)))
    Fault("LoadThumbnail made other pixels than a load and its box, at full scale");
  return 0;
}
