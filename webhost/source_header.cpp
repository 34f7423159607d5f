#include "webhost/source_header.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorvex::webhost {

namespace {

// How far the markers are followed: metadata (EXIF, ICC, Photoshop blocks) comes before the frame
// header, and rarely reaches a few hundred kilobytes.
constexpr uint64_t kHeaderReach = 16u << 20;
constexpr int kMaxMarkers = 4096;

bool IsFrameHeader(uint8_t marker) {
  // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// What an APP1 segment's payload says of the orientation, as the object's load reads it:
// nothing when it is no EXIF block (a later one may be), else the orientation its main directory
// gives (1..8), or 1 when its first readable Orientation entry is no single number 1..8 or it
// has none.
std::optional<int> ExifOrientation(const std::vector<uint8_t>& app1) {
  static constexpr uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
  if (app1.size() < 20 || std::memcmp(app1.data(), kExif, sizeof kExif) != 0) return std::nullopt;
  const uint8_t* tiff = app1.data() + sizeof kExif;
  const size_t size = app1.size() - sizeof kExif;
  const bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return std::nullopt;
  const auto u16 = [&](uint64_t at) -> uint32_t {
    return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
  };
  const auto u32 = [&](uint64_t at) -> uint32_t {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  if (u16(2) != 42) return std::nullopt;
  const uint64_t ifd = u32(4);
  if (ifd + 2 > size) return 1;
  // Entries cut short by the end of the block do not count.
  const uint64_t entries = std::min<uint64_t>(u16(ifd), (size - ifd - 2) / 12);
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t entry = ifd + 2 + 12 * i;
    const uint32_t type = u16(entry + 2), count = u32(entry + 4);
    if (u16(entry) != 0x0112 || count < 1 || count > 4096) continue;
    // Types as the reader sizes them; any it does not know are bytes.
    const uint64_t unit = type == 3 ? 2 : type == 4 ? 4 : type == 5 || type == 10 ? 8 : 1;
    const bool held = type == 3   ? count <= 2
                      : type == 4 ? count == 1
                      : unit == 8 ? false
                                  : count <= 4;
    const uint64_t offset = held ? entry + 8 : uint64_t{u32(entry + 8)};
    // A value the block does not hold makes no entry: a later one may count.
    if (offset + unit * count > size) continue;
    // One number: a byte, a short or a long alone, or text of one digit (NUL bytes aside).
    uint32_t number = 0;
    if (count == 1 && type == 1) {
      number = tiff[offset];
    } else if (count == 1 && type == 3) {
      number = u16(offset);
    } else if (count == 1 && type == 4) {
      number = u32(offset);
    } else if (type == 2) {
      int characters = 0;
      for (uint64_t k = 0; k < count; ++k) {
        const uint8_t c = tiff[offset + k];
        if (c != 0 && ++characters == 1) number = c >= '0' && c <= '9' ? c - '0' : 0;
      }
      if (characters != 1) number = 0;
    }
    return number >= 1 && number <= 8 ? static_cast<int>(number) : 1;
  }
  return 1;
}

}  // namespace

std::optional<PictureSize> JpegLoadSize(const SourceReader& read, bool upright) {
  uint8_t head[4];
  if (read(0, head, 2) != 2 || head[0] != 0xFF || head[1] != 0xD8) return std::nullopt;
  uint64_t at = 2;
  std::optional<PictureSize> size;
  std::optional<int> orientation;  // the first EXIF block's
  // Only headers laid out as written, segment after segment up to the data, are weighed: bytes
  // between segments or markers without a length there are read otherwise by the decoder and the
  // metadata reader, and such a source is left to the object's own limits.
  for (int markers = 0; markers < kMaxMarkers && at < kHeaderReach; ++markers) {
    if (read(at, head, 2) != 2 || head[0] != 0xFF) return std::nullopt;
    const uint8_t marker = head[1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    at += 2;
    if (marker == 0xDA) {
      // The data: the headers, the EXIF block among them, are all read. Orientations 5 to 8
      // turn the picture a quarter as it loads.
      if (size && upright && orientation.value_or(1) >= 5) std::swap(size->width, size->height);
      return size;
    }
    // Markers without a length, and codes below C0 that the decoder knows no segment of.
    if (marker < 0xC0 || (marker >= 0xD0 && marker <= 0xD9)) return std::nullopt;
    if (read(at, head, 2) != 2) return std::nullopt;
    const uint32_t length = head[0] << 8 | head[1];
    if (length < 2) return std::nullopt;
    if (IsFrameHeader(marker) && !size) {
      uint8_t frame[5];
      if (length < 7 || read(at + 2, frame, 5) != 5) return std::nullopt;
      size = PictureSize{frame[3] << 8 | frame[4], frame[1] << 8 | frame[2]};
      // Stored as it is: nothing after the frame header changes its size.
      if (!upright) return size;
    }
    // The load takes the first EXIF block, before or after the frame header.
    if (marker == 0xE1 && upright && !orientation && length > 2) {
      std::vector<uint8_t> payload(length - 2);
      if (read(at + 2, payload.data(), payload.size()) != payload.size()) return std::nullopt;
      orientation = ExifOrientation(payload);
    }
    at += length;
  }
  return std::nullopt;
}

std::optional<PictureSize> JpegLoadSize(std::string_view bytes, bool upright) {
  return JpegLoadSize(
      [bytes](uint64_t offset, void* buffer, size_t size) -> size_t {
        if (offset >= bytes.size()) return 0;
        const size_t count = std::min<uint64_t>(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, count);
        return count;
      },
      upright);
}

std::optional<PictureSize> JpegLoadSize(int fd, bool upright) {
  return JpegLoadSize(
      [fd](uint64_t offset, void* buffer, size_t size) -> size_t {
        size_t done = 0;
        while (done < size) {
          const ssize_t got = pread(fd, static_cast<uint8_t*>(buffer) + done, size - done,
                                    static_cast<off_t>(offset + done));
          if (got <= 0) break;
          done += static_cast<size_t>(got);
        }
        return done;
      },
      upright);
}

}  // namespace quorvex::webhost
