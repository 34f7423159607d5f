// LoadThumbnail against a load followed by ResizeBox: the same size, resolution, grayscale and
// messages over a table of pictures and boxes, by file name and by bytes; the object unchanged
// when either fails; sides that round to 0 made 1; pixels within the accuracy bound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "tests/support/external_tools.h"
#include "tests/support/failure.h"
#include "tests/support/hostile_jpeg.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using testing::FailureOf;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDirectory;
using testing::WriteBytes;

const std::string kPhoto = std::string(QUORVEX_SOURCE_DIR) + "/samples/two-wings.jpg";

// A picture named by file or given as bytes, as VARIANT arguments take them.
class Source {
 public:
  Source(const std::string& file, bool asBytes) {
    VariantInit(&value_);
    if (asBytes) {
      const auto bytes = std::filesystem::exists(file) ? ReadBytes(file) : std::vector<uint8_t>{};
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
      V_VT(&value_) = VT_ARRAY | VT_UI1;
      V_ARRAY(&value_) = array;
    } else {
      V_VT(&value_) = VT_BSTR;
      V_BSTR(&value_) = Utf8ToNewBstr(file);
    }
  }
  ~Source() { VariantClear(&value_); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  const VARIANT& value() const { return value_; }
  void LoadInto(TResize& resize) const {
    if (V_VT(&value_) == VT_BSTR)
      resize.LoadFromFile(V_BSTR(&value_));
    else
      resize.VariantIn(value_);
  }

 private:
  VARIANT value_;
};

// Photo-like pictures made from the sample photo by ImageMagick, once for the whole suite.
class LoadThumbnailTest : public ::testing::Test {
 public:
  static std::string File(const std::string& name) { return dir_->File(name); }

 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ScratchDirectory>();
    const std::string from = "convert '" + kPhoto + "' ";
    const std::pair<const char*, const char*> makers[] = {
        {"crop444.jpg",
         "-crop 1001x777+900+400 +repage -sampling-factor 1x1 -density 300 "
         "-units PixelsPerInch -quality 92"},
        {"progressive.jpg", "-resize 1200x750 -interlace JPEG -quality 85"},
        {"gray.jpg", "-resize 900x -colorspace gray"},
        {"cmyk.jpg", "-resize 640x -colorspace CMYK"},
        {"tall.jpg", "-crop 250x1600+1200+0 +repage"},
        {"earlier.jpg", "-resize 64x -density 150 -units PixelsPerInch"},
        {"cmyk32.jpg", "-resize 32x32! -colorspace CMYK"},
        {"four-three.jpg", "-resize 1600x1200! -quality 90"},
        {"wide.jpg", "-resize 12000x9! -quality 90"},
        {"plasma.jpg",
         "-resize 1800x1200! ( -size 1800x1200 -seed 5 plasma:fractal ) "
         "-compose overlay -composite -quality 90"},
    };
    for (const auto& [name, arguments] : makers) {
      std::string command = from + arguments + " '" + File(name) + "'";
      for (size_t at = 0; (at = command.find_first_of("()", at)) != std::string::npos; at += 2)
        command.insert(at, "\\");
      made_ = made_ && RunCommand(command) == 0;
    }
    // Turned a quarter (6) and upside down (3) by their EXIF orientation.
    for (const char* orientation : {"6", "3"})
      made_ = made_ && RunCommand("exiftool -q -n -Orientation=" + std::string(orientation) +
                                  " -o '" + File(std::string("turned") + orientation + ".jpg") +
                                  "' '" + File("crop444.jpg") + "'") == 0;
    if (made_)
      WriteBytes(File("bomb.jpg"),
                 testing::WithFrameSize(ReadBytes(File("progressive.jpg")), 16383, 16383));
    WriteBytes(File("text.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'});
    WriteBytes(File("empty.jpg"), {});
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kImageMagick, quorvex_test::Tool::kExiftool);
    ASSERT_TRUE(made_);
  }

