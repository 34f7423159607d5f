// Load (read the file, parse, decode) and save (encode at quality 90, write the file) of one
// photo through the JPEG image object. run_codec_bench.py makes the photo and compares these
// times with djpeg and cjpeg on the same file.
//
// QUORVEX_BENCH_PHOTO: the JPEG to load; the save writes QUORVEX_BENCH_PHOTO.out.jpg.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "jpegextra/jpeg_image.h"

namespace {

using namespace quorvex;

const char* PhotoPath(benchmark::State& state) {
  const char* path = std::getenv("QUORVEX_BENCH_PHOTO");
  if (path == nullptr) state.SkipWithError("QUORVEX_BENCH_PHOTO is not set");
  return path;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void LoadPhoto(const char* path, TBitmap& raster) {
  TMemoryStream stream(ReadAll(path));
  TJPEGImage jpeg;
  jpeg.LoadFromStream(stream);
  jpeg.AssignTo(raster);
}

void BM_LoadDecode(benchmark::State& state) {
  const char* path = PhotoPath(state);
  if (path == nullptr) return;
  for (auto _ : state) {
    TBitmap raster;
    LoadPhoto(path, raster);
    benchmark::DoNotOptimize(raster.ScanLine(0));
  }
}

void BM_EncodeSave(benchmark::State& state) {
  const char* path = PhotoPath(state);
  if (path == nullptr) return;
  TBitmap raster;
  LoadPhoto(path, raster);
  const std::string output = std::string(path) + ".out.jpg";
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.Assign(raster);
    jpeg.SetQuality(90);
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stream.Memory()),
              static_cast<std::streamsize>(stream.Size()));
  }
}

BENCHMARK(BM_LoadDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodeSave)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
