#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "client/resize_driver.h"
#include "tools/batch_files.h"
#include "tools/commands.h"
#include "tools/standard_input.h"

namespace quorvex::tools {

using client::DriverError;
using client::ResizeDriver;
using Json = nlohmann::ordered_json;

namespace {

// A group of the object's Metadata, an empty object when the file has none.
Json Part(const Json& metadata, const char* name) {
  return metadata.contains(name) ? metadata[name] : Json::object();
}

// Everything the object tells about one file, which it reads once.
Json Describe(const std::string& file) {
  ResizeDriver object;
  std::uintmax_t size = 0;
  if (IsStandardStream(file)) {
    const std::unique_ptr<client::ByteArray> bytes = ReadStandardInput();
    size = bytes->Bytes().size();
    object.VariantIn(*bytes);
  } else {
    object.LoadFromFile(file);
    std::error_code unknown;
    size = std::filesystem::file_size(file, unknown);
    if (unknown) size = 0;
  }
  Json metadata = Json::parse(object.Metadata(), nullptr, false);
  if (!metadata.is_object()) metadata = Json::object();
  const Json icc = Part(metadata, "ICC");
  return {{"file", file},
          {"width", object.Width()},
          {"height", object.Height()},
          {"dpi", object.DPI()},
          {"gray", object.GrayScale()},
          {"quality", object.SourceQuality()},
          {"orientation", object.Orientation()},
          {"bytes", size},
          {"color_space", metadata.value("ColorSpace", "")},
          {"progressive", metadata.value("Progressive", false)},
          {"chroma_sampling", metadata.value("ChromaSampling", "")},
          {"exif", Part(metadata, "EXIF")},
          {"gps", Part(metadata, "GPS")},
          {"iptc", Part(metadata, "IPTC")},
          {"xmp", Part(metadata, "XMP")},
          {"icc", icc},
          {"icc_bytes", icc.value("Size", 0)},
          {"profile", object.ColorProfile()}};
}

}  // namespace

int RunInfo(const std::vector<std::string>& names, bool recursive, bool json, std::ostream& out,
            std::ostream& err) {
  int status = 0;
  Json report = Json::array();
  const auto fail = [&](const std::string& file, const std::string& message) {
    status = 1;
    if (json)
      report.push_back({{"file", file}, {"error", message}});
    else
      err << "quorvex: " << file << ": " << message << '\n';
  };
  for (const std::string& name : names) {
    std::vector<std::string> files;
    try {
      files = ListJpegFiles({name}, recursive);
    } catch (const BatchRefusal& e) {
      fail(name, e.what());
      continue;
    }
    for (const std::string& file : files) {
      try {
        const Json facts = Describe(file);
        if (json) {
          report.push_back(facts);
        } else {
          out << file << ": " << facts["width"] << 'x' << facts["height"] << " dpi=" << facts["dpi"]
              << " gray=" << (facts["gray"].get<bool>() ? 1 : 0) << " quality=" << facts["quality"]
              << " orientation=" << facts["orientation"] << " bytes=" << facts["bytes"] << '\n';
        }
      } catch (const DriverError& e) {
        fail(file, e.what());
      }
    }
  }
  // Names and messages need not be valid UTF-8; replace what is not rather than fail.
  if (json) out << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  return status;
}

}  // namespace quorvex::tools
