#include "tools/batch_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace quorvex::tools {

namespace fs = std::filesystem;

namespace {

bool IsJpegName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".jpg" || extension == ".jpeg";
}

std::string OutputFor(const std::string& input, const std::string& pattern);

// Whether name is written with every "%s" standing for one and the same name without a slash.
bool MatchesPattern(std::string_view name, std::string_view written) {
  const size_t first = written.find("%s");
  if (first == std::string_view::npos) return name == written;
  if (name.substr(0, first) != written.substr(0, first)) return false;
  for (size_t length = 1; first + length <= name.size(); ++length) {
    const std::string_view stem = name.substr(first, length);
    if (stem.find('/') != std::string_view::npos) return false;
    std::string expected(written);
    for (size_t at = 0; (at = expected.find("%s", at)) != std::string::npos; at += stem.size())
      expected.replace(at, 2, stem);
    if (expected == name) return true;
  }
  return false;
}

// Whether the file is one the pattern writes for an input in its folder or a folder above it,
// up to the one walked: a past run's output, which is no input (unless it is its own output,
// which the run then refuses).
bool PatternWrote(const fs::path& walked, const fs::path& file, const std::string& pattern) {
  if (fs::path(OutputFor(file.string(), pattern)).lexically_normal() == file.lexically_normal())
    return false;
  const std::string name = file.lexically_normal().string();
  for (fs::path folder = file.parent_path();; folder = folder.parent_path()) {
    const std::string written =
        (fs::path(pattern).is_absolute() ? fs::path(pattern) : folder / pattern)
            .lexically_normal()
            .string();
    if (MatchesPattern(name, written)) return true;
    if (folder.lexically_normal() == walked.lexically_normal() || folder == folder.parent_path() ||
        folder.empty())
      return false;
  }
}

template <typename Iterator>
void AddJpegFiles(const fs::path& folder, const std::string& pattern,
                  std::vector<std::string>& files) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : Iterator(folder)) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored) && IsJpegName(entry.path()) &&
        (pattern.empty() || !PatternWrote(folder, entry.path(), pattern)))
      found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
}

// Two names of one file compare equal: an existing file is known by its device and inode (hard
// links, bind mounts), any other name once symbolic links and dot segments are resolved.
std::string Identity(const std::string& name) {
  struct stat status;
  if (::stat(name.c_str(), &status) == 0)
    return "inode " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
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

// The inputs named, folders walked; a non-empty pattern's past outputs are left out.
std::vector<std::string> Inputs(const std::vector<std::string>& names, const std::string& pattern,
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
        AddJpegFiles<fs::recursive_directory_iterator>(name, pattern, inputs);
      else
        AddJpegFiles<fs::directory_iterator>(name, pattern, inputs);
    } catch (const fs::filesystem_error&) {
      throw BatchRefusal("cannot list the folder " + name);
    }
  }
  return inputs;
}

}  // namespace

std::vector<std::string> ListJpegFiles(const std::vector<std::string>& names, bool recursive) {
  return Inputs(names, "", recursive);
}

std::vector<BatchFile> PlanBatch(const std::vector<std::string>& names, const std::string& pattern,
                                 bool recursive) {
  const std::vector<std::string> inputs = Inputs(names, pattern, recursive);

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
