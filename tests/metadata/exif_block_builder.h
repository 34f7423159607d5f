// Builds EXIF payloads byte by byte in either byte order, independently of the writer under
// test, so that reader tests state exactly what lies in the file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::test {

struct RawEntry {
  uint16_t Tag;
  uint16_t Type;
  uint32_t Count;
  std::vector<uint8_t> Data;  // the value bytes in file order; inline when at most 4
};

class ExifBlockBuilder {
 public:
  explicit ExifBlockBuilder(bool bigEndian) : big_(bigEndian) {}

  std::vector<uint8_t> Words(std::initializer_list<uint16_t> values) const {
    std::vector<uint8_t> out;
    for (uint16_t v : values) PutWord(out, v);
    return out;
  }
  std::vector<uint8_t> Longs(std::initializer_list<uint32_t> values) const {
    std::vector<uint8_t> out;
    for (uint32_t v : values) PutLong(out, v);
    return out;
  }
  std::vector<uint8_t> Rationals(
      std::initializer_list<std::pair<uint32_t, uint32_t>> values) const {
    std::vector<uint8_t> out;
    for (auto [n, d] : values) {
      PutLong(out, n);
      PutLong(out, d);
    }
    return out;
  }
  static std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

  // "Exif" header, main directory at offset 8 (with pointers to the EXIF and GPS directories
  // when those are not empty), the EXIF and GPS directories, then every out-of-line value.
  std::vector<uint8_t> Build(const std::vector<RawEntry>& main,
                             const std::vector<RawEntry>& exif = {},
                             const std::vector<RawEntry>& gps = {},
                             uint32_t nextDirectory = 0) const {
    std::vector<RawEntry> mainAll = main;
    const uint32_t mainSize = DirectorySize(main.size() + !exif.empty() + !gps.empty());
    const uint32_t exifAt = 8 + mainSize;
    const uint32_t gpsAt = exifAt + (exif.empty() ? 0 : DirectorySize(exif.size()));
    uint32_t dataAt = gpsAt + (gps.empty() ? 0 : DirectorySize(gps.size()));
    if (!exif.empty()) mainAll.push_back({0x8769, 4, 1, Longs({exifAt})});
    if (!gps.empty()) mainAll.push_back({0x8825, 4, 1, Longs({gpsAt})});

    std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
    out.push_back(big_ ? 'M' : 'I');
    out.push_back(big_ ? 'M' : 'I');
    PutWord(out, 42);
    PutLong(out, 8);
    std::vector<uint8_t> data;
    WriteDirectory(out, mainAll, nextDirectory, dataAt, data);
    if (!exif.empty()) WriteDirectory(out, exif, 0, dataAt, data);
    if (!gps.empty()) WriteDirectory(out, gps, 0, dataAt, data);
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }

  void PutWord(std::vector<uint8_t>& out, uint16_t v) const {
    if (big_) {
      out.push_back(static_cast<uint8_t>(v >> 8));
      out.push_back(static_cast<uint8_t>(v));
    } else {
      out.push_back(static_cast<uint8_t>(v));
      out.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  void PutLong(std::vector<uint8_t>& out, uint32_t v) const {
    if (big_) {
      PutWord(out, static_cast<uint16_t>(v >> 16));
      PutWord(out, static_cast<uint16_t>(v));
    } else {
      PutWord(out, static_cast<uint16_t>(v));
      PutWord(out, static_cast<uint16_t>(v >> 16));
    }
  }

 private:
  static uint32_t DirectorySize(size_t entries) {
    return static_cast<uint32_t>(2 + 12 * entries + 4);
  }

  void WriteDirectory(std::vector<uint8_t>& out, const std::vector<RawEntry>& entries,
                      uint32_t next, uint32_t& dataAt, std::vector<uint8_t>& data) const {
    PutWord(out, static_cast<uint16_t>(entries.size()));
    for (const RawEntry& e : entries) {
      PutWord(out, e.Tag);
      PutWord(out, e.Type);
      PutLong(out, e.Count);
      if (e.Data.size() <= 4) {
        std::vector<uint8_t> padded = e.Data;
        padded.resize(4, 0);
        out.insert(out.end(), padded.begin(), padded.end());
      } else {
        PutLong(out, dataAt);
        data.insert(data.end(), e.Data.begin(), e.Data.end());
        dataAt += static_cast<uint32_t>(e.Data.size());
      }
    }
    PutLong(out, next);
  }

  bool big_;
};

}  // namespace quorvex::test
