// `quorvex serve`: the web host in the foreground until SIGTERM or SIGINT; SIGHUP reopens the
// access log and reads the key file again.
#pragma once

#include <iosfwd>

#include "webhost/serve_options.h"

namespace quorvex::webhost {

// Prints "listening on http://HOST:PORT/" for each address first; returns the process exit
// status.
int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quorvex::webhost
