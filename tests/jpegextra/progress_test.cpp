// Progress reports: the throttle on its own, then whole decodes and encodes with a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "jpegextra/jpeg_image.h"
#include "jpegextra/jpeg_progress.h"
#include "tests/jpegextra/codec_test_support.h"
#include "tests/support/external_tools.h"

namespace quorvex {
namespace {

TProgressSample Decoding(long counter, long limit, int32_t row) {
  return {counter, limit, 0, 1, true, row, 100, 200};
}

TEST(ProgressThrottleTest, FirstCallOnlyStartsTheClock) {
  TProgressThrottle throttle;
  EXPECT_FALSE(throttle.Update(10000, Decoding(50, 100, 100)));
  EXPECT_TRUE(throttle.Update(10500, Decoding(50, 100, 100)));
}

TEST(ProgressThrottleTest, ReportsAtMostEvery500msAndOnlyOnChange) {
  TProgressThrottle throttle;
  throttle.Update(1000, Decoding(0, 100, 0));
  EXPECT_FALSE(throttle.Update(1499, Decoding(10, 100, 20)));
  const auto report = throttle.Update(1500, Decoding(10, 100, 20));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->Percent, 10);
  EXPECT_EQ(report->Rect, (TProgressRect{0, 0, 100, 20}));
  EXPECT_TRUE(report->RedrawNow);
  EXPECT_FALSE(throttle.Update(2500, Decoding(10, 100, 22))) << "same percentage";
  const auto next = throttle.Update(3000, Decoding(11, 100, 22));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Rect, (TProgressRect{0, 20, 100, 22}));
  EXPECT_FALSE(next->RedrawNow) << "fewer than 4 rows";
  // A row above the last reported one (a new pass) spans to the bottom.
  const auto wrapped = throttle.Update(4000, Decoding(50, 100, 5));
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->Rect, (TProgressRect{0, 22, 100, 200}));
}

TEST(ProgressThrottleTest, PercentCoversAllPassesAndSurvivesClockWrap) {
  TProgressThrottle throttle;
  throttle.Update(0xFFFFFF00u, {0, 0, 0, 0, false});
  const auto report = throttle.Update(0x00000200u, {1, 4, 1, 2, false});  // wrapped, 768 ms
  ASSERT_TRUE(report);
  EXPECT_EQ(report->Percent, 62);  // (0.25 + 1) * 100 / 2 = 62.5, truncated
  EXPECT_EQ(report->Rect, TProgressRect{});
  const auto unset = throttle.Update(0x00000800u, {5, 0, 0, 0, false});
  ASSERT_TRUE(unset);
  EXPECT_EQ(unset->Percent, 0) << "counters not set up count as no progress";
}

struct Event {
  TProgressStage stage;
  int percent;
  TProgressRect rect;
};

// Records every report; each tick of the clock is a second later than the last.
struct Recorder {
  std::vector<Event> events;
  uint32_t now = 1000;
  int ticks = 0;
  int abortAfterRunning = -1;  // throw EAbort at this running report
  bool failInstead = false;

  void Attach(TJPEGImage& jpeg) {
    jpeg.SetTickSource([this] {
      ++ticks;
      return now += 1000;
    });
    jpeg.SetOnProgress([this](TJPEGImage&, TProgressStage stage, uint8_t percent, bool,
                              const TProgressRect& rect, const std::string& message) {
      EXPECT_TRUE(message.empty());
      events.push_back({stage, percent, rect});
      const bool running = stage == TProgressStage::psRunning;
      if (running && --abortAfterRunning == 0) {
        if (failInstead) throw EInvalidGraphic("handler failed");
        throw EAbort();
      }
    });
  }
  int Running() const {
    int n = 0;
    for (const Event& e : events) n += e.stage == TProgressStage::psRunning;
    return n;
  }
};

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
    stream_ = codectest::StreamOf(codectest::CjpegPattern(dir_, 64, 96));
  }
  codectest::TempDir dir_;
  TMemoryStream stream_;
};

