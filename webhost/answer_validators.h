// Validators of an image answer: a strong entity tag from everything that decides its bytes, and
// the time it last changed, so that a client or proxy holding the answer can ask whether it is
// still current and be told so without a decode.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "webhost/request_query.h"

namespace quorvex::webhost {

// Which file, and which version of it, an open source is.
struct SourceVersion {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // since the epoch
};

// The programs that make the bytes: the version, and the files of the component module and of
// the host, read once at start.
struct ModuleVersion {
  std::string text;
  std::time_t modified = 0;
};
ModuleVersion ReadModuleVersion(const std::string& modulePath);

struct Validators {
  std::string etag;  // quoted
  std::time_t lastModified = 0;
};

// The operations as one text: every item but the signature and its expiry, in the order sent,
// percent-encoded the one way (unreserved bytes as they are, every other byte %XX), so that any
// spelling of the same request gives the same text.
std::string CanonicalOperations(const std::vector<QueryItem>& items);

// The validators of the answer: the tag from source, operations, format and module; the time
// from the later of the source's and the module's, never after now.
Validators MakeValidators(const SourceVersion& source, const std::vector<QueryItem>& items,
                          std::string_view format, const ModuleVersion& module, std::time_t now);

// Whether the client's copy is current: If-None-Match when it was sent (a list of tags, weak ones
// compared by their opaque part, or "*"), otherwise If-Modified-Since (a valid date not before
// the last change).
bool NotModified(const Validators& validators, const std::optional<std::string>& ifNoneMatch,
                 const std::optional<std::string>& ifModifiedSince);

// The lengths of the full answers given under each entity tag, so that a 304 can state the one
// its full answer has, as a Content-Length on a 304 must. Holds the latest few thousand tags.
class AnswerLengths {
 public:
  void Remember(const std::string& etag, uint64_t length);
  std::optional<uint64_t> Find(const std::string& etag) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, uint64_t> lengths_;
};

}  // namespace quorvex::webhost
