#include "tests/imaging/image_helpers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace quorvex::test {

std::unique_ptr<TBitmap> MakeImage(int32_t width, int32_t height, TPixelFormat format) {
  auto image = std::make_unique<TBitmap>();
  image->SetPixelFormat(format);
  image->SetSize(width, height);
  return image;
}

std::unique_ptr<TBitmap> MakeRandomImage(int32_t width, int32_t height, TPixelFormat format,
                                         uint32_t seed) {
  auto image = MakeImage(width, height, format);
  std::mt19937 random(seed);
  if (format == TPixelFormat::pf8bit) {
    std::vector<TPaletteEntry> palette(kMaxPaletteEntries);
    for (auto& entry : palette) {
      entry.Blue = static_cast<uint8_t>(random());
      entry.Green = static_cast<uint8_t>(random());
      entry.Red = static_cast<uint8_t>(random());
    }
    image->SetPalette(palette);
  }
  const size_t rowBytes = static_cast<size_t>(width) * TBitmap::BytesPerPixel(format);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->Row(y);
    for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(random());
  }
  return image;
}

std::unique_ptr<TBitmap> MakePhotoLikeImage(int32_t width, int32_t height, uint32_t seed) {
  auto image = MakeImage(width, height, TPixelFormat::pf24bit);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->Row(y);
    for (int32_t x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      const double base[3] = {128 + 100 * std::sin(6 * u + 2 * v), 128 + 90 * std::cos(5 * v - u),
                              128 + 110 * std::sin(3 * (u + v))};
      for (int c = 0; c < 3; ++c) {
        const int value = static_cast<int>(base[c]) + noise(random);
        row[3 * x + c] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
  return image;
}

std::vector<TPaletteEntry> GrayPalette() {
  std::vector<TPaletteEntry> palette(kMaxPaletteEntries);
  for (int i = 0; i < kMaxPaletteEntries; ++i) {
    const auto level = static_cast<uint8_t>(i);
    palette[i] = {level, level, level, 0};
  }
  return palette;
}

TPixel Pixel(const TBitmap& image, int32_t x, int32_t y) {
  const uint8_t* p = image.ScanLine(y) + 3 * static_cast<size_t>(x);
  return {p[0], p[1], p[2]};
}

void SetPixel(TBitmap& image, int32_t x, int32_t y, TPixel pixel) {
  std::memcpy(image.Row(y) + 3 * static_cast<size_t>(x), pixel.data(), 3);
}

uint8_t Index(const TBitmap& image, int32_t x, int32_t y) {
  return image.ScanLine(y)[x];
}

void SetIndex(TBitmap& image, int32_t x, int32_t y, uint8_t index) {
  image.Row(y)[x] = index;
}

bool SameImage(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  if (a.PaletteSize() != b.PaletteSize()) return false;
  for (int i = 0; i < a.PaletteSize(); ++i)
    if (!(a.Palette()[i] == b.Palette()[i])) return false;
  const size_t rowBytes = static_cast<size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0) return false;
  return true;
}

void WritePpm(const TBitmap& image, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << image.Width() << ' ' << image.Height() << "\n255\n";
  std::vector<char> row(3 * static_cast<size_t>(image.Width()));
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* in = image.ScanLine(y);
    for (int32_t x = 0; x < image.Width(); ++x) {
      row[3 * x] = static_cast<char>(in[3 * x + 2]);
      row[3 * x + 1] = static_cast<char>(in[3 * x + 1]);
      row[3 * x + 2] = static_cast<char>(in[3 * x]);
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::unique_ptr<TBitmap> ReadPpm(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maximum = 0;
  in >> magic >> width >> height >> maximum;
  in.get();
  if (!in || magic != "P6" || maximum != 255) throw std::runtime_error("bad PPM " + path.string());
  auto image = MakeImage(width, height, TPixelFormat::pf24bit);
  std::vector<char> row(3 * static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    in.read(row.data(), static_cast<std::streamsize>(row.size()));
    uint8_t* out = image->Row(y);
    for (int32_t x = 0; x < width; ++x) {
      out[3 * x] = static_cast<uint8_t>(row[3 * x + 2]);
      out[3 * x + 1] = static_cast<uint8_t>(row[3 * x + 1]);
      out[3 * x + 2] = static_cast<uint8_t>(row[3 * x]);
    }
  }
  if (!in) throw std::runtime_error("short PPM " + path.string());
  return image;
}

bool RunCommand(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::filesystem::path TempDir(const std::string& name) {
  static std::random_device device;
  const auto path =
      std::filesystem::temp_directory_path() / ("quorvex_" + name + "_" + std::to_string(device()));
  std::filesystem::create_directories(path);
  return path;
}

std::optional<std::string> PythonWithPillow() {
  for (const char* candidate : {"python3", "/usr/bin/python3"}) {
    const std::string command =
        std::string(candidate) + " -c \"import PIL.Image\" > /dev/null 2>&1";
    if (RunCommand(command)) return candidate;
  }
  return std::nullopt;
}

}  // namespace quorvex::test
