// Small helpers for the transform tests: images with known or random content, pixel access and
// exchange with outside tools through binary PPM files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/raster_image.h"

namespace quorvex::test {

using TPixel = std::array<uint8_t, 3>;  // blue, green, red

std::unique_ptr<TBitmap> MakeImage(int32_t width, int32_t height, TPixelFormat format);
// Every byte random (seeded), 8-bit images with a random 256-entry palette.
std::unique_ptr<TBitmap> MakeRandomImage(int32_t width, int32_t height, TPixelFormat format,
                                         uint32_t seed);
// Smooth colour gradients with some noise, like a photograph.
std::unique_ptr<TBitmap> MakePhotoLikeImage(int32_t width, int32_t height, uint32_t seed);
std::vector<TPaletteEntry> GrayPalette();

TPixel Pixel(const TBitmap& image, int32_t x, int32_t y);
void SetPixel(TBitmap& image, int32_t x, int32_t y, TPixel pixel);
uint8_t Index(const TBitmap& image, int32_t x, int32_t y);
void SetIndex(TBitmap& image, int32_t x, int32_t y, uint8_t index);

// Same size, format, palette and pixel bytes (pad bytes excluded).
bool SameImage(const TBitmap& a, const TBitmap& b);

// Binary PPM (P6) of a 24-bit image, red-green-blue order as the format wants.
void WritePpm(const TBitmap& image, const std::filesystem::path& path);
std::unique_ptr<TBitmap> ReadPpm(const std::filesystem::path& path);

// Runs a shell command; true when it exited with 0.
bool RunCommand(const std::string& command);
// A fresh directory under the system temporary directory.
std::filesystem::path TempDir(const std::string& name);
// The first interpreter in the list that can import PIL, if any.
std::optional<std::string> PythonWithPillow();

}  // namespace quorvex::test
