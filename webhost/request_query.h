// The query of an image request: its items in the order sent, the operations they name, and
// the text a signature covers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client/operation_steps.h"

namespace quorvex::webhost {

// One item of the query, percent-decoding undone.
struct QueryItem {
  std::string name;
  std::string value;  // empty when there is no '='
  bool hasValue = false;
};

// The name of the item that carries the signature.
inline constexpr std::string_view kSignatureItem = "sig";

// The operations in query order; on a malformed or unknown item, or a second thumbnail, fills
// error with a text that names it and returns nothing. The signature item is not an operation.
std::vector<client::Step> ParseOperations(const std::vector<QueryItem>& items, std::string* error);

// What a request's signature covers: the path, '?', then the query items without the signature
// item, in their order, joined by '&' (each "name=value", or "name" when it has no value).
std::string SignedText(std::string_view path, const std::vector<QueryItem>& items);

}  // namespace quorvex::webhost
