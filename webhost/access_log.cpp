#include "webhost/access_log.h"

#include <ctime>
#include <stdexcept>

namespace quorvex::webhost {

namespace {

std::FILE* OpenLog(const std::string& path) {
  return path.empty() ? stderr : std::fopen(path.c_str(), "ae");
}

// A JSON string of a field escaped by LogField, which leaves nothing JSON would escape; quotes
// and backslashes are escaped all the same, should that ever change.
std::string JsonString(std::string_view field) {
  std::string text = "\"";
  for (const char c : field) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  return text + '"';
}

}  // namespace

AccessLog::AccessLog(std::string path, Format format)
    : path_(std::move(path)), format_(format), file_(OpenLog(path_)) {
  if (file_ == nullptr) throw std::runtime_error("cannot open the access log " + path_);
}

AccessLog::~AccessLog() {
  if (file_ != stderr) std::fclose(file_);
}

void AccessLog::Write(const AccessRecord& record) {
  WriteLine(FormatRecord(record, format_));
}

void AccessLog::Note(std::string_view message) {
  const std::string time = Rfc3339(std::chrono::system_clock::now());
  WriteLine(format_ == Format::Json
                ? "{\"time\":\"" + time + "\",\"message\":" + JsonString(LogField(message)) + "}"
                : time + ' ' + std::string(message));
}

void AccessLog::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

void AccessLog::Reopen() {
  if (path_.empty()) return;
  std::FILE* fresh = OpenLog(path_);
  if (fresh == nullptr) {
    Note("cannot reopen the access log " + path_ + "; still writing to the old file");
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::fclose(file_);
  file_ = fresh;
}

std::string FormatRecord(const AccessRecord& record, AccessLog::Format format) {
  char milliseconds[32];
  std::snprintf(milliseconds, sizeof milliseconds, "%.1f", record.milliseconds);
  const std::string time = Rfc3339(record.arrived);
  if (format == AccessLog::Format::Json) {
    return "{\"time\":\"" + time + "\",\"client\":" + JsonString(LogField(record.client)) +
           ",\"method\":" + JsonString(LogField(record.method)) +
           ",\"target\":" + JsonString(LogField(record.target)) +
           ",\"status\":" + std::to_string(record.status) +
           ",\"bytes\":" + std::to_string(record.bytes) + ",\"ms\":" + milliseconds +
           ",\"request_id\":" + JsonString(LogField(record.requestId)) +
           ",\"cancelled\":" + (record.cancelled ? "true" : "false") +
           ",\"unsent\":" + (record.unsent ? "true" : "false") + "}";
  }
  std::string line = time + ' ' + LogField(record.client) + ' ' + LogField(record.method) + ' ' +
                     LogField(record.target) + ' ' + std::to_string(record.status) + ' ' +
                     std::to_string(record.bytes) + ' ' + milliseconds + ' ' +
                     LogField(record.requestId);
  if (record.cancelled) line += " cancelled";
  if (record.unsent) line += " unsent";
  return line;
}

std::string LogField(std::string_view text) {
  if (text.empty()) return "-";
  std::string field;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || byte == '%' || byte == '"' || byte == '\\') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      field += escaped;
    } else {
      field += c;
    }
  }
  return field;
}

std::string Rfc3339(std::chrono::system_clock::time_point when) {
  const auto since = when.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
  return text;
}

}  // namespace quorvex::webhost
