// The access log: one line per request, every field escaped so that no request can forge or
// split lines; plain text, or one JSON object a line for log collectors. Written to a file that
// SIGHUP reopens (for log rotation), or to standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace quorvex::webhost {

// One request as the log tells it.
struct AccessRecord {
  std::chrono::system_clock::time_point arrived;
  std::string client;  // the peer's address
  std::string method;
  std::string target;  // as received: path and query
  unsigned status = 0;
  size_t bytes = 0;  // of the body sent
  double milliseconds = 0;
  std::string requestId;
  bool cancelled = false;  // the work was stopped
  bool unsent = false;     // the answer did not reach the client
};

class AccessLog {
 public:
  enum class Format { Text, Json };

  // An empty path logs to standard error. Throws std::runtime_error when the file cannot be
  // opened.
  AccessLog(std::string path, Format format);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Write(const AccessRecord& record);
  // A line about the host itself (a reload that failed), in the log's format.
  void Note(std::string_view message);
  // Opens the file again by its name; keeps the old one when that fails (and says so).
  void Reopen();

 private:
  void WriteLine(const std::string& line);

  std::mutex mutex_;
  std::string path_;
  Format format_;
  std::FILE* file_;
};

// The record as one line, without its line break.
std::string FormatRecord(const AccessRecord& record, AccessLog::Format format);

// Text as one log field: control characters, blanks, '%', '"', '\' and bytes above 0x7E
// written %XX, so that a field can be quoted anywhere as it stands; "-" for empty text.
std::string LogField(std::string_view text);

// An RFC 3339 time in UTC with milliseconds: "2026-12-09T12:34:56.789Z".
std::string Rfc3339(std::chrono::system_clock::time_point when);

}  // namespace quorvex::webhost
