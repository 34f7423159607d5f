#include "webhost/serve_options.h"

#include <charconv>

namespace quorvex::webhost {

bool ParseListen(const std::string& text, ServeOptions* options) {
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
  options->host = std::move(host);
  options->port = port;
  return true;
}

}  // namespace quorvex::webhost
