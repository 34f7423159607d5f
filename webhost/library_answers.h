// The answers libmicrohttpd gives on its own, before any handler sees the request: a head over
// the connection's memory (414, 431), a malformed request line, header or chunk (400), another
// HTTP version (505), a Content-Length it cannot read (400, 413). The library writes them as
// short HTML pages without a Content-Type, and version 0.9.75 has no option or callback to
// change them; it queues them through its exported MHD_queue_response, which its own code calls
// through the dynamic linker. The host defines that function (library_answers.cpp): the host's
// own answers pass through unchanged, and each of the library's is replaced by a text/plain page
// with the same status.
#pragma once

namespace quorvex::webhost {

// While one lives on a thread, what that thread queues is the host's own answer.
class HostAnswerScope {
 public:
  HostAnswerScope() noexcept;
  ~HostAnswerScope();
  HostAnswerScope(const HostAnswerScope&) = delete;
  HostAnswerScope& operator=(const HostAnswerScope&) = delete;
};

}  // namespace quorvex::webhost
