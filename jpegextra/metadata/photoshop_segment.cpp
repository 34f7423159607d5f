#include "jpegextra/metadata/photoshop_segment.h"

#include <algorithm>
#include <limits>

namespace quorvex {
namespace {

constexpr size_t kMaxSegmentLength = std::numeric_limits<uint16_t>::max();
constexpr size_t kMaxNameLength = std::numeric_limits<uint8_t>::max();
// From this length on a dataset's length field takes the extended form (top bit set, then the
// number of length bytes): a plain 16-bit length with the top bit set would be read as one.
constexpr size_t kExtendedLength = 0x8000;

// Bytes a dataset takes: marker, record, number, length field, value.
uint64_t DatasetSize(const TSegmentData& dataset) noexcept {
  return 5 + (dataset.Value.size() >= kExtendedLength ? 4 : 0) + uint64_t{dataset.Value.size()};
}

uint8_t ReadByte(TMemoryStream& stream) {
  uint8_t value;
  stream.ReadBuffer(&value, 1);
  return value;
}

void Put(std::string& out, uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<char>(value >> shift));
}

// Datasets of one IPTC block. Each dataset is walked by its length, so that datasets of other
// records (the envelope's odd-length character set, say) cannot shift the ones of record 2
// out of step; bytes outside any dataset are passed over one by one.
void ParseDatasets(const std::vector<uint8_t>& data, TSegmentList& datasets) {
  constexpr uint8_t kTagMarker = 0x1C;
  constexpr uint8_t kApplicationRecord = 2;
  size_t at = 0;
  while (at < data.size()) {
    if (data[at] != kTagMarker) {
      ++at;
      continue;
    }
    if (data.size() - at < 5) return;
    const uint8_t record = data[at + 1], number = data[at + 2];
    size_t length = size_t{data[at + 3]} << 8 | data[at + 4];
    at += 5;
    if (length & 0x8000) {
      // Extended form: the low bits count the bytes of the real length.
      const size_t lengthBytes = length & 0x7FFF;
      if (lengthBytes == 0 || lengthBytes > 4 || data.size() - at < lengthBytes) return;
      length = 0;
      for (size_t i = 0; i < lengthBytes; ++i) length = length << 8 | data[at + i];
      at += lengthBytes;
    }
    const size_t taken = std::min(length, data.size() - at);
    if (record == kApplicationRecord)
      datasets.push_back(
          {number, std::string(reinterpret_cast<const char*>(data.data() + at), taken)});
    at += taken;
  }
}

}  // namespace

uint64_t TBIMSegment::DataSize() const noexcept {
  if (ResourceId != kIptcResource) return Text.size();
  uint64_t size = 0;
  for (const TSegmentData& dataset : Datasets) size += DatasetSize(dataset);
  return size;
}

void TApp14Segment::ParseSegment(TMemoryStream& payload) {
  Header.clear();
  Resources.clear();
  payload.Seek(0);
  uint8_t byte;
  while (payload.Read(&byte, 1) == 1 && byte != 0) Header.push_back(static_cast<char>(byte));

  static constexpr char kSignature[] = "8BIM";
  while (payload.Size() != 0 && payload.Position() < payload.Size() - 1) {
    bool signature = true;
    for (size_t i = 0; i < 4 && signature; ++i)
      signature = payload.Read(&byte, 1) == 1 && byte == static_cast<uint8_t>(kSignature[i]);
    if (!signature) continue;

    uint8_t id[2];
    payload.ReadBuffer(id, 2);
    const uint16_t resourceId = static_cast<uint16_t>(id[0] << 8 | id[1]);
    if (resourceId != kIptcResource && resourceId != kCopyrightFlagResource &&
        resourceId != kUrlResource)
      continue;

    TBIMSegment block;
    block.ResourceId = resourceId;
    const uint8_t nameLength = ReadByte(payload);
    block.ResourceName.resize(nameLength);
    payload.ReadBuffer(block.ResourceName.data(), nameLength);
    // The length byte and the name take an even number of bytes.
    if (nameLength % 2 == 0) ReadByte(payload);

    uint8_t sizeBytes[4];
    payload.ReadBuffer(sizeBytes, 4);
    const uint64_t size = uint64_t{sizeBytes[0]} << 24 | uint64_t{sizeBytes[1]} << 16 |
                          uint64_t{sizeBytes[2]} << 8 | sizeBytes[3];
    const uint64_t padded = size + (size & 1);
    if (padded > payload.Size() - payload.Position()) throw EReadError();
    std::vector<uint8_t> data(static_cast<size_t>(padded));
    payload.ReadBuffer(data.data(), data.size());

    switch (resourceId) {
      case kIptcResource:
        ParseDatasets(data, block.Datasets);
        break;
      case kCopyrightFlagResource:
        block.Text.assign(data.begin(), data.end());
        break;
      default:
        for (uint8_t c : data)
          if (c != 0) block.Text.push_back(static_cast<char>(c));
        break;
    }
    Resources.push_back(std::move(block));
  }
}

void TApp14Segment::WriteSegment(TMemoryStream& output) const {
  std::string out("\xFF\xED\0\0", 4);
  out += Header;
  out.push_back('\0');
  for (const TBIMSegment& block : Resources) {
    out += "8BIM";
    Put(out, block.ResourceId, 2);
    const size_t nameLength = std::min(block.ResourceName.size(), kMaxNameLength);
    out.push_back(static_cast<char>(nameLength));
    out.append(block.ResourceName, 0, nameLength);
    if (nameLength % 2 == 0) out.push_back('\0');
    const uint64_t size = block.DataSize();
    if (size > kMaxSegmentLength) return;
    Put(out, size, 4);
    if (block.ResourceId == kIptcResource) {
      for (const TSegmentData& dataset : block.Datasets) {
        out += "\x1C\x02";
        out.push_back(static_cast<char>(dataset.DatasetNumber));
        if (dataset.Value.size() >= kExtendedLength) {
          Put(out, 0x8004, 2);
          Put(out, dataset.Value.size(), 4);
        } else {
          Put(out, dataset.Value.size(), 2);
        }
        out += dataset.Value;
      }
    } else {
      out += block.Text;
    }
    if (size % 2 != 0) out.push_back('\0');
    if (out.size() - 2 > kMaxSegmentLength) return;
  }
  const size_t length = out.size() - 2;
  if (length > kMaxSegmentLength) return;
  out[2] = static_cast<char>(length >> 8);
  out[3] = static_cast<char>(length);
  const size_t start = output.Position();
  output.Write(out.data(), out.size());
  output.Seek(start);
}

}  // namespace quorvex
