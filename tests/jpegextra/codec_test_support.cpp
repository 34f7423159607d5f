#include "tests/jpegextra/codec_test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quorvex::codectest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-codec-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

Pixels Pattern(int width, int height) {
  Pixels p{width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* px = p.At(x, y);
      const double wave = 127.5 + 127.5 * std::sin(x * 0.21) * std::cos(y * 0.17);
      px[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      px[1] = static_cast<uint8_t>(x < width / 3 ? 30 : y * 255 / std::max(1, height - 1));
      px[2] = static_cast<uint8_t>((x / 4 + y / 4) % 2 ? wave : 255 - wave);
    }
  }
  return p;
}

void WritePnm(const std::string& path, const Pixels& pixels) {
  std::ofstream out(path, std::ios::binary);
  out << (pixels.channels == 3 ? "P6\n" : "P5\n") << pixels.width << ' ' << pixels.height
      << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels.data.data()),
            static_cast<std::streamsize>(pixels.data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Pixels ReadPnm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Pixels p;
  in >> magic >> p.width >> p.height >> maxValue;
  in.get();
  if (!in || (magic != "P5" && magic != "P6") || maxValue != 255)
    throw std::runtime_error("not an 8-bit PNM: " + path);
  p.channels = magic == "P6" ? 3 : 1;
  p.data.resize(static_cast<size_t>(p.width) * p.height * p.channels);
  in.read(reinterpret_cast<char*>(p.data.data()), static_cast<std::streamsize>(p.data.size()));
  if (!in) throw std::runtime_error("short PNM: " + path);
  return p;
}

std::vector<uint8_t> CjpegPattern(const TempDir& dir, int width, int height,
                                  const std::string& arguments) {
  WritePnm(dir.File("pattern.ppm"), Pattern(width, height));
  Run("cjpeg " + arguments + " -outfile " + dir.File("pattern.jpg") + " " +
      dir.File("pattern.ppm"));
  return ReadFile(dir.File("pattern.jpg"));
}

Pixels Djpeg(const TempDir& dir, const std::vector<uint8_t>& jpeg, const std::string& arguments) {
  WriteFile(dir.File("in.jpg"), jpeg);
  Run("djpeg -dct float -pnm " + arguments + " -outfile " + dir.File("out.pnm") + " " +
      dir.File("in.jpg"));
  return ReadPnm(dir.File("out.pnm"));
}

TMemoryStream StreamOf(const std::vector<uint8_t>& bytes) {
  return TMemoryStream(bytes);
}

Pixels FromRaster(const TBitmap& raster, int channels) {
  Pixels p{raster.Width(), raster.Height(), channels,
           std::vector<uint8_t>(static_cast<size_t>(raster.Width()) * raster.Height() * channels)};
  const bool indexed = raster.PixelFormat() == TPixelFormat::pf8bit;
  for (int y = 0; y < raster.Height(); ++y) {
    const uint8_t* row = raster.ScanLine(y);
    for (int x = 0; x < raster.Width(); ++x) {
      uint8_t* px = p.At(x, y);
      const uint8_t blue = indexed ? raster.Palette()[row[x]].Blue : row[3 * x];
      const uint8_t green = indexed ? raster.Palette()[row[x]].Green : row[3 * x + 1];
      const uint8_t red = indexed ? raster.Palette()[row[x]].Red : row[3 * x + 2];
      px[0] = red;
      if (channels == 3) {
        px[1] = green;
        px[2] = blue;
      }
    }
  }
  return p;
}

void ToRaster(const Pixels& pixels, TBitmap& raster) {
  raster.SetPixelFormat(TPixelFormat::pf24bit);
  raster.SetSize(pixels.width, pixels.height);
  for (int y = 0; y < pixels.height; ++y) {
    uint8_t* row = raster.Row(y);
    for (int x = 0; x < pixels.width; ++x) {
      const uint8_t* px = pixels.At(x, y);
      row[3 * x] = px[2];
      row[3 * x + 1] = px[1];
      row[3 * x + 2] = px[0];
    }
  }
}

size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code, size_t from) {
  for (size_t i = from; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  return std::string::npos;
}

void SetDensity(std::vector<uint8_t>& jpeg, uint8_t unit, uint16_t x, uint16_t y) {
  if (jpeg.size() < 20 || jpeg[3] != 0xE0) throw std::runtime_error("no JFIF APP0 segment");
  jpeg[13] = unit;
  jpeg[14] = static_cast<uint8_t>(x >> 8);
  jpeg[15] = static_cast<uint8_t>(x);
  jpeg[16] = static_cast<uint8_t>(y >> 8);
  jpeg[17] = static_cast<uint8_t>(y);
}

std::vector<uint8_t> WithoutApp0(const std::vector<uint8_t>& jpeg) {
  if (jpeg.size() < 6 || jpeg[2] != 0xFF || jpeg[3] != 0xE0) return jpeg;
  const size_t length = static_cast<size_t>(jpeg[4]) << 8 | jpeg[5];
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), jpeg.begin() + 2 + 2 + static_cast<std::ptrdiff_t>(length), jpeg.end());
  return out;
}

}  // namespace quorvex::codectest
