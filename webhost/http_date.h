// HTTP dates: written as IMF-fixdate, read in all three forms a client may send.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webhost {

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t when);

// The time an IMF-fixdate, an RFC 850 date or an asctime date names; nothing for any other text.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

}  // namespace quorvex::webhost
