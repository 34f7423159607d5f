// Request paths resolved to files under the served root, which no path can leave.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webhost {

class RootFiles {
 public:
  // Throws std::runtime_error when root is not a readable folder.
  explicit RootFiles(const std::string& root);

  // The regular file a decoded request path names, with every symbolic link resolved; nothing
  // when a segment is "." or "..", when the file does not exist or is not a regular file, or
  // when its real place is outside the root.
  std::optional<std::string> Resolve(std::string_view path) const;

 private:
  std::string root_;  // canonical, without a trailing '/'
};

}  // namespace quorvex::webhost
