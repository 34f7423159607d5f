// Timings of the image transforms on a 24-megapixel 24-bit raster (6000 x 4000).
//
// The pixels come from the binary PPM named by QUORVEX_BENCH_PPM (run_bench.py makes one from a
// photograph with ImageMagick and times Pillow on the same file); without it, smooth synthetic
// content of the same size is used.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/flip.h"
#include "imaging/orientation.h"
#include "imaging/raster_image.h"
#include "imaging/resize.h"
#include "imaging/rotate.h"

namespace {

using quorvex::TBitmap;
using quorvex::TPixelFormat;

std::unique_ptr<TBitmap> ReadPpm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maximum = 0;
  in >> magic >> width >> height >> maximum;
  in.get();
  if (!in || magic != "P6" || maximum != 255) throw std::runtime_error("not a binary PPM: " + path);
  auto image = std::make_unique<TBitmap>();
  image->SetSize(width, height);
  std::vector<char> row(3 * static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    in.read(row.data(), static_cast<std::streamsize>(row.size()));
    uint8_t* out = image->Row(y);
    for (int x = 0; x < width; ++x) {
      out[3 * x] = static_cast<uint8_t>(row[3 * x + 2]);
      out[3 * x + 1] = static_cast<uint8_t>(row[3 * x + 1]);
      out[3 * x + 2] = static_cast<uint8_t>(row[3 * x]);
    }
  }
  if (!in) throw std::runtime_error("short PPM: " + path);
  return image;
}

std::unique_ptr<TBitmap> SmoothImage(int width, int height) {
  auto image = std::make_unique<TBitmap>();
  image->SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* out = image->Row(y);
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      out[3 * x] = static_cast<uint8_t>(127 + 120 * std::sin(9 * u + 3 * v));
      out[3 * x + 1] = static_cast<uint8_t>(127 + 120 * std::cos(7 * v - 2 * u));
      out[3 * x + 2] = static_cast<uint8_t>(127 + 120 * std::sin(5 * (u * v) + 1));
    }
  }
  return image;
}

const TBitmap& Photo() {
  static const std::unique_ptr<TBitmap> image = [] {
    const char* path = std::getenv("QUORVEX_BENCH_PPM");
    return path && *path ? ReadPpm(path) : SmoothImage(6000, 4000);
  }();
  return *image;
}

void Resize(benchmark::State& state, int width, int height, quorvex::TStretchMode mode) {
  const TBitmap& source = Photo();
  for (auto _ : state) {
    std::unique_ptr<TBitmap> result;
    quorvex::ResizeBitmap(width, height, result, source, mode);
    benchmark::DoNotOptimize(result->ScanLine(0));
  }
  state.counters["megapixels_in"] =
      benchmark::Counter(static_cast<double>(source.Width()) * source.Height() / 1e6);
}

void BM_HalftoneFit200(benchmark::State& state) {
  const TBitmap& source = Photo();
  // Fit inside 200 x 200 keeping the proportions: 6000 x 4000 gives 200 x 133.
  const bool wide = source.Width() >= source.Height();
  const int width = wide ? 200 : 200 * source.Width() / source.Height();
  const int height = wide ? 200 * source.Height() / source.Width() : 200;
  Resize(state, width, height, quorvex::TStretchMode::Halftone);
}

void BM_HalftoneHalf(benchmark::State& state) {
  Resize(state, Photo().Width() / 2, Photo().Height() / 2, quorvex::TStretchMode::Halftone);
}

void BM_HalftoneEnlarge125(benchmark::State& state) {
  Resize(state, Photo().Width() * 5 / 4, Photo().Height() * 5 / 4, quorvex::TStretchMode::Halftone);
}

void BM_ColorOnColorHalf(benchmark::State& state) {
  Resize(state, Photo().Width() / 2, Photo().Height() / 2, quorvex::TStretchMode::ColorOnColor);
}

void BM_Rotate30(benchmark::State& state) {
  const TBitmap& source = Photo();
  for (auto _ : state) {
    std::unique_ptr<TBitmap> result;
    quorvex::RotateBitmap(source, result, 0xFFFFFF, 30.0f);
    benchmark::DoNotOptimize(result->ScanLine(0));
  }
}

void BM_Rotate90(benchmark::State& state) {
  const TBitmap& source = Photo();
  for (auto _ : state) {
    std::unique_ptr<TBitmap> result;
    quorvex::RotateBitmap(source, result, 0xFFFFFF, 90.0f);
    benchmark::DoNotOptimize(result->ScanLine(0));
  }
}

void BM_FlipBoth(benchmark::State& state) {
  TBitmap image;
  image.CopyFrom(Photo());
  for (auto _ : state) {
    quorvex::ReverseRowOrder(image);
    quorvex::ReverseColumnOrder(image);
    benchmark::DoNotOptimize(image.ScanLine(0));
  }
}

// Turning a loaded photo upright: 3 is a half turn, 6 a quarter turn (transposing copy).
void BM_OrientUpright(benchmark::State& state) {
  for (auto _ : state) {
    TBitmap image;
    image.CopyFrom(Photo());
    quorvex::OrientUpright(image, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(image.ScanLine(0));
  }
}

BENCHMARK(BM_HalftoneFit200)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HalftoneHalf)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HalftoneEnlarge125)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ColorOnColorHalf)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Rotate30)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Rotate90)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FlipBoth)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_OrientUpright)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
