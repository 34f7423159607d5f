// Fuzzes the EXIF orientation a load turns its picture upright by. Each input makes a small
// picture (1..40 on each side, colour or gray) and a JPEG file of it whose EXIF block carries an
// Orientation entry (any value, a short or another type, possibly two of them) among arbitrary
// other entries, in either byte order. Loaded with AutoOrient on and off:
//   - a damaged EXIF block never fails the load;
//   - Orientation is 1..8, the same whether AutoOrient is on or off; a lone short entry gives
//     its value when it is 1..8, else 1;
//   - the upright picture has its sides exchanged for 5..8 and every pixel is the stored one
//     that the orientation's mirror or turn puts there; the same picture comes from the stored
//     one through the object's own turns and flips;
//   - written with KeepMetadata and loaded again with AutoOrient, the upright picture stays as
//     it is (its orientation became 1), and the stored one is turned as the first load turned it;
//   - LoadThumbnail with AutoOrient gives the size ResizeBox gives the upright picture.
//
// Input: a flags byte (bit 0 gray, bit 1 big-endian, bit 2 no Orientation entry, bit 3 a second
// Orientation entry after the others), width (% 40 + 1), height (% 40 + 1), four bytes of pixel
// seed, the Orientation entry (a type byte: % 8 below 5 a short, 5 a long, 6 two shorts, 7 a
// byte; a value byte: below 230 the value % 10, else the next two bytes), the number of other
// entries (% 6) and its place among them, each other entry (tag, type, count: two bytes each,
// value: four), and the thumbnail box (two bytes, % 64 + 1).
//
// The kept corpus (fuzz/corpus/orientation/, minimised by scripts/fuzz-campaign --merge; inputs
// that found a fault under crashes/, which merging leaves alone) grew from seeds written by a short
// script from this layout: each orientation 1..8 in both byte orders, colour and gray, odd sides, 0
// and 9, a long, two shorts, a missing entry, and entries with offsets that point outside the
// block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/resize_fuzzing.h"

namespace {

using namespace quorvex;
using namespace quorvex::fuzzing;

constexpr const char* kTarget = "orientation_fuzzer";
constexpr uint16_t kOrientationTag = 0x0112;

[[noreturn]] void Fault(const std::string& what) {
  fuzzing::Fault(kTarget, what);
}

struct TEntry {
  uint16_t tag = 0, type = 0;
  uint32_t count = 0;
  uint8_t value[4] = {};
};

class TExifWriter {
 public:
  explicit TExifWriter(bool bigEndian) : bigEndian_(bigEndian) {}

  void Put16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(bigEndian_ ? v >> 8 : v));
    bytes_.push_back(static_cast<uint8_t>(bigEndian_ ? v : v >> 8));
  }
  void Put32(uint32_t v) {
    if (bigEndian_) {
      Put16(static_cast<uint16_t>(v >> 16));
      Put16(static_cast<uint16_t>(v));
    } else {
      Put16(static_cast<uint16_t>(v));
      Put16(static_cast<uint16_t>(v >> 16));
    }
  }
  // A short in the first two bytes of a value field, as the format places it.
  void ShortValue(uint16_t v, uint8_t out[4]) const {
    out[0] = static_cast<uint8_t>(bigEndian_ ? v >> 8 : v);
    out[1] = static_cast<uint8_t>(bigEndian_ ? v : v >> 8);
    out[2] = out[3] = 0;
  }
  void LongValue(uint32_t v, uint8_t out[4]) const {
    for (int i = 0; i < 4; ++i)
      out[i] = static_cast<uint8_t>(bigEndian_ ? v >> (24 - 8 * i) : v >> (8 * i));
  }

  // The APP1 segment: marker, length, "Exif" header and the TIFF structure with one directory.
  std::vector<uint8_t> Segment(const std::vector<TEntry>& entries) {
    bytes_.clear();
    bytes_.push_back(bigEndian_ ? 'M' : 'I');
    bytes_.push_back(bigEndian_ ? 'M' : 'I');
    Put16(42);
    Put32(8);
    Put16(static_cast<uint16_t>(entries.size()));
    for (const TEntry& entry : entries) {
      Put16(entry.tag);
      Put16(entry.type);
      Put32(entry.count);
      for (uint8_t byte : entry.value) bytes_.push_back(byte);
    }
    Put32(0);
    const size_t length = bytes_.size() + 8;
    const uint8_t lead[] = {0xFF,
                            0xE1,
                            static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length),
                            'E',
                            'x',
                            'i',
                            'f',
                            0,
                            0};
    std::vector<uint8_t> segment(sizeof lead + bytes_.size());
    std::copy(std::begin(lead), std::end(lead), segment.begin());
    std::copy(bytes_.begin(), bytes_.end(), segment.begin() + sizeof lead);
    return segment;
  }

 private:
  bool bigEndian_;
  std::vector<uint8_t> bytes_;
};

