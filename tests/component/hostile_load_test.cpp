// Loads of hostile files through the Resize object: each fails with the load's own message and
// leaves the object as it was; real progressive pictures still load, pixel for pixel as djpeg
// decodes them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "tests/support/failure.h"
#include "tests/support/hostile_jpeg.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using testing::FailureOf;
using testing::MakeJpegWithCjpeg;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

void LoadFile(TResize& resize, const std::string& file) {
  BSTR name = Utf8ToNewBstr(file);
  try {
    resize.LoadFromFile(name);
  } catch (...) {
    SysFreeString(name);
    throw;
  }
  SysFreeString(name);
}

void LoadBytes(TResize& resize, const std::vector<uint8_t>& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  std::memcpy(array->pvData, bytes.data(), bytes.size());
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&value) = array;
  try {
    resize.VariantIn(value);
  } catch (...) {
    VariantClear(&value);
    throw;
  }
  VariantClear(&value);
}

struct Hostile {
  const char* name;
  const char* maker;  // cjpeg arguments, or "cmyk" for ImageMagick's progressive CMYK
  uint16_t side;      // the frame the 16 x 16 file claims
  bool dcScans;
  int emptyScans;
  bool refusedAtTheHeader;  // over the memory budget, rather than over the scan work
};

class HostileLoadTest : public ::testing::TestWithParam<Hostile> {
 protected:
  ScratchDirectory dir;

  std::vector<uint8_t> Bomb() {
    const Hostile& c = GetParam();
    std::string small;
    if (std::string(c.maker) == "cmyk") {
      const std::string source = MakeJpegWithCjpeg(dir, "small.jpg", 16, 16);
      small = dir.File("cmyk.jpg");
      EXPECT_EQ(testing::RunCommand("convert '" + source + "' -colorspace CMYK -interlace JPEG '" +
                                    small + "'"),
                0);
    } else {
      small = MakeJpegWithCjpeg(dir, "small.jpg", 16, 16, false, c.maker);
    }
    auto bytes = testing::WithFrameSize(ReadBytes(small), c.side, c.side);
    if (c.emptyScans > 0)
      bytes = testing::WithEmptyScans(
          bytes, c.dcScans ? testing::DcScanHeader() : testing::AcScanHeader(), c.emptyScans);
    return bytes;
  }
};

TEST_P(HostileLoadTest, FailsWithTheLoadsMessageAndKeepsTheObject) {
  const auto bomb = Bomb();
  WriteBytes(dir.File("bomb.jpg"), bomb);
  auto photo = ReadBytes(MakeJpegWithCjpeg(dir, "photo.jpg", 40, 30, true));
  testing::SetJfifDensity(photo, 1, 300, 300);

  const struct {
    std::function<void(TResize&)> load;
    const char* message;
  } paths[] = {{[&](TResize& r) { LoadFile(r, dir.File("bomb.jpg")); }, "Invalid file."},
               {[&](TResize& r) { LoadBytes(r, bomb); }, "VariantIn has failed to read an image."}};
  for (const auto& path : paths) {
    TResize resize;
    LoadBytes(resize, photo);
    EXPECT_EQ(FailureOf([&] { path.load(resize); }), path.message);
    EXPECT_EQ(resize.Width(), 40);
    EXPECT_EQ(resize.Height(), 30);
    EXPECT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf8bit);
    if (GetParam().refusedAtTheHeader) {
      EXPECT_EQ(resize.DPI(), 300);
      EXPECT_EQ(resize.GrayScale(), VARIANT_TRUE);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bombs, HostileLoadTest,
    ::testing::Values(
        Hostile{"Progressive444Largest", "-progressive -sample 1x1", 16383, false, 0, true},
        Hostile{"CmykProgressiveLargest", "cmyk", 16383, false, 0, true},
        Hostile{"LargestWithEmptyScans", "-progressive -sample 1x1", 16383, false, 990, true},
        Hostile{"EmptyAcScans", "-progressive -sample 1x1", 2048, false, 990, false},
        Hostile{"EmptyDcScans", "-progressive -sample 1x1", 2048, true, 990, false}),
    [](const auto& info) { return std::string(info.param.name); });

// djpeg's pixels of the file, red-green-blue, top row first.
std::vector<uint8_t> Djpeg(const ScratchDirectory& dir, const std::string& file) {
  const std::string ppm = dir.File("djpeg.ppm");
  EXPECT_EQ(testing::RunCommand("djpeg -dct float -pnm -outfile '" + ppm + "' '" + file + "'"), 0);
  const auto bytes = ReadBytes(ppm);
  std::istringstream header(std::string(bytes.begin(), bytes.begin() + 32));
  std::string magic;
  int width = 0, height = 0, maximum = 0;
  header >> magic >> width >> height >> maximum;
  const size_t size = static_cast<size_t>(width) * height * 3;
  return {bytes.end() - static_cast<ptrdiff_t>(size), bytes.end()};
}

// The object's 24-bit image as red-green-blue, top row first.
std::vector<uint8_t> ImagePixels(const TBitmap& image) {
  std::vector<uint8_t> pixels;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.ScanLine(y);
    for (int32_t x = 0; x < image.Width(); ++x)
      pixels.insert(pixels.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
  }
  return pixels;
}

TEST(RealPictureLoadTest, ProgressivePicturesAndTheSamplePhotoLoadAsDjpegDecodesThem) {
  ScratchDirectory dir;
  const std::string files[] = {
      MakeJpegWithCjpeg(dir, "p420.jpg", 301, 203, false, "-progressive"),
      MakeJpegWithCjpeg(dir, "p444.jpg", 203, 301, false, "-progressive -sample 1x1"),
      std::string(QUORVEX_SOURCE_DIR) + "/samples/two-wings.jpg"};
  for (const std::string& file : files) {
    TResize resize;
    LoadFile(resize, file);
    ASSERT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf24bit) << file;
    EXPECT_TRUE(ImagePixels(resize.Image()) == Djpeg(dir, file)) << file;
  }
}

}  // namespace
}  // namespace quorvex
