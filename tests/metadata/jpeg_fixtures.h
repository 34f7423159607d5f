// JPEG files for metadata tests, made at test time by cjpeg from a generated picture, and
// helpers that splice segments into them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::test {

using Bytes = std::vector<uint8_t>;

// A width x height colour gradient compressed by `cjpeg <options>`, as bytes. cjpeg writes
// start-of-image and an 18-byte JFIF APP0 segment first, so metadata goes at offset 20.
Bytes CjpegBytes(int width, int height, const std::string& options);

// Sets the JFIF density unit and X/Y densities (offsets 13, 14 and 16).
void SetJfifDensity(Bytes& jpeg, uint8_t unit, uint16_t x, uint16_t y);

// A marker segment: FF code, the 16-bit length (payload + 2) high byte first, the payload.
Bytes Segment(uint8_t code, const Bytes& payload);

// jpeg with the given bytes inserted at offset 20, right after the JFIF segment.
Bytes WithSegments(const Bytes& jpeg, const Bytes& segments);

// Every segment before the first scan: marker codes in file order.
std::vector<uint8_t> MarkerCodes(const Bytes& jpeg);

// Runs a shell command and returns what it wrote to standard output; empty on failure.
std::string RunAndCapture(const std::string& command);

}  // namespace quorvex::test
