#include "webhost/request_signature.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quorvex::webhost {

SigningKey SigningKey::FromFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string key((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && !in) throw std::runtime_error("cannot read the key file " + file);
  if (!key.empty() && key.back() == '\n') key.pop_back();
  if (!key.empty() && key.back() == '\r') key.pop_back();
  if (key.empty()) throw std::runtime_error("the key file " + file + " is empty");
  return SigningKey(std::move(key));
}

std::string SigningKey::Sign(std::string_view text) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
           reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest,
           &size) == nullptr)
    throw std::runtime_error("HMAC-SHA256 failed");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

bool SigningKey::Verify(std::string_view text, std::string_view signature) const {
  const std::string expected = Sign(text);
  return signature.size() == expected.size() &&
         CRYPTO_memcmp(expected.data(), signature.data(), expected.size()) == 0;
}

}  // namespace quorvex::webhost
