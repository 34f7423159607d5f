// What `quorvex serve` is told on its command line, and the limits it keeps by default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::webhost {

// 1 GiB or half of the machine's memory, whichever is less.
uint64_t DefaultMaxMemory();

// One --listen: a host name or address literal, and a port (0 picks a free one).
struct ListenAddress {
  std::string host;
  uint16_t port = 0;
};

struct ServeOptions {
  std::string root;  // the folder whose files are served
  // Every address each name resolves to is listened on.
  std::vector<ListenAddress> listen{{"127.0.0.1", 8080}};
  unsigned workers = 0;   // page threads; 0 means one per processor
  unsigned queue = 64;    // requests that may wait for a worker
  std::string keyFile;    // signing keys; empty means requests are not signed
  std::string accessLog;  // request lines go here, reopened on SIGHUP; empty: stderr
  bool jsonLog = false;   // one JSON object a line instead of text
  uint64_t maxUpload = 32 * 1024 * 1024;       // largest POST body
  int64_t maxPixels = 50'000'000;              // largest image a request may load or make
  unsigned maxOps = 16;                        // operations in one query
  double timeoutSeconds = 10;                  // a request's work is cancelled after this
  uint64_t maxSourceBytes = 64 * 1024 * 1024;  // largest file a GET loads
  uint64_t maxMemory = DefaultMaxMemory();     // decode memory all requests together may hold
  unsigned maxConnsPerIp = 32;                 // open connections from one address
  double headTimeoutSeconds = 10;              // the whole request head must arrive in this
  uint64_t minBodyRate = 8 * 1024;             // bytes per second an upload must keep up
  unsigned maxAge = 0;  // seconds an image answer may be kept; 0: as the page says (at once)
  std::vector<std::string> corsOrigins;  // pages of these origins may read answers; "*": any
  bool negotiate = false;  // a request without format= gets the best its Accept header names
};

// Splits "HOST:PORT" or "[V6]:PORT"; false when it is not of that form.
bool ParseListen(const std::string& text, ListenAddress* address);

// The first limit that cannot work ("--max-pixels must be at least 1"), or empty.
std::string CheckLimits(const ServeOptions& options);

}  // namespace quorvex::webhost
