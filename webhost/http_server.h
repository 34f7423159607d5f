// The HTTP side of the web host, on libmicrohttpd: a polling thread for each address listened on
// accepts connections and parses requests; image pages run on the worker pool while their
// connection is suspended. A watcher thread closes connections whose head or body comes too slowly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "webhost/serve_options.h"

namespace quorvex::webhost {

class HttpServer {
 public:
  // Starts listening; throws std::runtime_error when that fails.
  explicit HttpServer(const ServeOptions& options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Where it listens: "127.0.0.1:8080", "[::1]:8080", in the order of the options.
  const std::vector<std::string>& addresses() const;
  // Reopens the access log and reads the key file again; the old keys stay when that fails
  // (the reason goes to the log). Requests in flight are not disturbed.
  void Reload();
  // Closes the listening socket (new connections are refused at once), lets the requests in
  // flight finish, then closes every connection and stops the workers.
  void Stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quorvex::webhost
