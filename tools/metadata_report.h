// What `quorvex info` tells about a file beyond the object's own properties: the estimated
// quality, the EXIF fields, the IPTC fields and the size of the ICC profile.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace quorvex::tools {

struct MetadataReport {
  int32_t quality = 0;
  nlohmann::ordered_json exif = nlohmann::ordered_json::object();
  nlohmann::ordered_json iptc = nlohmann::ordered_json::object();
  int64_t iccBytes = 0;
};

// Reads the file's metadata; a file whose metadata cannot be read gives an empty report.
MetadataReport ReadMetadataReport(const std::string& path);

// The same for a JPEG held in memory.
MetadataReport MetadataReportOf(std::vector<uint8_t> bytes);

}  // namespace quorvex::tools
