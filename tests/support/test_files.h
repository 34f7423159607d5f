// Test fixtures: scratch directories and JPEG files made by independent tools (cjpeg).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvex::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& file);
void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes);

// Pixel of the deterministic test pattern: red, green, blue at (x, y).
struct Rgb {
  uint8_t r, g, b;
};
Rgb PatternPixel(int x, int y);

// A JPEG of the test pattern written by cjpeg from a PPM (PGM when gray), with extra cjpeg
// arguments such as "-progressive". Returns the file's path.
std::string MakeJpegWithCjpeg(const ScratchDirectory& dir, const std::string& name, int width,
                              int height, bool gray = false, const std::string& extra = "");

// Rewrites the JFIF density fields (units at offset 13, X and Y at 14 and 16).
void SetJfifDensity(std::vector<uint8_t>& jpeg, uint8_t units, uint16_t x, uint16_t y);

// Runs a shell command; returns its exit status.
int RunCommand(const std::string& command);

// What a shell command writes to its standard output; empty when it cannot be started.
std::string CommandOutput(const std::string& command);

}  // namespace quorvex::testing
