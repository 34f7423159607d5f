// Turning pictures upright by their recorded orientation, against Pillow's transposes of the
// same pixels; pictures span several tiles so the tile edges are crossed.
#include "imaging/orientation.h"

#include <gtest/gtest.h>

#include "tests/imaging/image_helpers.h"
#include "tests/support/external_tools.h"

namespace quorvex::test {
namespace {

TEST(Orientation, EveryOrientationMatchesPillowInBothFormats) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kPillow);
  const std::filesystem::path dir = TempDir("orientation");
  const auto colour = MakeRandomImage(150, 70, TPixelFormat::pf24bit, 7);
  const auto indexed = MakeRandomImage(150, 70, TPixelFormat::pf8bit, 8);
  WritePpm(*colour, dir / "in.ppm");
  ASSERT_TRUE(RunCommand(*PythonWithPillow() +
                         " -c \"from PIL import Image, ImageOps\n"
                         "import sys\n"
                         "d = sys.argv[1]\n"
                         "for n in range(1, 9):\n"
                         "    i = Image.open(d + '/in.ppm'); i.getexif()[0x0112] = n\n"
                         "    ImageOps.exif_transpose(i).save(d + '/out%d.ppm' % n)\" '" +
                         dir.string() + "'"));
  for (int n = 0; n <= 9; ++n) {
    SCOPED_TRACE("orientation " + std::to_string(n));
    TBitmap turned, turnedIndexed;
    turned.CopyFrom(*colour);
    turnedIndexed.CopyFrom(*indexed);
    OrientUpright(turned, n);
    OrientUpright(turnedIndexed, n);
    // Values outside 1..8 count as upright.
    const auto expected =
        ReadPpm(dir / ("out" + std::to_string(n >= 1 && n <= 8 ? n : 1) + ".ppm"));
    EXPECT_TRUE(SameImage(turned, *expected));
    EXPECT_EQ(OrientationSwapsSides(n), turned.Width() == 70);
    // The indexed picture moves its indices exactly as the colour one moves its pixels.
    EXPECT_EQ(turnedIndexed.Palette().size(), 256u);
    TBitmap expanded, expectedIndexed;
    expanded.CopyFrom(turnedIndexed);
    expanded.SetPixelFormat(TPixelFormat::pf24bit);
    expectedIndexed.CopyFrom(*indexed);
    expectedIndexed.SetPixelFormat(TPixelFormat::pf24bit);
    OrientUpright(expectedIndexed, n);
    EXPECT_TRUE(SameImage(expanded, expectedIndexed));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvex::test
