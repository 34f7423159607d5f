// Which files a `batch` run converts and where each one goes, checked before any work starts.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quorvex::tools {

// The run cannot start: an output would overwrite an input, two inputs share an output, or a
// folder cannot be listed.
class BatchRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct BatchFile {
  std::string input;
  std::string output;
};

// The files named, with each folder replaced by the JPEG files in it (and in its subfolders when
// recursive) in sorted order. BatchRefusal when a folder cannot be listed.
std::vector<std::string> ListJpegFiles(const std::vector<std::string>& names, bool recursive);

// The files named, with each folder replaced by the JPEG files in it (and in its subfolders when
// recursive) in sorted order, less those the pattern writes (a past run's outputs), each paired
// with its output: every "%s" in the pattern becomes the
// input's name without its extension, and a relative pattern is taken from the input's folder.
std::vector<BatchFile> PlanBatch(const std::vector<std::string>& names, const std::string& pattern,
                                 bool recursive);

}  // namespace quorvex::tools
