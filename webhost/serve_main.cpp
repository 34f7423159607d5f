// quorvex-serve: the web host as a program of its own, run by `quorvex serve`. It alone links
// the HTTP and crypto libraries, so the other commands start without loading them.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "client/resize_driver.h"
#include "webhost/serve_command.h"

int main(int argc, char** argv) {
  CLI::App app{"Answer HTTP image requests for the files under DIR.", "quorvex serve"};
  quorvex::webhost::ServeOptions serving;
  std::string listen = "127.0.0.1:8080";
  app.add_option("--root", serving.root, "folder whose JPEG files are served")->required();
  app.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->check([&serving](const std::string& text) {
        return quorvex::webhost::ParseListen(text, &serving) ? "" : "expected HOST:PORT";
      });
  app.add_option("--workers", serving.workers, "page threads (default: one per processor)");
  app.add_option("--queue", serving.queue, "requests that may wait for a worker (default 64)");
  app.add_option("--key-file", serving.keyFile, "requests must carry sig=HMAC-SHA256 by this key");
  app.add_option("--max-upload", serving.maxUpload, "largest POST body in bytes (default 32 MiB)");
  app.add_option("--max-pixels", serving.maxPixels,
                 "largest picture a request may load or make, in pixels (default 50000000)");
  try {
    app.parse(argc, argv);
    return quorvex::webhost::RunServe(serving, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const quorvex::client::DriverError& e) {
    std::cerr << "quorvex serve: " << e.what() << '\n';
    return 1;
  }
}
