#include "jpegextra/metadata/segment_edit.h"

#include <algorithm>
#include <vector>

namespace quorvex {
namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kApp0 = 0xE0;

size_t LengthAt(std::span<const uint8_t> bytes, size_t at) noexcept {
  return size_t{bytes[at]} << 8 | bytes[at + 1];
}

}  // namespace

std::optional<size_t> MetadataInsertionPoint(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() < 2 || bytes[0] != kMarker || bytes[1] != kStartOfImage) return std::nullopt;
  static constexpr uint8_t kJfif[5] = {'J', 'F', 'I', 'F', 0};
  if (bytes.size() >= 11 && bytes[2] == kMarker && bytes[3] == kApp0) {
    const size_t length = LengthAt(bytes, 4);
    if (length >= 7 && std::equal(std::begin(kJfif), std::end(kJfif), bytes.begin() + 6) &&
        length <= bytes.size() - 4)
      return 4 + length;
  }
  return 2;
}

void InsertSegment(TMemoryStream& data, std::span<const uint8_t> segment) {
  const std::span<const uint8_t> bytes = data.Bytes();
  const std::optional<size_t> at = MetadataInsertionPoint(bytes);
  if (!at || segment.empty()) {
    data.Seek(0);
    return;
  }
  std::vector<uint8_t> out;
  out.reserve(bytes.size() + segment.size());
  out.insert(out.end(), bytes.begin(), bytes.begin() + *at);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), bytes.begin() + *at, bytes.end());
  data = TMemoryStream(std::move(out));
}

void VisitSegments(std::span<const uint8_t> bytes,
                   const std::function<void(size_t, uint8_t, std::span<const uint8_t>)>& visit) {
  if (bytes.size() < 2 || bytes[0] != kMarker || bytes[1] != kStartOfImage) return;
  size_t at = 2;
  while (bytes.size() - at >= 4 && bytes[at] == kMarker) {
    const uint8_t code = bytes[at + 1];
    // Markers without a length do not belong before the first scan; stop there.
    if (code == kStartOfScan || code == kMarker || code == 0x00 || code == 0x01 ||
        (code >= 0xD0 && code <= 0xD9))
      break;
    const size_t length = LengthAt(bytes, at + 2);
    if (length < 2 || length > bytes.size() - at - 2) break;
    visit(at, code, bytes.subspan(at + 4, length - 2));
    at += length + 2;
  }
}

void RemoveSegments(TMemoryStream& data,
                    const std::function<bool(uint8_t, std::span<const uint8_t>)>& match) {
  const std::span<const uint8_t> bytes = data.Bytes();
  data.Seek(0);
  std::vector<std::pair<size_t, size_t>> doomed;  // start, size
  VisitSegments(bytes, [&](size_t at, uint8_t code, std::span<const uint8_t> payload) {
    if (match(code, payload)) doomed.emplace_back(at, payload.size() + 4);
  });
  if (doomed.empty()) return;
  std::vector<uint8_t> out;
  out.reserve(bytes.size());
  size_t from = 0;
  for (const auto& [start, size] : doomed) {
    out.insert(out.end(), bytes.begin() + from, bytes.begin() + start);
    from = start + size;
  }
  out.insert(out.end(), bytes.begin() + from, bytes.end());
  data = TMemoryStream(std::move(out));
}

}  // namespace quorvex
