// Signed requests: sig = lowercase hex HMAC-SHA256(key, signed text).
#pragma once

#include <string>
#include <string_view>

namespace quorvex::webhost {

class SigningKey {
 public:
  // The key is the file's bytes, one trailing line break dropped; throws std::runtime_error
  // when the file cannot be read or is empty.
  static SigningKey FromFile(const std::string& file);
  explicit SigningKey(std::string key) : key_(std::move(key)) {}

  std::string Sign(std::string_view text) const;
  // Compares in constant time.
  bool Verify(std::string_view text, std::string_view signature) const;

 private:
  std::string key_;
};

}  // namespace quorvex::webhost
