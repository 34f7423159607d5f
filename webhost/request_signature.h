// Signed requests: sig = lowercase hex HMAC-SHA256(key, the request target as received up to
// the signature item), the signature item last. Any other spelling of a request signs
// differently, so one signature names exactly one request.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::webhost {

class SigningKeys {
 public:
  // One key a line (a trailing CR dropped, blank lines skipped), so that a new key can be added
  // before the old one goes. Throws std::runtime_error when the file cannot be read or holds no
  // key.
  static SigningKeys FromFile(const std::string& file);
  explicit SigningKeys(std::vector<std::string> keys) : keys_(std::move(keys)) {}

  static std::string Sign(std::string_view key, std::string_view text);
  // Whether any key signs text as signature; each comparison in constant time.
  bool Verify(std::string_view text, std::string_view signature) const;

 private:
  std::vector<std::string> keys_;
};

struct SignedTarget {
  std::string_view text;       // the target before "&sig=" (or "?sig=")
  std::string_view signature;  // what follows it
};

// Splits a target as received at its last item when that item is "sig=..."; nothing otherwise.
std::optional<SignedTarget> SplitSignature(std::string_view raw);

}  // namespace quorvex::webhost