 private:
  static inline std::unique_ptr<ScratchDirectory> dir_;
  static inline bool made_ = true;
};

struct Outcome {
  std::string message;
  LONG width = 0, height = 0, dpi = 0;
  VARIANT_BOOL gray = VARIANT_FALSE;
  TPixelFormat format = TPixelFormat::pf24bit;
};

Outcome Run(const std::function<void(TResize&)>& setUp, const std::function<void(TResize&)>& act) {
  TResize resize;
  setUp(resize);
  Outcome outcome;
  outcome.message = FailureOf([&] { act(resize); });
  outcome.width = resize.Width();
  outcome.height = resize.Height();
  outcome.dpi = resize.DPI();
  outcome.gray = resize.GrayScale();
  outcome.format = resize.Image().PixelFormat();
  return outcome;
}

// The exact path on one object; LoadThumbnail on another that holds an earlier picture, which
// a failure must leave in place. Where the exact path fails because a side rounds to 0, the
// thumbnail makes that side 1 instead (ThumbnailSidesThatRoundTo0Become1).
void ExpectSameAsLoadAndResizeBox(const std::string& file, LONG width, LONG height,
                                  const std::function<void(TResize&)>& settings = {}) {
  for (const bool asBytes : {false, true}) {
    SCOPED_TRACE(file + (asBytes ? " as bytes, box " : " by name, box ") + std::to_string(width) +
                 "x" + std::to_string(height));
    const Source source(file, asBytes), earlier(LoadThumbnailTest::File("earlier.jpg"), false);
    const auto prepare = [&](TResize& resize) {
      if (settings) settings(resize);
    };
    const Outcome exact = Run(prepare, [&](TResize& resize) {
      source.LoadInto(resize);
      resize.ResizeBox(width, height);
    });
    const Outcome before = Run(prepare, [&](TResize& resize) { earlier.LoadInto(resize); });
    const Outcome thumbnail = Run(
        [&](TResize& resize) {
          prepare(resize);
          earlier.LoadInto(resize);
        },
        [&](TResize& resize) { resize.LoadThumbnail(source.value(), width, height); });
    if (exact.message == "Division by zero" || (exact.message.empty() && exact.width == 0))
      continue;
    EXPECT_EQ(thumbnail.message, exact.message);
    const Outcome& expected = exact.message.empty() ? exact : before;
    EXPECT_EQ(thumbnail.width, expected.width);
    EXPECT_EQ(thumbnail.height, expected.height);
    EXPECT_EQ(thumbnail.dpi, expected.dpi);
    EXPECT_EQ(thumbnail.gray, expected.gray);
    EXPECT_EQ(thumbnail.format, expected.format);
  }
}

TEST_F(LoadThumbnailTest, SizesResolutionGrayAndMessagesAreThoseOfLoadAndResizeBox) {
  const std::pair<LONG, LONG> boxes[] = {{200, 200}, {320, 0},   {0, 90},    {-4, 120},
                                         {120, -4},  {0, 0},     {1, 1},     {5000, 5000},
                                         {1001, 2},  {60, 3000}, {3000, 60}, {1, 2000}};
  for (const char* name : {"crop444.jpg", "progressive.jpg", "gray.jpg", "cmyk.jpg", "tall.jpg"})
    for (const auto& [width, height] : boxes)
      ExpectSameAsLoadAndResizeBox(File(name), width, height);
}

TEST_F(LoadThumbnailTest, AutoOrientedLoadsFitTheUprightPicture) {
  const std::pair<LONG, LONG> boxes[] = {{200, 200}, {300, 100}, {100, 300}};
  for (const char* name : {"turned6.jpg", "turned3.jpg"})
    for (const auto& [width, height] : boxes)
      ExpectSameAsLoadAndResizeBox(File(name), width, height,
                                   [](TResize& resize) { resize.SetAutoOrient(VARIANT_TRUE); });
}

TEST_F(LoadThumbnailTest, FailingLoadsGiveTheLoadsMessagesAndKeepTheObject) {
  for (const char* name : {"missing.jpg", "text.jpg", "empty.jpg", "bomb.jpg"})
    ExpectSameAsLoadAndResizeBox(File(name), 200, 200);
  // The pixel limit counts the full frame, not the smaller picture a thumbnail decodes.
  ExpectSameAsLoadAndResizeBox(File("plasma.jpg"), 200, 200,
                               [](TResize& resize) { resize.SetMaxPixels(1800 * 1200 - 1); });
  ExpectSameAsLoadAndResizeBox(File("plasma.jpg"), 200, 200,
                               [](TResize& resize) { resize.SetMaxPixels(1800 * 1200); });
}

TEST_F(LoadThumbnailTest, ThumbnailSidesThatRoundTo0Become1) {
  struct Case {
    const char* file;
    LONG boxWidth, boxHeight, width, height;
  };
  const Case cases[] = {
      {"four-three.jpg", 1, 1, 1, 1}, {"crop444.jpg", 1, 2000, 1, 1},
      {"wide.jpg", 200, 200, 200, 1}, {"wide.jpg", 1, 1, 1, 1},
      {"tall.jpg", 1000, 4, 1, 4},    {"tall.jpg", 1, 1, 1, 1},
  };
  for (const Case& c : cases)
    for (const bool asBytes : {false, true}) {
      SCOPED_TRACE(std::string(c.file) + " into " + std::to_string(c.boxWidth) + "x" +
                   std::to_string(c.boxHeight));
      const Source source(File(c.file), asBytes);
      TResize exact, thumbnail;
      source.LoadInto(exact);
      // ResizeBox keeps its documented outcome: a derived height of 0 fails, a derived width
      // of 0 leaves an empty image.
      const std::string failure = FailureOf([&] { exact.ResizeBox(c.boxWidth, c.boxHeight); });
      EXPECT_TRUE(failure == "Division by zero" || (failure.empty() && exact.Width() == 0))
          << failure;
      EXPECT_EQ(
          FailureOf([&] { thumbnail.LoadThumbnail(source.value(), c.boxWidth, c.boxHeight); }), "");
      EXPECT_EQ(thumbnail.Width(), c.width);
      EXPECT_EQ(thumbnail.Height(), c.height);
    }
}

double MeanAbsoluteDifference(const TBitmap& a, const TBitmap& b) {
  const size_t rowBytes = static_cast<size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (size_t i = 0; i < rowBytes; ++i) sum += std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]);
  return sum / (static_cast<double>(rowBytes) * a.Height());
}

