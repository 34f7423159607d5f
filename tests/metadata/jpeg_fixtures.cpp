#include "tests/metadata/jpeg_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace quorvex::test {
namespace {

std::filesystem::path ScratchFile(const std::string& suffix) {
  static int counter = 0;
  return std::filesystem::temp_directory_path() /
         ("quorvex_meta_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + suffix);
}

}  // namespace

std::string RunAndCapture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return {};
  std::string out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
    out.append(buffer.data(), n);
  return out;
}

Bytes CjpegBytes(int width, int height, const std::string& options) {
  const auto ppm = ScratchFile(".ppm");
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const char pixel[3] = {static_cast<char>(x * 255 / std::max(width - 1, 1)),
                               static_cast<char>(y * 255 / std::max(height - 1, 1)),
                               static_cast<char>((x * 7 + y * 13) & 0xFF)};
        out.write(pixel, 3);
      }
  }
  const std::string out = RunAndCapture("cjpeg " + options + " " + ppm.string());
  std::filesystem::remove(ppm);
  if (out.size() < 20) throw std::runtime_error("cjpeg failed");
  return Bytes(out.begin(), out.end());
}

void SetJfifDensity(Bytes& jpeg, uint8_t unit, uint16_t x, uint16_t y) {
  jpeg.at(13) = unit;
  jpeg.at(14) = static_cast<uint8_t>(x >> 8);
  jpeg.at(15) = static_cast<uint8_t>(x);
  jpeg.at(16) = static_cast<uint8_t>(y >> 8);
  jpeg.at(17) = static_cast<uint8_t>(y);
}

Bytes Segment(uint8_t code, const Bytes& payload) {
  const size_t length = payload.size() + 2;
  // Sized up front: GCC 12 at -O3 misreads growing a small vector by insert as out of bounds.
  Bytes out(4 + payload.size());
  out[0] = 0xFF;
  out[1] = code;
  out[2] = static_cast<uint8_t>(length >> 8);
  out[3] = static_cast<uint8_t>(length);
  std::copy(payload.begin(), payload.end(), out.begin() + 4);
  return out;
}

Bytes WithSegments(const Bytes& jpeg, const Bytes& segments) {
  Bytes out(jpeg.size() + segments.size());
  auto next = std::copy(jpeg.begin(), jpeg.begin() + 20, out.begin());
  next = std::copy(segments.begin(), segments.end(), next);
  std::copy(jpeg.begin() + 20, jpeg.end(), next);
  return out;
}

std::vector<uint8_t> MarkerCodes(const Bytes& jpeg) {
  std::vector<uint8_t> codes;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    codes.push_back(jpeg[at + 1]);
    if (jpeg[at + 1] == 0xDA) break;
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  return codes;
}

}  // namespace quorvex::test
