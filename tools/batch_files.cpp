#include "tools/batch_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace quorvex::tools {

namespace fs = std::filesystem;

namespace {

bool IsJpegName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".jpg" || extension == ".jpeg";
}

template <typename Iterator>
void AddJpegFiles(const fs::path& folder, std::vector<std::string>& files) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : Iterator(folder)) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored) && IsJpegName(entry.path()))
      found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
}

// Two spellings of one file compare equal once symbolic links and dot segments are resolved.
std::string Identity(const std::string& name) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(fs::absolute(name), error);
  return error ? fs::absolute(name).lexically_normal().string() : canonical.string();
}

// The output for one input: every "%s" in the pattern becomes the input's name without its
// extension, and a relative pattern is taken from the input's folder.
std::string OutputFor(const std::string& input, const std::string& pattern) {
  const std::string stem = fs::path(input).stem().string();
  std::string output = pattern;
  for (size_t at = 0; (at = output.find("%s", at)) != std::string::npos; at += stem.size())
    output.replace(at, 2, stem);
  const fs::path path(output);
  if (path.is_absolute()) return output;
  return (fs::path(input).parent_path() / path).string();
}

}  // namespace

std::vector<BatchFile> PlanBatch(const std::vector<std::string>& names, const std::string& pattern,
                                 bool recursive) {
  std::vector<std::string> inputs;
  for (const std::string& name : names) {
    std::error_code error;
    if (!fs::is_directory(name, error)) {
      inputs.push_back(name);
      continue;
    }
    try {
      if (recursive)
        AddJpegFiles<fs::recursive_directory_iterator>(name, inputs);
      else
        AddJpegFiles<fs::directory_iterator>(name, inputs);
    } catch (const fs::filesystem_error&) {
      throw BatchRefusal("cannot list the folder " + name);
    }
  }

  std::map<std::string, std::string> inputByIdentity;
  for (const std::string& input : inputs) inputByIdentity.emplace(Identity(input), input);
  std::map<std::string, std::string> inputByOutput;
  std::vector<BatchFile> plan;
  for (const std::string& input : inputs) {
    BatchFile file{input, OutputFor(input, pattern)};
    const std::string output = Identity(file.output);
    if (const auto same = inputByIdentity.find(output); same != inputByIdentity.end())
      throw BatchRefusal(file.output + " would overwrite the input " + same->second);
    if (const auto [taken, added] = inputByOutput.emplace(output, input); !added)
      throw BatchRefusal(taken->second + " and " + input + " would both be written to " +
                         file.output);
    plan.push_back(std::move(file));
  }
  return plan;
}

}  // namespace quorvex::tools
