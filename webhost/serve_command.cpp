#include "webhost/serve_command.h"

#include <signal.h>

#include <ostream>
#include <stdexcept>

#include "client/resize_driver.h"
#include "webhost/http_server.h"

namespace quorvex::webhost {

namespace {

// Pages create the object by ProgID, so the module must be in the registry; a host started
// against an empty registry registers the module it was built with.
void EnsureRegistered(std::ostream& err) {
  try {
    client::ResizeDriver probe(client::ResizeDriver::Creation::ProgId);
    return;
  } catch (const client::DriverError&) {
  }
  const HRESULT result = client::RunRegistration(true);
  if (FAILED(result))
    throw std::runtime_error("cannot register the component module " + client::ModulePath());
  err << "registered " << client::ModulePath() << " as " << client::kResizeProgId << '\n';
  client::ResizeDriver probe(client::ResizeDriver::Creation::ProgId);
}

}  // namespace

int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err) {
  try {
    if (const std::string refused = CheckLimits(options); !refused.empty())
      throw std::runtime_error(refused);
    EnsureRegistered(err);
    // Blocked before any thread starts, so only the wait below receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that goes away mid-answer must not end the process.
    signal(SIGPIPE, SIG_IGN);

    HttpServer server(options);
    for (const std::string& address : server.addresses())
      out << "listening on http://" << address << '/' << '\n';
    out << std::flush;
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGHUP) server.Reload();
    err << "stopping: " << (received == SIGTERM ? "SIGTERM" : "SIGINT") << std::endl;
    server.Stop();
    return 0;
  } catch (const std::exception& e) {
    err << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace quorvex::webhost