// The stored pixel that orientation puts at (x, y) of the upright picture of a stored picture
// of width x height.
void StoredPixel(int orientation, int32_t x, int32_t y, int32_t width, int32_t height, int32_t& sx,
                 int32_t& sy) {
  switch (orientation) {
    case 2:
      sx = width - 1 - x, sy = y;
      return;
    case 3:
      sx = width - 1 - x, sy = height - 1 - y;
      return;
    case 4:
      sx = x, sy = height - 1 - y;
      return;
    case 5:
      sx = y, sy = x;
      return;
    case 6:
      sx = y, sy = height - 1 - x;
      return;
    case 7:
      sx = width - 1 - y, sy = height - 1 - x;
      return;
    case 8:
      sx = width - 1 - y, sy = x;
      return;
    default:
      sx = x, sy = y;
      return;
  }
}

// The same through the object's transforms: RotateImage turns counter-clockwise, FlipHorizontal
// mirrors top and bottom, FlipVertical left and right.
void TurnUpright(TResize& resize, int orientation) {
  switch (orientation) {
    case 2:
      resize.FlipVertical();
      break;
    case 3:
      resize.RotateImage(180);
      break;
    case 4:
      resize.FlipHorizontal();
      break;
    case 5:
      resize.RotateImage(90), resize.FlipHorizontal();
      break;
    case 6:
      resize.RotateImage(90), resize.RotateImage(180);
      break;
    case 7:
      resize.RotateImage(90), resize.RotateImage(180), resize.FlipHorizontal();
      break;
    case 8:
      resize.RotateImage(90);
      break;
    default:
      break;
  }
}

void Load(TResize& resize, const std::vector<uint8_t>& file, bool autoOrient, const char* what) {
  resize.SetAutoOrient(autoOrient ? VARIANT_TRUE : VARIANT_FALSE);
  const TSource source(file, false);
  if (const auto failed = Failure([&] { source.LoadInto(resize); }))
    Fault(std::string(what) + " failed: " + *failed);
}

std::vector<uint8_t> Written(TResize& resize) {
  resize.SetKeepMetadata(VARIANT_TRUE);
  VARIANT out;
  VariantInit(&out);
  if (const auto failed = Failure([&] { resize.VariantOut(&out); }))
    Fault("VariantOut failed: " + *failed);
  const SAFEARRAY* array = V_ARRAY(&out);
  const auto* bytes = static_cast<const uint8_t*>(array->pvData);
  std::vector<uint8_t> file(bytes, bytes + array->rgsabound[0].cElements);
  VariantClear(&out);
  return file;
}

