// Crop-to-fill through the object: FillBox's size and cut against the test's own arithmetic for
// every compass gravity, the attention and entropy cuts on generated pictures, the settings'
// names and failures, sharpening after a shrink, and LoadThumbnail with Fit "cover".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "tests/support/failure.h"

namespace quorvex {
namespace {

using testing::FailureOf;

class TestResize : public TResize {
 public:
  void SetImage(TBitmap& image) { ReplaceImage(image); }
};

// A 24-bit picture of noise, so that any misplaced cut shows in the pixels.
void Noise(TBitmap& image, int32_t width, int32_t height, unsigned seed) {
  std::mt19937 random(seed);
  image.SetPixelFormat(TPixelFormat::pf24bit);
  image.SetSize(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < 3 * width; ++x) image.Row(y)[x] = static_cast<uint8_t>(random());
}

std::vector<uint8_t> Pixels(const TBitmap& image) {
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < image.Height(); ++y)
    bytes.insert(bytes.end(), image.ScanLine(y), image.ScanLine(y) + 3 * image.Width());
  return bytes;
}

std::string Text(BSTR value) {
  const std::string text = BstrToUtf8(value);
  SysFreeString(value);
  return text;
}

void SetGravity(TResize& resize, const std::string& name) {
  const std::unique_ptr<OLECHAR, decltype(&SysFreeString)> text(Utf8ToNewBstr(name),
                                                                &SysFreeString);
  resize.SetGravity(text.get());
}

struct Compass {
  const char* name;
  int column;  // 0 west, 1 centre, 2 east
  int row;     // 0 north, 1 centre, 2 south
};
constexpr Compass kCompass[] = {{"center", 1, 1},    {"north", 1, 0},     {"south", 1, 2},
                                {"east", 2, 1},      {"west", 0, 1},      {"northeast", 2, 0},
                                {"northwest", 0, 0}, {"southeast", 2, 2}, {"southwest", 0, 2}};

struct Geometry {
  int32_t width, height, boxWidth, boxHeight;
};
class FillGeometry : public ::testing::TestWithParam<Geometry> {};

// The result equals ResizeImage to the covering size followed by CropImage at the offset the
// gravity names, or, for a picture smaller than the box, the crop alone.
TEST_P(FillGeometry, MatchesResizeAndCropAtEveryCompassPoint) {
  const Geometry g = GetParam();
  const int64_t w = g.width, h = g.height, bw = g.boxWidth, bh = g.boxHeight;
  int64_t scaledWidth = w, scaledHeight = h, cutWidth = bw, cutHeight = bh;
  const bool shrinks = bw <= w && bh <= h;
  if (shrinks) {
    // Cover: the larger of the two ratios decides.
    if (static_cast<double>(bw) / w >= static_cast<double>(bh) / h)
      scaledWidth = bw, scaledHeight = h * bw / w;
    else
      scaledHeight = bh, scaledWidth = w * bh / h;
  } else if (static_cast<double>(w) / h >= static_cast<double>(bw) / bh) {
    cutHeight = h, cutWidth = std::max<int64_t>(1, h * bw / bh);
  } else {
    cutWidth = w, cutHeight = std::max<int64_t>(1, w * bh / bw);
  }
  for (const Compass& compass : kCompass) {
    SCOPED_TRACE(compass.name);
    TBitmap source;
    Noise(source, g.width, g.height, 7);
    TestResize filled, expected;
    TBitmap copy;
    copy.CopyFrom(source);
    filled.SetImage(source);
    expected.SetImage(copy);
    SetGravity(filled, compass.name);
    filled.FillBox(g.boxWidth, g.boxHeight);

    if (shrinks && (scaledWidth != w || scaledHeight != h))
      expected.ResizeImage(static_cast<LONG>(scaledWidth), static_cast<LONG>(scaledHeight));
    const int64_t roomX = scaledWidth - cutWidth, roomY = scaledHeight - cutHeight;
    const int64_t x = compass.column == 0 ? 0 : compass.column == 1 ? roomX / 2 : roomX;
    const int64_t y = compass.row == 0 ? 0 : compass.row == 1 ? roomY / 2 : roomY;
    expected.CropImage(static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + cutWidth),
                       static_cast<LONG>(y + cutHeight));
    ASSERT_EQ(filled.Width(), cutWidth);
    ASSERT_EQ(filled.Height(), cutHeight);
    EXPECT_TRUE(Pixels(filled.Image()) == Pixels(expected.Image()));
  }
}
INSTANTIATE_TEST_SUITE_P(
    SourcesAndBoxes, FillGeometry,
    ::testing::Values(Geometry{640, 480, 200, 200}, Geometry{640, 480, 300, 100},
                      Geometry{640, 480, 100, 300}, Geometry{480, 640, 200, 200},
                      Geometry{480, 640, 320, 120}, Geometry{500, 500, 200, 200},
                      Geometry{500, 500, 250, 100}, Geometry{640, 480, 640, 480},
                      Geometry{150, 100, 200, 200}, Geometry{150, 100, 120, 300},
                      Geometry{300, 100, 200, 200}, Geometry{2000, 9, 200, 200},
                      Geometry{37, 23, 1, 1}));

