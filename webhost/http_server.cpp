#include "webhost/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "webhost/image_page.h"
#include "webhost/request_query.h"
#include "webhost/request_signature.h"
#include "webhost/root_files.h"
#include "webhost/worker_pool.h"

namespace quorvex::webhost {

namespace {

using Clock = std::chrono::steady_clock;

// Inactivity allowed on a connection before it is closed: the guard against slow clients.
constexpr unsigned kConnectionTimeoutSeconds = 30;
constexpr unsigned kConnectionLimit = 512;
// Room for a request's header lines; longer headers are refused by the library.
constexpr size_t kConnectionMemory = 64 * 1024;
// How long a stop waits for the requests in flight.
constexpr auto kStopGrace = std::chrono::seconds(60);

struct Request {
  enum class Phase { Body, Running, Answered };
  Phase phase = Phase::Body;
  Clock::time_point start = Clock::now();
  std::string method;
  std::string path;
  ImagePage page;
  std::mutex mutex;  // orders the worker's resume after the suspend
  std::optional<PageAnswer> answer;
  unsigned status = 0;
  size_t bytes = 0;
};

enum MHD_Result CollectItem(void* items, enum MHD_ValueKind, const char* name, const char* value) {
  QueryItem item;
  item.name = name != nullptr ? name : "";
  item.hasValue = value != nullptr;
  if (value != nullptr) item.value = value;
  static_cast<std::vector<QueryItem>*>(items)->push_back(std::move(item));
  return MHD_YES;
}

// A decoded path as one log field: control characters and blanks are written %XX, so that a
// request cannot forge or split log lines.
std::string LogField(const std::string& text) {
  std::string field;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || byte == '%') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      field += escaped;
    } else {
      field += c;
    }
  }
  return field;
}

}  // namespace

struct HttpServer::State {
  explicit State(const ServeOptions& serve) : options(serve), root(serve.root) {
    if (!serve.keyFile.empty()) key = SigningKey::FromFile(serve.keyFile);
  }

  ServeOptions options;
  RootFiles root;
  std::optional<SigningKey> key;
  std::unique_ptr<WorkerPool> pool;
  MHD_Daemon* daemon = nullptr;
  uint16_t port = 0;
  std::atomic<int> inFlight{0};

