// What the host sends back for one request, built off the server's threads.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorvex::webhost {

struct PageAnswer {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added on sending
  std::string body;
};

// An error or short answer: the text as a text/plain; charset=utf-8 body.
PageAnswer TextAnswer(unsigned status, std::string text);

}  // namespace quorvex::webhost
