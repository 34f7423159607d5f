#include "webhost/serve_options.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>

namespace quorvex::webhost {

bool ParseListen(const std::string& text, ListenAddress* address) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  }
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  uint16_t port = 0;
  const auto [end, ec] = std::from_chars(first, last, port);
  if (first == last || ec != std::errc() || end != last) return false;
  address->host = std::move(host);
  address->port = port;
  return true;
}

uint64_t DefaultMaxMemory() {
  constexpr uint64_t kGiB = uint64_t{1} << 30;
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return kGiB;
  return std::min(kGiB, static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) / 2);
}

std::string CheckLimits(const ServeOptions& options) {
  if (options.maxPixels < 1) return "--max-pixels must be at least 1";
  if (options.maxOps < 1) return "--max-ops must be at least 1";
  if (!(options.timeoutSeconds > 0)) return "--timeout must be more than 0 seconds";
  if (!(options.headTimeoutSeconds > 0)) return "--head-timeout must be more than 0 seconds";
  if (options.maxSourceBytes < 1) return "--max-source-bytes must be at least 1";
  if (options.maxMemory < 1) return "--max-memory must be at least 1";
  if (options.maxConnsPerIp < 1) return "--max-conns-per-ip must be at least 1";
  if (options.listen.empty()) return "--listen needs an address";
  return {};
}

}  // namespace quorvex::webhost
