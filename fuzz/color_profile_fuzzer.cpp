// Fuzzes the colour profile path with arbitrary bytes as an embedded ICC profile of gray, RGB
// or CMYK pixels:
//   - the profile's description is UTF-8 of at most 255 characters, without control characters
//     or trailing blanks;
//   - a conversion made from it converts pixels of its kind, separately or in place, and a
//     raster (its pixels, or its palette for gray);
//   - loaded with ConvertToSRGB (the profile in a gray or colour file's APP2 segments), a
//     profile the conversion refuses leaves the pixels exactly as a load without conversion
//     decodes them and ColorProfile empty; a profile it takes gives those pixels converted by it
//     and the same ColorProfile as a load without conversion.
//
// Input: the kind (% 3: gray, RGB, CMYK), a flags byte (bit 0: load it in a file too), four
// bytes of pixel seed, then the profile's bytes.
//
// The kept corpus (fuzz/corpus/color_profile/, minimised by scripts/fuzz-campaign --merge; inputs
// that found a fault under crashes/, which merging leaves alone) grew from seeds written by a short
// script from this layout, with profiles made by lcms2: sRGB and a wide-gamut matrix profile with
// parametric curves, gray with a gamma, a small CMYK table profile, a Lab profile (another colour
// space), and a profile cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/resize_fuzzing.h"
#include "jpegextra/color_transform.h"
#include "jpegextra/metadata/icc_profile.h"

namespace {

using namespace quorvex;
using namespace quorvex::fuzzing;

constexpr const char* kTarget = "color_profile_fuzzer";

[[noreturn]] void Fault(const std::string& what) {
  fuzzing::Fault(kTarget, what);
}

// Checks that text is what a description may be: UTF-8 of at most 255 characters, none of
// them a control character, and no blank at its end.
void CheckDescription(const std::string& text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++characters) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80    ? 1
                          : lead >= 0xF0 ? 4
                          : lead >= 0xE0 ? 3
                          : lead >= 0xC2 ? 2
                                         : 0;
    if (length == 0 || i + length > text.size()) Fault("a description that is not UTF-8");
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) Fault("a description that is not UTF-8");
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      Fault("a description that is not UTF-8");
    if (c < 0x20 || c == 0x7F) Fault("a control character in the description");
    i += length;
  }
  if (characters > 255) Fault("a description of " + std::to_string(characters) + " characters");
  if (!text.empty() && text.back() == ' ') Fault("a description ending in a blank");
}

void CheckConversion(const TColorTransform& transform, TColorKind kind, uint32_t seed) {
  if (transform.Kind() != kind) Fault("a conversion of another kind");
  const size_t bytes = kind == TColorKind::Gray ? 1 : kind == TColorKind::Rgb ? 3 : 4;
  constexpr int32_t kPixels = 67;
  std::vector<uint8_t> in(kPixels * bytes), out(kPixels * 3);
  for (uint8_t& byte : in) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  transform.Convert(in.data(), out.data(), kPixels);
  if (kind == TColorKind::Rgb) {
    transform.Convert(in.data(), in.data(), kPixels);
    if (in != out) Fault("converting in place gives other colours");
  }
  transform.Convert(in.data(), out.data(), 0);

  TBitmap raster;
  FillPicture(raster, 5, 3, kind == TColorKind::Gray, seed);
  transform.Apply(raster);
}

// The picture of a load of file, with or without conversion.
struct TLoaded {
  TResize resize;
  explicit TLoaded(const std::vector<uint8_t>& file, bool convert) {
    resize.SetConvertToSRGB(convert ? VARIANT_TRUE : VARIANT_FALSE);
    const TSource source(file, false);
    if (const auto failed = Failure([&] { source.LoadInto(resize); }))
      Fault(std::string("a load ") + (convert ? "with" : "without") +
            " conversion failed: " + *failed);
  }
};

void CheckLoads(std::span<const uint8_t> profile, TColorKind kind, uint32_t seed,
                const std::shared_ptr<const TColorTransform>& transform) {
  TICCProfile icc;
  icc.ProfileData = TMemoryStream(std::vector<uint8_t>(profile.begin(), profile.end()));
  const std::vector<uint8_t> segments = IccSegments(icc);
  if (segments.empty()) return;
  TBitmap picture;
  const bool gray = kind == TColorKind::Gray;
  FillPicture(picture, 9, 7, gray, seed);
  const std::vector<uint8_t> file = WithSegments(EncodeJpeg(picture, gray), segments);

  const TLoaded plain(file, false), converted(file, true);
  const std::string description = IccDescription(profile, kind);
  if (plain.resize.ColorProfile() != description)
    Fault("ColorProfile \"" + plain.resize.ColorProfile() + "\" instead of \"" + description +
          "\"");
  if (!transform) {
    if (!converted.resize.ColorProfile().empty())
      Fault("a refused profile's ColorProfile is \"" + converted.resize.ColorProfile() + "\"");
    if (!(TObjectState(converted.resize).pixels == TObjectState(plain.resize).pixels) ||
        !(TObjectState(converted.resize).palette == TObjectState(plain.resize).palette))
      Fault("a refused profile changed the pixels");
    return;
  }
  if (converted.resize.ColorProfile() != description)
    Fault("a used profile's ColorProfile is \"" + converted.resize.ColorProfile() + "\"");
  TBitmap expected;
  expected.CopyFrom(plain.resize.Image());
  transform->Apply(expected);
  const TBitmap& got = converted.resize.Image();
  if (got.Width() != expected.Width() || got.Height() != expected.Height())
    Fault("conversion changed the size");
  for (int32_t y = 0; y < got.Height(); ++y)
    for (int32_t x = 0; x < got.Width(); ++x) {
      uint8_t a[3], b[3];
      ColourAt(got, x, y, a);
      ColourAt(expected, x, y, b);
      if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2])
        Fault("pixel " + std::to_string(x) + "," + std::to_string(y) +
              " converted on load differs from the decoded pixel converted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const auto kind = static_cast<TColorKind>(in.Byte() % 3);
  const uint8_t flags = in.Byte();
  const uint32_t seed = in.Word();
  constexpr size_t kHeader = 6;
  const std::span<const uint8_t> profile(data + std::min(size, kHeader),
                                         size - std::min(size, kHeader));

  CheckDescription(IccDescription(profile, kind));
  const std::shared_ptr<const TColorTransform> transform = TColorTransform::ToSrgb(profile, kind);
  if (transform) CheckConversion(*transform, kind, seed);
  if ((flags & 1) != 0 && kind != TColorKind::Cmyk) CheckLoads(profile, kind, seed, transform);
  return 0;
}
