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
  std::vector<std::string> listen;
  app.add_option("--root", serving.root, "folder whose JPEG files are served")->required();
  app.add_option("--listen", listen,
                 "HOST:PORT to listen on, every address a name resolves to; again for more "
                 "(default 127.0.0.1:8080; port 0 picks a free port)")
      ->check([](const std::string& text) {
        quorvex::webhost::ListenAddress address;
        return quorvex::webhost::ParseListen(text, &address) ? "" : "expected HOST:PORT";
      });
  app.add_option("--cors", serving.corsOrigins,
                 "pages of ORIGIN (scheme://host[:port], or * for any) may read the answers; "
                 "again for more");
  app.add_option("--workers", serving.workers, "page threads (default: one per processor)");
  app.add_option("--queue", serving.queue, "requests that may wait for a worker (default 64)");
  app.add_option("--key-file", serving.keyFile,
                 "requests must carry sig=HMAC-SHA256 by one of this file's keys (one a line)");
  app.add_option("--access-log", serving.accessLog,
                 "request lines go to FILE, reopened on SIGHUP (default: standard error)");
  app.add_option_function<std::string>(
         "--log-format",
         [&serving](const std::string& format) { serving.jsonLog = format == "json"; },
         "text (default) or json: one object a line, for log collectors")
      ->check(CLI::IsMember({"text", "json"}));
  app.add_option("--max-upload", serving.maxUpload, "largest POST body in bytes (default 32 MiB)");
  app.add_option("--max-pixels", serving.maxPixels,
                 "largest picture a request may load or make, in pixels (default 50000000)");
  app.add_option("--max-ops", serving.maxOps, "operations in one request (default 16)");
  app.add_option("--timeout", serving.timeoutSeconds,
                 "seconds a request may work before it is cancelled (default 10)");
  app.add_option("--max-source-bytes", serving.maxSourceBytes,
                 "largest file a GET loads, in bytes (default 64 MiB)");
  app.add_option("--max-memory", serving.maxMemory,
                 "bytes all decodes together may hold (default 1 GiB or half the memory)");
  app.add_option("--max-conns-per-ip", serving.maxConnsPerIp,
                 "open connections from one address (default 32)");
  app.add_option("--head-timeout", serving.headTimeoutSeconds,
                 "seconds a request head may take to arrive (default 10)");
  app.add_option("--min-body-rate", serving.minBodyRate,
                 "bytes per second an upload must keep up (default 8192)");
  app.add_option("--max-age", serving.maxAge,
                 "seconds browsers and proxies may keep an image answer before asking again "
                 "(default 0: at once)");
  app.add_flag("--negotiate", serving.negotiate,
               "without format=, answer in the best format Accept names (AVIF, WebP, JPEG)");
  try {
    app.parse(argc, argv);
    if (!listen.empty()) {
      serving.listen.clear();
      for (const std::string& text : listen)
        quorvex::webhost::ParseListen(text, &serving.listen.emplace_back());
    }
    return quorvex::webhost::RunServe(serving, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const quorvex::client::DriverError& e) {
    std::cerr << "quorvex serve: " << e.what() << '\n';
    return 1;
  }
}
