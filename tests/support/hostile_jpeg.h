// Hostile JPEG files made from harmless ones: a frame header that claims a huge size, and scans
// that carry no data appended by the hundred.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex::testing {

// The file with the size in its first start-of-frame segment (SOF0, SOF1 or SOF2) replaced.
std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height);

// Header of a scan of component 1, coefficients 1..63 (an AC scan of a progressive file).
std::vector<uint8_t> AcScanHeader();
// Header of a first DC scan of components 1, 2 and 3.
std::vector<uint8_t> DcScanHeader();

// The file with count copies of a scan header, and no scan data, put before its end marker.
std::vector<uint8_t> WithEmptyScans(std::vector<uint8_t> jpeg, const std::vector<uint8_t>& scan,
                                    int count);

}  // namespace quorvex::testing