struct Edge {
  const char* name;
  int32_t width, height;
  LONG boxWidth, boxHeight;
  int32_t expectedWidth, expectedHeight;
  const char* failure;
};
class FillEdges : public ::testing::TestWithParam<Edge> {};
TEST_P(FillEdges, FollowTheResizeRules) {
  const Edge e = GetParam();
  TestResize resize;
  TBitmap source;
  Noise(source, e.width, e.height, 3);
  resize.SetImage(source);
  EXPECT_EQ(FailureOf([&] { resize.FillBox(e.boxWidth, e.boxHeight); }), e.failure);
  EXPECT_EQ(resize.Width(), e.expectedWidth);
  EXPECT_EQ(resize.Height(), e.expectedHeight);
}
INSTANTIATE_TEST_SUITE_P(
    Rules, FillEdges,
    ::testing::Values(Edge{"BothZero", 640, 480, 0, 0, 640, 480, ""},
                      Edge{"WidthDerived", 640, 480, 0, 100, 133, 100, ""},
                      Edge{"NegativeIsZero", 640, 480, -5, 100, 133, 100, ""},
                      Edge{"HeightDerived", 640, 480, 320, -1, 320, 240, ""},
                      Edge{"OneSideNotSmaller", 640, 480, 0, 480, 640, 480, ""},
                      Edge{"NothingLoaded", 0, 0, 100, 100, 0, 0, ""},
                      Edge{"ZeroWidthImage", 0, 10, 5, 5, 0, 10, "Division by zero"},
                      Edge{"DerivedSideZero", 100, 10, 1, 0, 100, 10, "Division by zero"}),
    [](const ::testing::TestParamInfo<Edge>& info) { return std::string(info.param.name); });

TEST(FillSettings, NamesInAnyCaseAndRefusalsThatChangeNothing) {
  TResize resize;
  EXPECT_EQ(Text(resize.Gravity()), "center");
  EXPECT_EQ(Text(resize.Fit()), "inside");
  EXPECT_EQ(resize.Sharpen(), 0.0);
  const struct {
    const char* put;
    const char* read;
  } gravities[] = {{"NorthEast", "northeast"}, {"ATTENTION", "attention"}, {"entropy", "entropy"}};
  for (const auto& g : gravities) {
    SetGravity(resize, g.put);
    EXPECT_EQ(Text(resize.Gravity()), g.read);
  }
  for (const char* bad : {"", "middle", "north east", "centre"})
    EXPECT_EQ(FailureOf([&] { SetGravity(resize, bad); }), "Unsupported gravity.") << bad;
  EXPECT_EQ(Text(resize.Gravity()), "entropy");
  BSTR cover = Utf8ToNewBstr("Cover"), fill = Utf8ToNewBstr("fill");
  resize.SetFit(cover);
  EXPECT_EQ(Text(resize.Fit()), "cover");
  EXPECT_EQ(FailureOf([&] { resize.SetFit(fill); }), "Unsupported fit.");
  EXPECT_EQ(Text(resize.Fit()), "cover");
  SysFreeString(cover);
  SysFreeString(fill);
  resize.SetSharpen(-3);
  EXPECT_EQ(resize.Sharpen(), 0.0);
  resize.SetSharpen(1e9);
  EXPECT_EQ(resize.Sharpen(), 10.0);
  EXPECT_EQ(FailureOf([&] { resize.SetSharpen(std::nan("")); }), "Invalid argument");
  EXPECT_EQ(resize.Sharpen(), 10.0);
}

// A saturated, textured subject on a plain or gently graded muted background; returns its
// centre.
std::pair<int32_t, int32_t> SalientScene(unsigned seed, int32_t width, int32_t height, TBitmap& p) {
  std::mt19937 random(seed);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  p.SetPixelFormat(TPixelFormat::pf24bit);
  p.SetSize(width, height);
  const int base[3] = {uniform(90, 170), uniform(90, 170), uniform(90, 170)};
  const int slope = uniform(0, 1) * uniform(-40, 40);
  const int32_t radius = std::min(width, height) / uniform(6, 9);
  const int32_t cx = uniform(radius, width - radius - 1), cy = uniform(radius, height - radius - 1);
  const int hue = uniform(0, 2);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = p.Row(y);
    for (int32_t x = 0; x < width; ++x) {
      const int shade = slope * x / width;
      for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<uint8_t>(base[c] + shade);
      const int64_t dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy > int64_t{radius} * radius) continue;
      const int texture = ((x / 4 + y / 4) % 2) * 60;
      for (int c = 0; c < 3; ++c)
        row[3 * x + c] = static_cast<uint8_t>(c == hue ? 230 - texture / 2 : 20 + texture / 3);
    }
  }
  return {cx, cy};
}

