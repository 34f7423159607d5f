#include "webhost/http_date.h"

#include <time.h>

namespace quorvex::webhost {

std::string HttpDate(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
  if (text.size() > 64) return std::nullopt;
  const std::string copy(text);
  // Only the C locale's day and month names are meant; strptime reads them so in this process,
  // which never sets another locale.
  for (const char* form :
       {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %e %H:%M:%S %Y"}) {
    std::tm parts{};
    const char* end = strptime(copy.c_str(), form, &parts);
    if (end != nullptr && *end == '\0') return timegm(&parts);
  }
  return std::nullopt;
}

}  // namespace quorvex::webhost
