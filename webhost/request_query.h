// The target of an image request as received: its path and query items, the operations they
// name, and the checks that refuse a request before any work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/operation_table.h"

namespace quorvex::webhost {

// One item of the query, percent-decoding undone.
struct QueryItem {
  std::string name;
  std::string value;  // empty when there is no '='
  bool hasValue = false;
};

// The items that are not operations: the signature, and the signed expiry time.
inline constexpr std::string_view kSignatureItem = "sig";
inline constexpr std::string_view kExpiresItem = "expires";

struct RequestTarget {
  std::string path;              // percent-decoding undone
  std::vector<QueryItem> items;  // in the order sent
};

// Splits a request target as received ("/path?a=1&b"); '+' in the query is a blank. Nothing,
// with error set, when a percent escape is malformed or decodes to a NUL byte.
std::optional<RequestTarget> ParseTarget(std::string_view raw, std::string* error);

// The operations in query order; on a malformed or unknown item, or a second thumbnail, fills
// error with a text that names it and returns nothing. Signature and expiry are not operations.
std::vector<client::Step> ParseOperations(const std::vector<QueryItem>& items, std::string* error);

// Resolves format=auto, which is also the default when negotiate, to the best format the Accept
// header names (client/output_formats.h). True when the answer then depends on Accept.
bool NegotiateFormat(std::vector<client::Step>& steps, std::string_view accept, bool negotiate);

// The format the steps write: the last format step's, else "jpeg".
std::string_view FormatOf(const std::vector<client::Step>& steps);

// The operations' own count, for the --max-ops limit.
size_t OperationCount(const std::vector<QueryItem>& items);

}  // namespace quorvex::webhost