// Against the exact path at the thumbnail's size: the full decode's area average. At most 2
// levels for boxes of 8 pixels or more, 3 below.
TEST_F(LoadThumbnailTest, PixelsStayWithinTheAccuracyBoundOfTheExactPath) {
  const std::pair<LONG, LONG> boxes[] = {{1, 1},     {8, 8},     {16, 16},  {200, 200},
                                         {320, 320}, {300, 100}, {640, 640}};
  for (const std::string& file :
       {kPhoto, File("crop444.jpg"), File("progressive.jpg"), File("cmyk.jpg"), File("plasma.jpg"),
        File("turned6.jpg"), File("cmyk32.jpg"), File("four-three.jpg"), File("wide.jpg")})
    for (const auto& [width, height] : boxes) {
      SCOPED_TRACE(file + " into " + std::to_string(width) + "x" + std::to_string(height));
      const Source source(file, false);
      TResize exact, thumbnail;
      // A quarter-turned file is fitted upright: the scaled picture is turned before it is
      // finished.
      exact.SetAutoOrient(VARIANT_TRUE);
      thumbnail.SetAutoOrient(VARIANT_TRUE);
      thumbnail.LoadThumbnail(source.value(), width, height);
      source.LoadInto(exact);
      exact.ResizeImage(thumbnail.Width(), thumbnail.Height());
      ASSERT_EQ(thumbnail.Width(), exact.Width());
      ASSERT_EQ(thumbnail.Height(), exact.Height());
      EXPECT_LE(MeanAbsoluteDifference(thumbnail.Image(), exact.Image()),
                std::min(width, height) >= 8 ? 2.0 : 3.0);
    }
}

}  // namespace
}  // namespace quorvex
