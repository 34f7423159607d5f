#include "tests/support/hostile_jpeg.h"

#include <stdexcept>

namespace quorvex::testing {

std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
  size_t at = 2;
  while (at + 9 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    if (marker >= 0xC0 && marker <= 0xC2) {
      jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[at + 6] = static_cast<uint8_t>(height);
      jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[at + 8] = static_cast<uint8_t>(width);
      return jpeg;
    }
    at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  }
  throw std::runtime_error("no frame header");
}

std::vector<uint8_t> AcScanHeader() {
  return {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 1, 63, 0};
}

std::vector<uint8_t> DcScanHeader() {
  return {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0, 0};
}

std::vector<uint8_t> WithEmptyScans(std::vector<uint8_t> jpeg, const std::vector<uint8_t>& scan,
                                    int count) {
  if (jpeg.size() < 4 || jpeg[jpeg.size() - 2] != 0xFF || jpeg.back() != 0xD9)
    throw std::runtime_error("no end marker");
  jpeg.resize(jpeg.size() - 2);
  for (int i = 0; i < count; ++i) jpeg.insert(jpeg.end(), scan.begin(), scan.end());
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

}  // namespace quorvex::testing