std::string SizeText(const TResize& resize) {
  return std::to_string(resize.Width()) + "x" + std::to_string(resize.Height());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const bool gray = (flags & 1) != 0;
  TExifWriter exif((flags & 2) != 0);
  const int32_t width = in.Byte() % 40 + 1, height = in.Byte() % 40 + 1;
  TBitmap picture;
  FillPicture(picture, width, height, gray, in.Word());

  TEntry orientation;
  orientation.tag = kOrientationTag;
  const uint8_t type = in.Byte() % 8;
  const uint8_t valueByte = in.Byte();
  const uint16_t value =
      valueByte < 230 ? valueByte % 10 : static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
  orientation.type = type < 5 ? 3 : type == 5 ? 4 : type == 6 ? 3 : 1;
  orientation.count = type == 6 ? 2 : 1;
  if (type == 5)
    exif.LongValue(value, orientation.value);
  else if (type == 7)
    orientation.value[0] = static_cast<uint8_t>(value);
  else
    exif.ShortValue(value, orientation.value);
  const size_t others = in.Byte() % 6;
  const size_t place = in.Byte() % (others + 1);
  std::vector<TEntry> entries;
  bool otherOrientation = false;
  for (size_t i = 0; i < others; ++i) {
    TEntry entry;
    entry.tag = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
    entry.type = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
    entry.count = static_cast<uint32_t>(in.Byte() | (in.Byte() << 8));
    for (uint8_t& byte : entry.value) byte = in.Byte();
    otherOrientation |= entry.tag == kOrientationTag;
    entries.push_back(entry);
  }
  const bool withOrientation = (flags & 4) == 0;
  if (withOrientation) entries.insert(entries.begin() + static_cast<ptrdiff_t>(place), orientation);
  if ((flags & 8) != 0) entries.push_back(orientation), otherOrientation = true;
  const LONG boxWidth = in.Byte() % 64 + 1, boxHeight = in.Byte() % 64 + 1;

  const std::vector<uint8_t> file = WithSegments(EncodeJpeg(picture, gray), exif.Segment(entries));
  TResize upright, stored;
  Load(upright, file, true, "a load with AutoOrient");
  Load(stored, file, false, "a load without AutoOrient");

  const LONG found = upright.Orientation();
  if (stored.Orientation() != found) Fault("Orientation depends on AutoOrient");
  if (found < 1 || found > 8) Fault("Orientation " + std::to_string(found));
  // Only a lone short among no other entries has a known reading: readers differ on a long, a
  // byte or two shorts.
  if (others == 0 && !otherOrientation && (type < 5 || !withOrientation)) {
    const bool valid = withOrientation && value >= 1 && value <= 8;
    const LONG expected = valid ? value : 1;
    if (found != expected)
      Fault("Orientation " + std::to_string(found) + " instead of " + std::to_string(expected));
  }

  const bool swapped = found >= 5;
  const int32_t w = stored.Width(), h = stored.Height();
  if (upright.Width() != (swapped ? h : w) || upright.Height() != (swapped ? w : h))
    Fault("orientation " + std::to_string(found) + " turned " + SizeText(stored) + " into " +
          SizeText(upright));
  if (upright.Image().PixelFormat() != stored.Image().PixelFormat())
    Fault("turning upright changed the pixel format");
  for (int32_t y = 0; y < upright.Height(); ++y)
    for (int32_t x = 0; x < upright.Width(); ++x) {
      int32_t sx = 0, sy = 0;
      StoredPixel(found, x, y, w, h, sx, sy);
      uint8_t got[3], expected[3];
      ColourAt(upright.Image(), x, y, got);
      ColourAt(stored.Image(), sx, sy, expected);
      if (got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2])
        Fault("orientation " + std::to_string(found) + ": upright pixel " + std::to_string(x) +
              "," + std::to_string(y) + " is not stored pixel " + std::to_string(sx) + "," +
              std::to_string(sy));
    }
  {
    TResize turned;
    Load(turned, file, false, "a load without AutoOrient");
    TurnUpright(turned, found);
    if (TObjectState(turned).pixels != TObjectState(upright).pixels)
      Fault("orientation " + std::to_string(found) + " differs from the object's own turns");
  }

  // Written with its metadata, the upright picture says so; the stored one keeps its turn.
  {
    TResize again;
    Load(again, Written(upright), true, "loading the upright picture written");
    if (again.Orientation() != 1)
      Fault("the upright picture written records orientation " +
            std::to_string(again.Orientation()));
    if (again.Width() != upright.Width() || again.Height() != upright.Height())
      Fault("the upright picture written loads as " + SizeText(again) + " instead of " +
            SizeText(upright));
  }
  {
    TResize again;
    Load(again, Written(stored), true, "loading the stored picture written");
    if (again.Orientation() != found)
      Fault("the stored picture written records orientation " +
            std::to_string(again.Orientation()) + " instead of " + std::to_string(found));
    if (again.Width() != upright.Width() || again.Height() != upright.Height())
      Fault("the stored picture written turns into " + SizeText(again) + " instead of " +
            SizeText(upright));
  }

  // A thumbnail of the upright picture.
  {
    TResize thumbnail;
    thumbnail.SetAutoOrient(VARIANT_TRUE);
    const TSource source(file, false);
    if (const auto failed =
            Failure([&] { thumbnail.LoadThumbnail(source.Value(), boxWidth, boxHeight); }))
      Fault("LoadThumbnail failed: " + *failed);
    TResize boxed;
    Load(boxed, file, true, "a load with AutoOrient");
    // A side that rounds to 0 fails the box or leaves it empty; the thumbnail makes it 1.
    if (!Failure([&] { boxed.ResizeBox(boxWidth, boxHeight); }) &&
        (thumbnail.Width() != std::max<LONG>(boxed.Width(), 1) ||
         thumbnail.Height() != std::max<LONG>(boxed.Height(), 1)))
      Fault("LoadThumbnail(" + std::to_string(boxWidth) + ", " + std::to_string(boxHeight) +
            ") with orientation " + std::to_string(found) + " gave " + SizeText(thumbnail) +
            ", ResizeBox " + SizeText(boxed));
  }
  return 0;
}
