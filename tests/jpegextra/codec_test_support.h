// Fixtures for the codec tests: scratch files, PNM images, and JPEG files made by independent
// tools (cjpeg, djpeg, ImageMagick, Pillow) at test time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/raster_image.h"
#include "jpegextra/memory_stream.h"

namespace quorvex::codectest {

// A fresh directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; raises std::runtime_error unless it exits with 0.
void Run(const std::string& command);

// Interleaved pixels, top row first: 3 channels red-green-blue, or 1 channel gray.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<uint8_t> data;
  uint8_t* At(int x, int y) { return &data[(static_cast<size_t>(y) * width + x) * channels]; }
  const uint8_t* At(int x, int y) const {
    return &data[(static_cast<size_t>(y) * width + x) * channels];
  }
};

// A deterministic picture with smooth gradients, hard edges and fine detail.
Pixels Pattern(int width, int height);
void WritePnm(const std::string& path, const Pixels& pixels);
Pixels ReadPnm(const std::string& path);

// Writes the pattern as PPM and compresses it with cjpeg plus extra arguments.
std::vector<uint8_t> CjpegPattern(const TempDir& dir, int width, int height,
                                  const std::string& arguments = "");
// djpeg -dct float with extra arguments, output read back as PNM.
Pixels Djpeg(const TempDir& dir, const std::vector<uint8_t>& jpeg,
             const std::string& arguments = "");

TMemoryStream StreamOf(const std::vector<uint8_t>& bytes);

// The raster as interleaved pixels: 24-bit gives red-green-blue, 8-bit gives each palette
// entry's red (gray) or all three channels (colour, when channels is 3).
Pixels FromRaster(const TBitmap& raster, int channels);
// A 24-bit raster of the pixels (3 channels).
void ToRaster(const Pixels& pixels, TBitmap& raster);

// Offset of the first marker FF code at or after from, or npos.
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code, size_t from = 0);
// Rewrites the JFIF density fields of a file that starts with SOI and JFIF APP0.
void SetDensity(std::vector<uint8_t>& jpeg, uint8_t unit, uint16_t x, uint16_t y);
// Removes the JFIF APP0 segment right after SOI.
std::vector<uint8_t> WithoutApp0(const std::vector<uint8_t>& jpeg);

}  // namespace quorvex::codectest
