// The id that names one request in the access log and in its answer, so that a client's report
// or a proxy's log line can be matched with the host's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webhost {

// The X-Request-Id the client sent when it is well-formed (1 to 128 letters, digits and
// "-._:+/=@", as ids and their base64 forms are), otherwise a new one: 32 hex digits, unique
// within the process and unlikely to meet another process's.
std::string RequestId(const std::optional<std::string>& sent);

bool WellFormedRequestId(std::string_view id);

}  // namespace quorvex::webhost
