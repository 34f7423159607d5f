// What `quorvex serve` is told on its command line.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex::webhost {

struct ServeOptions {
  std::string root;                       // the folder whose files are served
  std::string host = "127.0.0.1";         // address to listen on (IPv4 or IPv6 literal)
  uint16_t port = 8080;                   // 0 picks a free port
  unsigned workers = 0;                   // page threads; 0 means one per processor
  unsigned queue = 64;                    // requests that may wait for a worker
  std::string keyFile;                    // signing key; empty means requests are not signed
  uint64_t maxUpload = 32 * 1024 * 1024;  // largest POST body
  uint64_t maxPixels = 50'000'000;        // largest image a request may load or make
};

// Splits "HOST:PORT" or "[V6]:PORT" into the options; false when it is not of that form.
bool ParseListen(const std::string& text, ServeOptions* options);

}  // namespace quorvex::webhost
