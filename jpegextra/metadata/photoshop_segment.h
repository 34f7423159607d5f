// The APP13 segment in the layout of Photoshop image resources, with its IPTC record-2 datasets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpegextra/memory_stream.h"

namespace quorvex {

inline constexpr uint16_t kIptcResource = 0x0404;
inline constexpr uint16_t kCopyrightFlagResource = 0x040A;
inline constexpr uint16_t kUrlResource = 0x040B;

// One IPTC dataset of record 2.
struct TSegmentData {
  uint8_t DatasetNumber = 0;
  std::string Value;  // bytes
  friend bool operator==(const TSegmentData&, const TSegmentData&) = default;
};
using TSegmentList = std::vector<TSegmentData>;

// One "8BIM" resource block.
struct TBIMSegment {
  uint16_t ResourceId = 0;
  std::string ResourceName;
  std::string Text;       // data of a copyright-flag or URL block
  TSegmentList Datasets;  // datasets of an IPTC block

  // Bytes of data the block writes; datasets of 32768 bytes or more take the extended length.
  uint64_t DataSize() const noexcept;
  friend bool operator==(const TBIMSegment&, const TBIMSegment&) = default;
};
using TBIMList = std::vector<TBIMSegment>;

// Despite the name, the parsed APP13 segment.
class TApp14Segment {
 public:
  std::string Header;
  TBIMList Resources;

  // Parses an APP13 payload from position 0. Raises EReadError when a resource block is cut
  // short; other bytes it does not understand are scanned past. Record-2 datasets of an IPTC
  // block are kept; a dataset cut short by the end of its block keeps what is there.
  void ParseSegment(TMemoryStream& payload);

  // Writes the whole segment (FF ED, length, payload) to output. Writes nothing when the
  // segment would not fit its 16-bit length field.
  void WriteSegment(TMemoryStream& output) const;
};

}  // namespace quorvex
