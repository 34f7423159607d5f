#include "webhost/library_answers.h"

#include <dlfcn.h>
#include <microhttpd.h>

#include <string_view>

namespace quorvex::webhost {

namespace {

thread_local bool queuingHostAnswer = false;

// The text of an answer the library gives on its own, by status.
std::string_view LibraryAnswerText(unsigned status) {
  switch (status) {
    case MHD_HTTP_BAD_REQUEST:
      return "malformed request";
    case MHD_HTTP_CONTENT_TOO_LARGE:
      return "request body too large";
    case MHD_HTTP_URI_TOO_LONG:
      return "request target too long";
    case MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE:
      return "request header fields too large";
    case MHD_HTTP_HTTP_VERSION_NOT_SUPPORTED:
      return "HTTP version not supported";
    case MHD_HTTP_INTERNAL_SERVER_ERROR:
      return "internal server error";
    default:
      return "request refused";
  }
}

using Queue = enum MHD_Result (*)(MHD_Connection*, unsigned int, MHD_Response*);

// The library's own definition, which the one below stands in front of.
Queue LibraryQueue() {
  static const auto queue = reinterpret_cast<Queue>(dlsym(RTLD_NEXT, "MHD_queue_response"));
  return queue;
}

}  // namespace

HostAnswerScope::HostAnswerScope() noexcept {
  queuingHostAnswer = true;
}

HostAnswerScope::~HostAnswerScope() {
  queuingHostAnswer = false;
}

}  // namespace quorvex::webhost

extern "C" enum MHD_Result MHD_queue_response(MHD_Connection* connection, unsigned int status,
                                              MHD_Response* response) {
  using namespace quorvex::webhost;
  const Queue library = LibraryQueue();
  if (library == nullptr) return MHD_NO;
  if (queuingHostAnswer) return library(connection, status, response);
  const std::string_view text = LibraryAnswerText(status);
  // The text is static, as the library's own page is.
  MHD_Response* plain = MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()),
                                                        MHD_RESPMEM_PERSISTENT);
  if (plain == nullptr) return library(connection, status, response);
  MHD_add_response_header(plain, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
  const enum MHD_Result result = library(connection, status, plain);
  MHD_destroy_response(plain);
  return result;
}
