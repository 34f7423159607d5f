#include "webhost/request_signature.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <stdexcept>

#include "webhost/hex_text.h"

namespace quorvex::webhost {

SigningKeys SigningKeys::FromFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the key file " + file);
  std::vector<std::string> keys;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) keys.push_back(std::move(line));
  }
  if (in.bad()) throw std::runtime_error("cannot read the key file " + file);
  if (keys.empty()) throw std::runtime_error("the key file " + file + " holds no key");
  return SigningKeys(std::move(keys));
}

std::string SigningKeys::Sign(std::string_view key, std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest,
           &size) == nullptr)
    throw std::runtime_error("HMAC-SHA256 failed");
  return LowerHex(digest, size);
}

bool SigningKeys::Verify(std::string_view text, std::string_view signature) const {
  bool matched = false;
  for (const std::string& key : keys_) {
    const std::string expected = Sign(key, text);
    matched |= signature.size() == expected.size() &&
               CRYPTO_memcmp(expected.data(), signature.data(), expected.size()) == 0;
  }
  return matched;
}

std::optional<SignedTarget> SplitSignature(std::string_view raw) {
  constexpr std::string_view kItem = "sig=";
  const size_t question = raw.find('?');
  const size_t start = raw.find_last_of("?&");
  if (question == std::string_view::npos || start < question ||
      raw.substr(start + 1, kItem.size()) != kItem)
    return std::nullopt;
  return SignedTarget{raw.substr(0, start), raw.substr(start + 1 + kItem.size())};
}

}  // namespace quorvex::webhost
