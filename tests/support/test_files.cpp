#include "tests/support/test_files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace quorvex::testing {

ScratchDirectory::ScratchDirectory() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("quorvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
  std::filesystem::permissions(
      path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                 std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                 std::filesystem::perms::others_exec);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
}

Rgb PatternPixel(int x, int y) {
  // Smooth gradients with a distinct corner, so orientation errors show.
  return {static_cast<uint8_t>((x * 255) / 63 % 256), static_cast<uint8_t>((y * 4) % 256),
          static_cast<uint8_t>(x < 8 && y < 8 ? 255 : 64)};
}

std::string MakeJpegWithCjpeg(const ScratchDirectory& dir, const std::string& name, int width,
                              int height, bool gray, const std::string& extra) {
  const std::string source = dir.File(name + (gray ? ".pgm" : ".ppm"));
  {
    std::ofstream out(source, std::ios::binary);
    out << (gray ? "P5" : "P6") << '\n' << width << ' ' << height << "\n255\n";
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const Rgb p = PatternPixel(x, y);
        if (gray) {
          out.put(static_cast<char>(p.g));
        } else {
          out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
        }
      }
  }
  const std::string target = dir.File(name);
  const std::string command =
      "cjpeg -quality 95 " + extra + " -outfile '" + target + "' '" + source + "'";
  if (RunCommand(command) != 0) throw std::runtime_error("failed: " + command);
  return target;
}

void SetJfifDensity(std::vector<uint8_t>& jpeg, uint8_t units, uint16_t x, uint16_t y) {
  if (jpeg.size() < 18 || jpeg[6] != 'J') throw std::runtime_error("no JFIF header");
  jpeg[13] = units;
  jpeg[14] = static_cast<uint8_t>(x >> 8);
  jpeg[15] = static_cast<uint8_t>(x);
  jpeg[16] = static_cast<uint8_t>(y >> 8);
  jpeg[17] = static_cast<uint8_t>(y);
}

std::string CommandOutput(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quorvex::testing
