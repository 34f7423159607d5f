#include "webhost/root_files.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace quorvex::webhost {

namespace {

std::optional<std::string> RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

RootFiles::RootFiles(const std::string& root) {
  std::optional<std::string> real = RealPath(root);
  struct stat info {};
  if (!real || stat(real->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw std::runtime_error("the root " + root + " is not a folder");
  root_ = *real == "/" ? std::string() : std::move(*real);
}

std::optional<std::string> RootFiles::Resolve(std::string_view path) const {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos)
    return std::nullopt;
  // Dot segments are refused outright rather than resolved: a request naming them is probing.
  for (size_t start = 1; start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return std::nullopt;
    start = end + 1;
  }
  const std::optional<std::string> real = RealPath(root_ + std::string(path));
  if (!real || real->size() <= root_.size() || real->compare(0, root_.size(), root_) != 0 ||
      (*real)[root_.size()] != '/')
    return std::nullopt;
  struct stat info {};
  if (stat(real->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return real;
}

}  // namespace quorvex::webhost