  // The answer that ends a request before any page runs, if there is one.
  std::optional<PageAnswer> Admit(MHD_Connection* connection, Request& request) {
    const bool get = request.method == MHD_HTTP_METHOD_GET;
    if (!get && request.method != MHD_HTTP_METHOD_POST) {
      PageAnswer answer = TextAnswer(405, "method not allowed");
      answer.headers.emplace_back("Allow", "GET, POST");
      return answer;
    }
    if (get && request.path == "/healthz") return TextAnswer(200, "ok");
    std::vector<QueryItem> items;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CollectItem, &items);
    if (key) {
      const auto sig = std::find_if(items.begin(), items.end(), [](const QueryItem& item) {
        return item.name == kSignatureItem;
      });
      if (sig == items.end() || !key->Verify(SignedText(request.path, items), sig->value))
        return TextAnswer(403, "missing or wrong signature");
    }
    std::string error;
    request.page.steps = ParseOperations(items, &error);
    if (!error.empty()) return TextAnswer(400, error);
    request.page.maxPixels = options.maxPixels;
    if (get) {
      std::optional<std::string> file = root.Resolve(request.path);
      if (!file) return TextAnswer(404, "not found");
      request.page.file = std::move(*file);
      return std::nullopt;
    }
    if (request.path != "/") return TextAnswer(404, "not found");
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > options.maxUpload)
      return TextAnswer(413, "upload larger than " + std::to_string(options.maxUpload) + " bytes");
    return std::nullopt;
  }

  enum MHD_Result Send(MHD_Connection* connection, Request& request, const PageAnswer& answer) {
    request.phase = Request::Phase::Answered;
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    for (const auto& [name, value] : answer.headers)
      MHD_add_response_header(response, name.c_str(), value.c_str());
    request.status = answer.status;
    request.bytes = answer.body.size();
    const enum MHD_Result result = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return result;
  }

  // The body is complete: the page goes to a worker, and the connection waits suspended.
  enum MHD_Result Run(MHD_Connection* connection, Request& request) {
    std::unique_lock<std::mutex> lock(request.mutex);
    request.phase = Request::Phase::Running;
    const bool accepted = pool->TrySubmit([&request, connection] {
      PageAnswer answer = RunImagePage(request.page);
      std::lock_guard<std::mutex> done(request.mutex);
      request.answer = std::move(answer);
      MHD_resume_connection(connection);
    });
    if (!accepted) {
      lock.unlock();
      return Send(connection, request, TextAnswer(503, "all workers are busy"));
    }
    MHD_suspend_connection(connection);
    return MHD_YES;
  }

  enum MHD_Result Access(MHD_Connection* connection, const char* url, const char* method,
                         const char* uploadData, size_t* uploadSize, void** slot) {
    auto* request = static_cast<Request*>(*slot);
    if (request == nullptr) {
      auto fresh = std::make_unique<Request>();
      fresh->method = method;
      fresh->path = url;
      request = fresh.get();
      *slot = fresh.release();  // freed when the request completes
      ++inFlight;
      if (std::optional<PageAnswer> answer = Admit(connection, *request))
        return Send(connection, *request, *answer);
      return MHD_YES;
    }
    switch (request->phase) {
      case Request::Phase::Body:
        if (*uploadSize != 0) {
          // A body without a declared length that runs over the limit: the connection is
          // closed, since no answer can be queued while the upload is being read.
          if (request->page.upload.size() + *uploadSize > options.maxUpload) {
            request->status = 413;
            return MHD_NO;
          }
          request->page.upload.append(uploadData, *uploadSize);
          *uploadSize = 0;
          return MHD_YES;
        }
        return Run(connection, *request);
      case Request::Phase::Running: {
        std::unique_lock<std::mutex> lock(request->mutex);
        if (!request->answer) return MHD_YES;
        const PageAnswer answer = std::move(*request->answer);
        lock.unlock();
        return Send(connection, *request, answer);
      }
      case Request::Phase::Answered:
        break;
    }
    return MHD_YES;
  }

  void Completed(void** slot) {
    const std::unique_ptr<Request> request(static_cast<Request*>(*slot));
    *slot = nullptr;
    if (!request) return;
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - request->start).count();
    std::fprintf(stderr, "%s %s %u %zu %.1f\n", request->method.c_str(),
                 LogField(request->path).c_str(), request->status, request->bytes, ms);
    --inFlight;
  }
};

namespace {

enum MHD_Result AccessCallback(void* self, MHD_Connection* connection, const char* url,
                               const char* method, const char*, const char* uploadData,
                               size_t* uploadSize, void** slot) {
  return static_cast<HttpServer::State*>(self)->Access(connection, url, method, uploadData,
                                                       uploadSize, slot);
}

void CompletedCallback(void* self, MHD_Connection*, void** slot, enum MHD_RequestTerminationCode) {
  static_cast<HttpServer::State*>(self)->Completed(slot);
}

}  // namespace

HttpServer::HttpServer(const ServeOptions& options) : state_(std::make_unique<State>(options)) {
  const unsigned workers =
      options.workers != 0 ? options.workers : std::max(1u, std::thread::hardware_concurrency());
  state_->pool = std::make_unique<WorkerPool>(workers, options.queue);

  sockaddr_storage address{};
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_ITC | MHD_USE_ERROR_LOG;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, options.host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(options.port);
  } else if (inet_pton(AF_INET6, options.host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(options.port);
    flags |= MHD_USE_IPv6;
  } else {
    throw std::runtime_error("cannot listen on " + options.host + ": not an IP address");
  }
  state_->daemon = MHD_start_daemon(
      flags, options.port, nullptr, nullptr, &AccessCallback, state_.get(), MHD_OPTION_SOCK_ADDR,
      &address, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
      MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &CompletedCallback, state_.get(),
      MHD_OPTION_END);
  if (state_->daemon == nullptr)
    throw std::runtime_error("cannot listen on " + options.host + ":" +
                             std::to_string(options.port));
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  state_->port = info != nullptr ? info->port : options.port;
}

HttpServer::~HttpServer() {
  Stop();
}

uint16_t HttpServer::port() const {
  return state_->port;
}

void HttpServer::Stop() {
  if (state_->daemon == nullptr) return;
  MHD_quiesce_daemon(state_->daemon);
  const Clock::time_point deadline = Clock::now() + kStopGrace;
  while (state_->inFlight > 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // Workers finish first: each resumes its connection, which needs the daemon running.
  state_->pool.reset();
  MHD_stop_daemon(state_->daemon);
  state_->daemon = nullptr;
}

}  // namespace quorvex::webhost
