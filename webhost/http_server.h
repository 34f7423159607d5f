// The HTTP side of the web host, on libmicrohttpd: one polling thread accepts connections and
// parses requests; image pages run on the worker pool while their connection is suspended.
#pragma once

#include <cstdint>
#include <memory>

#include "webhost/serve_options.h"

namespace quorvex::webhost {

class HttpServer {
 public:
  // Starts listening; throws std::runtime_error when that fails.
  explicit HttpServer(const ServeOptions& options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  uint16_t port() const;
  // Accepts no new connections, lets the requests in flight finish, then closes every
  // connection and stops the workers.
  void Stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quorvex::webhost
