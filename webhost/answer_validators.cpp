#include "webhost/answer_validators.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "webhost/hex_text.h"
#include "webhost/http_date.h"

namespace quorvex::webhost {

namespace {

// Hex digits of the digest kept in the tag: 128 bits, beyond any chance of two answers meeting.
constexpr size_t kTagDigits = 32;

bool Unreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

void AppendEncoded(std::string_view text, std::string* out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (Unreserved(byte)) {
      *out += c;
    } else {
      *out += '%';
      *out += kDigits[byte >> 4];
      *out += kDigits[byte & 15];
    }
  }
}

std::string Sha256Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed");
  return LowerHex(digest, size);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The opaque part of a tag, W/ dropped: weak comparison, as a conditional GET asks for.
std::string_view Opaque(std::string_view tag) {
  if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
  return tag;
}

bool TagListMatches(std::string_view list, std::string_view etag) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view tag = Trim(list.substr(0, comma));
    if (tag == "*" || Opaque(tag) == etag) return true;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return false;
}

}  // namespace

ModuleVersion ReadModuleVersion(const std::string& modulePath) {
  ModuleVersion version;
  version.text = QUORVEX_VERSION;
  // The host's own program too: the defaults it gives requests are compiled into it.
  for (const std::string& path : {modulePath, std::string("/proc/self/exe")}) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) continue;
    char identity[128];
    std::snprintf(identity, sizeof identity, " %llu:%llu:%lld:%lld.%09ld",
                  static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino),
                  static_cast<long long>(info.st_size), static_cast<long long>(info.st_mtim.tv_sec),
                  info.st_mtim.tv_nsec);
    version.text += identity;
    version.modified = std::max<std::time_t>(version.modified, info.st_mtim.tv_sec);
  }
  return version;
}

std::string CanonicalOperations(const std::vector<QueryItem>& items) {
  std::string text;
  for (const QueryItem& item : items) {
    if (item.name == kSignatureItem || item.name == kExpiresItem) continue;
    if (!text.empty()) text += '&';
    AppendEncoded(item.name, &text);
    if (item.hasValue) {
      text += '=';
      AppendEncoded(item.value, &text);
    }
  }
  return text;
}

Validators MakeValidators(const SourceVersion& source, const std::vector<QueryItem>& items,
                          std::string_view format, const ModuleVersion& module, std::time_t now) {
  char identity[96];
  std::snprintf(
      identity, sizeof identity, "%llu:%llu:%llu:%lld",
      static_cast<unsigned long long>(source.device), static_cast<unsigned long long>(source.inode),
      static_cast<unsigned long long>(source.size), static_cast<long long>(source.modifiedNs));
  // One field a line: no field holds a line break (operations are percent-encoded).
  std::string input = identity;
  input += '\n';
  input += CanonicalOperations(items);
  input += '\n';
  input += format;
  input += '\n';
  input += module.text;
  Validators validators;
  validators.etag = '"' + Sha256Hex(input).substr(0, kTagDigits) + '"';
  const std::time_t modified = std::max<std::time_t>(
      static_cast<std::time_t>(source.modifiedNs / 1'000'000'000), module.modified);
  // A change dated in the future is not announced beyond the answer's own date.
  validators.lastModified = std::min(modified, now);
  return validators;
}

bool NotModified(const Validators& validators, const std::optional<std::string>& ifNoneMatch,
                 const std::optional<std::string>& ifModifiedSince) {
  if (ifNoneMatch) return TagListMatches(*ifNoneMatch, validators.etag);
  if (!ifModifiedSince) return false;
  const std::optional<std::time_t> since = ParseHttpDate(*ifModifiedSince);
  return since && validators.lastModified <= *since;
}

void AnswerLengths::Remember(const std::string& etag, uint64_t length) {
  // Tags come and go with files and requests: past the bound, the oldest are not worth ordering,
  // and all are dropped.
  constexpr size_t kMaxTags = 4096;
  std::lock_guard<std::mutex> lock(mutex_);
  if (lengths_.size() >= kMaxTags && lengths_.find(etag) == lengths_.end()) lengths_.clear();
  lengths_[etag] = length;
}

std::optional<uint64_t> AnswerLengths::Find(const std::string& etag) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = lengths_.find(etag);
  if (found == lengths_.end()) return std::nullopt;
  return found->second;
}

}  // namespace quorvex::webhost