// Where `cut` lies in `scaled` along the axis it is shorter on: the offset whose window matches.
int32_t OffsetIn(const TBitmap& scaled, const TBitmap& cut) {
  const bool alongX = cut.Width() < scaled.Width();
  const int32_t room = alongX ? scaled.Width() - cut.Width() : scaled.Height() - cut.Height();
  for (int32_t o = 0; o <= room; ++o) {
    bool same = true;
    for (int32_t y = 0; y < cut.Height() && same; ++y)
      same = std::equal(cut.ScanLine(y), cut.ScanLine(y) + 3 * cut.Width(),
                        scaled.ScanLine(alongX ? y : y + o) + 3 * (alongX ? o : 0));
    if (same) return o;
  }
  return -1;
}

TEST(FillSaliency, AttentionKeepsTheSubjectInNearlyEveryPicture) {
  int kept = 0;
  for (unsigned seed = 0; seed < 40; ++seed) {
    const bool landscape = seed % 2 == 0;
    const int32_t width = landscape ? 900 : 500, height = landscape ? 500 : 900;
    TBitmap picture, copy;
    const auto [cx, cy] = SalientScene(seed, width, height, picture);
    copy.CopyFrom(picture);
    TestResize resize, scaled;
    resize.SetImage(picture);
    scaled.SetImage(copy);
    SetGravity(resize, "attention");
    resize.FillBox(200, 200);
    if (landscape)
      scaled.ResizeImage(0, 200);
    else
      scaled.ResizeImage(200, 0);
    const int32_t offset = OffsetIn(scaled.Image(), resize.Image());
    ASSERT_GE(offset, 0) << "the cut is a window of the scaled picture";
    const double centre = landscape ? cx * 200.0 / height : cy * 200.0 / width;
    kept += centre >= offset && centre < offset + 200;
  }
  EXPECT_GE(kept, 38);
}

TEST(FillSaliency, EntropyFindsTheBusyRegion) {
  for (const int32_t busyAt : {40, 450, 820}) {
    SCOPED_TRACE(busyAt);
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(900, 300);
    std::mt19937 random(busyAt);
    for (int32_t y = 0; y < 300; ++y)
      for (int32_t x = 0; x < 900; ++x) {
        const bool busy = std::abs(x - busyAt) < 40;
        for (int c = 0; c < 3; ++c)
          picture.Row(y)[3 * x + c] = static_cast<uint8_t>(busy ? random() : 128 + x / 60);
      }
    TestResize resize;
    resize.SetImage(picture);
    SetGravity(resize, "entropy");
    resize.FillBox(300, 300);  // no scaling: the cut slides along 600 columns
    int busyColumns = 0;
    for (int32_t x = 0; x < 300; ++x) {
      int spread = 0;
      for (int32_t y = 1; y < 300; ++y)
        spread +=
            std::abs(resize.Image().ScanLine(y)[3 * x] - resize.Image().ScanLine(y - 1)[3 * x]);
      busyColumns += spread > 300 * 20;
    }
    EXPECT_GE(busyColumns, 70) << "the whole busy band lies in the cut";
  }
}

// Mean absolute difference of neighbours along rows: the edge contrast of a picture.
double EdgeContrast(const TBitmap& image) {
  double sum = 0;
  int64_t count = 0;
  for (int32_t y = 0; y < image.Height(); ++y)
    for (int32_t x = 1; x < image.Width(); ++x, ++count)
      sum += std::abs(image.ScanLine(y)[3 * x + 1] - image.ScanLine(y)[3 * x - 2]);
  return sum / static_cast<double>(count);
}