TEST_F(ProgressTest, DecodeReportsStartRunningAndEnd) {
  TJPEGImage jpeg;
  Recorder recorder;
  recorder.Attach(jpeg);
  jpeg.LoadFromStream(stream_);
  EXPECT_EQ(recorder.ticks, 0) << "the header parse reports nothing";
  jpeg.Decode();
  ASSERT_GE(recorder.events.size(), 4u);
  EXPECT_EQ(recorder.events.front().stage, TProgressStage::psStarting);
  EXPECT_EQ(recorder.events.back().stage, TProgressStage::psEnding);
  EXPECT_EQ(recorder.events.back().percent, 100);
  int last = -1;
  for (const Event& e : recorder.events) {
    if (e.stage != TProgressStage::psRunning) continue;
    EXPECT_GT(e.percent, last);
    EXPECT_EQ(e.rect.Right, 64);
    last = e.percent;
  }
  EXPECT_GT(recorder.Running(), 2);
}

TEST_F(ProgressTest, EncodeReportsWithoutARectangle) {
  TJPEGImage loaded;
  loaded.LoadFromStream(stream_);
  TJPEGImage jpeg;
  jpeg.Assign(loaded.Decode());
  Recorder recorder;
  recorder.Attach(jpeg);
  TMemoryStream out;
  jpeg.SaveToStream(out);
  EXPECT_GT(recorder.Running(), 2);
  for (const Event& e : recorder.events) EXPECT_EQ(e.rect, TProgressRect{});
  EXPECT_EQ(recorder.events.back().percent, 100);
}

TEST_F(ProgressTest, AbortDuringDecodeKeepsThePartlyFilledRaster) {
  TJPEGImage jpeg;
  Recorder recorder;
  recorder.abortAfterRunning = 2;
  recorder.Attach(jpeg);
  jpeg.LoadFromStream(stream_);
  const TBMPImage& raster = jpeg.Decode();
  EXPECT_EQ(raster.Width(), 64);
  EXPECT_EQ(raster.Height(), 96);
  EXPECT_EQ(recorder.Running(), 2);
  EXPECT_EQ(recorder.events.back().stage, TProgressStage::psEnding);
  EXPECT_EQ(recorder.events.back().percent, 0);
  // The bottom rows were never decoded.
  const uint8_t* bottom = raster.ScanLine(95);
  EXPECT_EQ(std::count(bottom, bottom + 64 * 3, 0), 64 * 3);
}

TEST_F(ProgressTest, AbortDuringEncodeKeepsNoData) {
  TJPEGImage loaded;
  loaded.LoadFromStream(stream_);
  TJPEGImage jpeg;
  jpeg.Assign(loaded.Decode());
  Recorder recorder;
  recorder.abortAfterRunning = 1;
  recorder.Attach(jpeg);
  jpeg.Encode();
  EXPECT_EQ(jpeg.Data(), nullptr);
  EXPECT_EQ(recorder.events.back().percent, 0);
  // A save encodes again; cancelled, it passes the cancellation on and writes nothing.
  recorder.abortAfterRunning = 1;
  TMemoryStream out;
  EXPECT_THROW(jpeg.SaveToStream(out), EAbort);
  EXPECT_EQ(out.Size(), 0u);
}

TEST_F(ProgressTest, OtherHandlerErrorsLeaveTheLibraryAndPropagate) {
  TJPEGImage jpeg;
  Recorder recorder;
  recorder.abortAfterRunning = 1;
  recorder.failInstead = true;
  recorder.Attach(jpeg);
  jpeg.LoadFromStream(stream_);
  EXPECT_THROW(jpeg.Decode(), EInvalidGraphic);
  EXPECT_EQ(jpeg.Raster(), nullptr);

  TJPEGImage encoder;
  encoder.Assign(TBitmap());
  TBitmap raster;
  codectest::ToRaster(codectest::Pattern(64, 64), raster);
  encoder.Assign(raster);
  Recorder failing;
  failing.abortAfterRunning = 1;
  failing.failInstead = true;
  failing.Attach(encoder);
  TMemoryStream out;
  EXPECT_THROW(encoder.SaveToStream(out), EInvalidGraphic);
  EXPECT_EQ(encoder.Data(), nullptr);
  EXPECT_EQ(out.Size(), 0u);
}

}  // namespace
}  // namespace quorvex
