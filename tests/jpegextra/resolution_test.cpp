// Conversions between JFIF densities, dots per inch and pixels per metre.
#include "jpegextra/resolution.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(ResolutionTest, DensityToDpi) {
  EXPECT_EQ(DensityToDPI(1, 300), 300);
  EXPECT_EQ(DensityToDPI(2, 28), 71);        // 71.12
  EXPECT_EQ(DensityToDPI(2, 25), 64);        // 63.5: ties go to the even neighbour
  EXPECT_EQ(DensityToDPI(2, 75), 190);       // 190.5 -> 190
  EXPECT_EQ(DensityToDPI(2, 65535), 35387);  // 166459, low 16 bits
  EXPECT_EQ(DensityToDPI(0, 300), 0);
  EXPECT_EQ(DensityToDPI(7, 300), 0);
}

TEST(ResolutionTest, DensityToPelsPerMeter) {
  EXPECT_EQ(DensityToPelsPerMeter(1, 300), 11811);
  EXPECT_EQ(DensityToPelsPerMeter(1, 96), 3780);
  EXPECT_EQ(DensityToPelsPerMeter(2, 28), 2800);
  EXPECT_EQ(DensityToPelsPerMeter(0, 28), 0);
}

TEST(ResolutionTest, PelsPerMeterAndDpi) {
  EXPECT_EQ(PelsPerMeterToDPI(3780), 96);
  EXPECT_EQ(PelsPerMeterToDPI(11811), 300);
  EXPECT_EQ(PelsPerMeterToDPI(0), 0);
  EXPECT_EQ(DPIToPelsPerMeter(72), 2835);
  EXPECT_EQ(DPIToPelsPerMeter(65535), 2580118);
}

}  // namespace
}  // namespace quorvex
