// Where the tool finds the component module: $QUORVEX_MODULE, or else a path relative to the
// tool's own file, as installed (QUORVEX_INSTALLED_MODULE, e.g. bin/../lib/quorvex/Quorvex.so)
// or as built (QUORVEX_BUILT_MODULE). No absolute path is compiled in, so an installed tree can
// be moved and a package can put it anywhere.
#include <cstdlib>
#include <filesystem>

#include "client/resize_driver.h"

namespace quorvex::client {

std::string ModulePath() {
  if (const char* path = std::getenv("QUORVEX_MODULE"); path != nullptr && *path != 0) return path;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path directory = error ? std::filesystem::path(".") : self.parent_path();
  const std::filesystem::path installed = (directory / QUORVEX_INSTALLED_MODULE).lexically_normal();
  const std::filesystem::path built = (directory / QUORVEX_BUILT_MODULE).lexically_normal();
  if (!std::filesystem::exists(installed, error) && std::filesystem::exists(built, error))
    return built.string();
  return installed.string();
}

}  // namespace quorvex::client
