#include <nlohmann/json.hpp>
#include <ostream>

#include "client/resize_driver.h"
#include "tools/commands.h"
#include "tools/metadata_report.h"
#include "tools/standard_input.h"

namespace quorvex::tools {

using client::DriverError;
using client::ResizeDriver;

int RunInfo(const std::vector<std::string>& files, bool json, std::ostream& out,
            std::ostream& err) {
  int status = 0;
  nlohmann::ordered_json report = nlohmann::ordered_json::array();
  for (const std::string& file : files) {
    try {
      ResizeDriver object;
      std::vector<uint8_t> bytes;
      if (IsStandardStream(file)) {
        bytes = ReadStandardInput();
        object.VariantIn(bytes.data(), bytes.size());
      } else {
        object.LoadFromFile(file);
      }
      const int32_t width = object.Width(), height = object.Height(), dpi = object.DPI();
      const bool gray = object.GrayScale();
      const int32_t orientation = object.Orientation();
      const MetadataReport metadata =
          IsStandardStream(file) ? MetadataReportOf(std::move(bytes)) : ReadMetadataReport(file);
      if (json) {
        report.push_back({{"file", file},
                          {"width", width},
                          {"height", height},
                          {"dpi", dpi},
                          {"gray", gray},
                          {"quality", metadata.quality},
                          {"orientation", orientation},
                          {"exif", metadata.exif},
                          {"iptc", metadata.iptc},
                          {"icc_bytes", metadata.iccBytes}});
      } else {
        out << file << ": " << width << 'x' << height << " dpi=" << dpi
            << " gray=" << (gray ? 1 : 0) << " quality=" << metadata.quality
            << " orientation=" << orientation << '\n';
      }
    } catch (const DriverError& e) {
      status = 1;
      if (json) {
        report.push_back({{"file", file}, {"error", e.what()}});
      } else {
        err << "quorvex: " << e.what() << '\n';
      }
    }
  }
  // Names and messages need not be valid UTF-8; replace what is not rather than fail.
  if (json) out << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  return status;
}

}  // namespace quorvex::tools