TEST(FillSharpen, AfterEveryShrinkOnlyWithBoundedOvershoot) {
  // Bars 9 pixels wide: shrunk by 3 they stay visible, and the mask lifts their edges.
  TBitmap bars;
  bars.SetPixelFormat(TPixelFormat::pf24bit);
  bars.SetSize(900, 90);
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 2700; ++x) bars.Row(y)[x] = (x / 3) / 9 % 2 ? 200 : 60;
  auto shrunk = [&](double amount, const std::function<void(TResize&)>& transform) {
    TestResize resize;
    TBitmap copy;
    copy.CopyFrom(bars);
    resize.SetImage(copy);
    resize.SetSharpen(amount);
    transform(resize);
    auto out = std::make_unique<TBitmap>();
    out->CopyFrom(resize.Image());
    return out;
  };
  const std::function<void(TResize&)> transforms[] = {
      [](TResize& r) { r.ResizeImage(300, 30); }, [](TResize& r) { r.ScaleImage(33); },
      [](TResize& r) { r.ResizeBox(300, 300); }, [](TResize& r) { r.FillBox(150, 30); }};
  for (const auto& transform : transforms) {
    const auto plain = shrunk(0, transform), sharpened = shrunk(1, transform);
    const TBitmap& sharp = *sharpened;
    EXPECT_GT(EdgeContrast(sharp), 1.05 * EdgeContrast(*plain));
    int lowest = 255, highest = 0;
    for (int32_t y = 0; y < sharp.Height(); ++y)
      for (int32_t x = 0; x < 3 * sharp.Width(); ++x) {
        lowest = std::min<int>(lowest, sharp.ScanLine(y)[x]);
        highest = std::max<int>(highest, sharp.ScanLine(y)[x]);
      }
    EXPECT_GE(lowest, 60 - 24);
    EXPECT_LE(highest, 200 + 24);
  }
  // No shrink, no sharpening.
  EXPECT_TRUE(Pixels(*shrunk(1, [](TResize& r) { r.ScaleImage(100); })) == Pixels(bars));
}

// LoadThumbnail with Fit "cover" ends where a load followed by FillBox ends: the same size and,
// from its reduced decode, pixels within two levels on average.
TEST(FillThumbnail, CoverMatchesLoadAndFillBox) {
  BSTR photo = Utf8ToNewBstr(std::string(QUORVEX_SOURCE_DIR) + "/samples/two-wings.jpg");
  BSTR cover = Utf8ToNewBstr("cover");
  VARIANT source;
  VariantInit(&source);
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = photo;
  const struct {
    LONG width, height;
    const char* gravity;
  } boxes[] = {{200, 200, "center"},
               {300, 100, "north"},
               {64, 64, "southwest"},
               {100, 400, "east"},
               {3000, 50, "center"}};
  for (const auto& box : boxes) {
    SCOPED_TRACE(std::to_string(box.width) + "x" + std::to_string(box.height));
    TResize exact, thumbnail;
    SetGravity(exact, box.gravity);
    SetGravity(thumbnail, box.gravity);
    thumbnail.SetFit(cover);
    exact.LoadFromFile(photo);
    exact.FillBox(box.width, box.height);
    thumbnail.LoadThumbnail(source, box.width, box.height);
    ASSERT_EQ(thumbnail.Width(), exact.Width());
    ASSERT_EQ(thumbnail.Height(), exact.Height());
    const std::vector<uint8_t> a = Pixels(thumbnail.Image()), b = Pixels(exact.Image());
    double difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference += std::abs(a[i] - b[i]);
    EXPECT_LE(difference / static_cast<double>(a.size()), 2.0);
  }
  SysFreeString(cover);
  VariantClear(&source);
}

// With one side of the box given, LoadThumbnail with Fit "cover" derives the other from the
// picture's aspect as FillBox does; where that rounds to 0 the thumbnail keeps 1 pixel instead of
// ending empty (a side of 0 across) or failing (a side of 0 down), as the fit inside a box does.
TEST(FillThumbnail, OneSideNeverRoundsToNothing) {
  BSTR cover = Utf8ToNewBstr("cover");
  const auto bytesOf = [](int32_t width, int32_t height) {
    TestResize picture;
    TBitmap noise;
    Noise(noise, width, height, 5);
    picture.SetImage(noise);
    VARIANT bytes;
    VariantInit(&bytes);
    picture.VariantOut(&bytes);
    return bytes;
  };
  VARIANT tall = bytesOf(40, 400), wide = bytesOf(400, 40);
  const struct {
    const VARIANT& source;
    LONG boxWidth, boxHeight, width, height;
  } cases[] = {{tall, 0, 8, 1, 8},      {tall, -20, 4, 1, 4}, {tall, 0, 200, 20, 200},
               {wide, 1, 0, 1, 1},      {wide, 2, -1, 2, 1},  {wide, 200, 0, 200, 20},
               {tall, 0, 400, 40, 400}, {wide, 1, 1, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.boxWidth) + "x" + std::to_string(c.boxHeight));
    TResize thumbnail;
    thumbnail.SetFit(cover);
    thumbnail.LoadThumbnail(c.source, c.boxWidth, c.boxHeight);
    EXPECT_EQ(thumbnail.Width(), c.width);
    EXPECT_EQ(thumbnail.Height(), c.height);
  }
  VariantClear(&tall);
  VariantClear(&wide);
  SysFreeString(cover);
}

}  // namespace
}  // namespace quorvex
