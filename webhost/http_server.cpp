#include "webhost/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/output_formats.h"
#include "client/resize_driver.h"
#include "webhost/access_log.h"
#include "webhost/answer_validators.h"
#include "webhost/host_metrics.h"
#include "webhost/http_date.h"
#include "webhost/image_page.h"
#include "webhost/library_answers.h"
#include "webhost/memory_budget.h"
#include "webhost/page_response.h"
#include "webhost/request_control.h"
#include "webhost/request_id.h"
#include "webhost/request_query.h"
#include "webhost/request_signature.h"
#include "webhost/result_plan.h"
#include "webhost/root_files.h"
#include "webhost/source_header.h"
#include "webhost/worker_pool.h"

namespace quorvex::webhost {

namespace {

using Clock = std::chrono::steady_clock;

// Inactivity allowed on a connection before the library closes it.
constexpr unsigned kConnectionTimeoutSeconds = 30;
// All connections at once: far more than the per-address limit, so that a few addresses cannot
// take every slot (the process's descriptor limit is raised to match).
constexpr unsigned kConnectionLimit = 4096;
// Room for a request's head; a longer one is refused by the library.
constexpr size_t kConnectionMemory = 64 * 1024;
// How long a stop waits for the requests in flight.
constexpr auto kStopGrace = std::chrono::seconds(60);
// How often slow connections are looked for.
constexpr auto kWatchInterval = std::chrono::milliseconds(200);
// The start of an upload that is not held to the minimum rate yet.
constexpr auto kBodyGrace = std::chrono::seconds(2);

std::chrono::duration<double> Seconds(double seconds) {
  return std::chrono::duration<double>(seconds);
}

// One client connection, from accept to close, as the slow-client watcher sees it.
struct Connection {
  int fd = -1;
  enum class Phase { Head, Body, Running } phase = Phase::Head;
  Clock::time_point since = Clock::now();  // of the phase
  uint64_t bodyBytes = 0;
  bool cut = false;
  std::string target;       // of the request being read, exactly as received
  bool targetLost = false;  // no memory to keep the target of the request being read
  std::string address;      // the peer's
};

// The peer's address as text: "192.0.2.1", "2001:db8::1".
std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr) return {};
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  return text;
}

struct Request {
  Request(std::string target, Connection* from) : raw(std::move(target)), connection(from) {}
  enum class Phase { Body, Running, Answered } phase = Phase::Body;
  Clock::time_point start = Clock::now();
  std::chrono::system_clock::time_point arrived = std::chrono::system_clock::now();
  std::string raw;                 // the target as received
  std::string id;                  // echoed as X-Request-Id
  std::string_view kind = "none";  // for the metrics: a static text
  std::string allowOrigin;         // Access-Control-Allow-Origin, when the origin may read
  std::string method;
  Connection* connection;
  ImagePage page;
  std::optional<Validators> validators;  // of a GET or HEAD of a file
  std::optional<PageAnswer> early;       // given before any page runs
  std::mutex mutex;                      // orders the worker's resume after the suspend
  std::optional<PageAnswer> answer;
  unsigned status = 0;
  size_t bytes = 0;
  bool varyAccept = false;  // the format was chosen by the Accept header
  bool uploadLost = false;  // no memory for the upload: the rest is read and dropped, then a 500
};

// Every value of a request header, in the order received.
std::vector<std::string> HeaderValues(MHD_Connection* connection, const char* name) {
  struct Search {
    const char* name;
    std::vector<std::string> values;
  } search{name, {}};
  // The library's iteration has no filter by name, so every header is looked at.
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* found, enum MHD_ValueKind, const char* key, const char* value) -> enum MHD_Result {
        auto* search = static_cast<Search*>(found);
        if (key != nullptr && strcasecmp(key, search->name) == 0)
          search->values.emplace_back(value != nullptr ? value : "");
        return MHD_YES;
      },
      &search);
  return std::move(search.values);
}

// A header sent once or more as one list, as HTTP allows for list headers; nothing when absent.
std::optional<std::string> JoinedHeader(MHD_Connection* connection, const char* name) {
  const std::vector<std::string> values = HeaderValues(connection, name);
  if (values.empty()) return std::nullopt;
  std::string list = values.front();
  for (size_t i = 1; i < values.size(); ++i) list += ", " + values[i];
  return list;
}

// The declared body length: nothing without one; error when it is malformed, or declared twice
// differently.
std::optional<uint64_t> DeclaredLength(MHD_Connection* connection, bool* error) {
  *error = false;
  std::optional<uint64_t> length;
  for (const std::string& text : HeaderValues(connection, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        (length && *length != value)) {
      *error = true;
      return std::nullopt;
    }
    length = value;
  }
  return length;
}

// The answer to a conditional request whose copy is current: the freshness a full answer would
// carry (the page marks its picture as expiring at once), no body; the validators go with it.
PageAnswer NotModifiedAnswer(unsigned maxAge) {
  PageAnswer answer;
  answer.status = 304;
  const std::time_t now = std::time(nullptr);
  answer.headers.emplace_back("Date", HttpDate(now));
  AddFreshness(0L, maxAge, now, &answer.headers);
  return answer;
}

}  // namespace

struct HttpServer::State {
  explicit State(const ServeOptions& serve)
      : options(serve),
        root(serve.root),
        module(ReadModuleVersion(client::ModulePath())),
        budget(serve.maxMemory),
        log(serve.accessLog, serve.jsonLog ? AccessLog::Format::Json : AccessLog::Format::Text) {
    if (!serve.keyFile.empty())
      keys = std::make_shared<const SigningKeys>(SigningKeys::FromFile(serve.keyFile));
  }

  ServeOptions options;
  RootFiles root;
  ModuleVersion module;
  MemoryBudget budget;
  AnswerLengths lengths;
  AccessLog log;
  HostMetrics metrics;
  std::mutex keysMutex;
  std::shared_ptr<const SigningKeys> keys;
  std::unique_ptr<WorkerPool> pool;
  std::vector<MHD_Daemon*> daemons;    // one for each address listened on
  std::vector<std::string> addresses;  // "HOST:PORT" of each
  std::atomic<int> inFlight{0};
  std::atomic<bool> stopping{false};

  std::mutex connectionsMutex;
  std::map<Connection*, std::unique_ptr<Connection>> connections;
  std::mutex watchMutex;
  std::condition_variable watchWake;
  bool watchStop = false;
  std::thread watcher;

  std::shared_ptr<const SigningKeys> Keys() {
    std::lock_guard<std::mutex> lock(keysMutex);
    return keys;
  }

  void SetPhase(Connection* connection, Connection::Phase phase) {
    if (connection == nullptr) return;
    std::lock_guard<std::mutex> lock(connectionsMutex);
    connection->phase = phase;
    connection->since = Clock::now();
    connection->bodyBytes = 0;
  }

  // Closes (by shutting its socket down, which the polling thread then sees) every connection
  // whose head has taken longer than allowed, or whose upload has fallen below the rate.
  void Watch() {
    std::unique_lock<std::mutex> lock(watchMutex);
    while (!watchWake.wait_for(lock, kWatchInterval, [this] { return watchStop; })) {
      const Clock::time_point now = Clock::now();
      std::lock_guard<std::mutex> held(connectionsMutex);
      for (auto& [key, connection] : connections) {
        const auto elapsed = std::chrono::duration<double>(now - connection->since);
        const bool slowHead = connection->phase == Connection::Phase::Head &&
                              elapsed > Seconds(options.headTimeoutSeconds);
        const bool slowBody =
            connection->phase == Connection::Phase::Body && elapsed > kBodyGrace &&
            static_cast<double>(connection->bodyBytes) < options.minBodyRate * elapsed.count();
        if ((slowHead || slowBody) && !connection->cut) {
          connection->cut = true;
          shutdown(connection->fd, SHUT_RDWR);
        }
      }
    }
  }

  void Opened(MHD_Connection* handle, void** socketContext) {
    auto connection = std::make_unique<Connection>();
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(handle, MHD_CONNECTION_INFO_CONNECTION_FD);
    connection->fd = info != nullptr ? info->connect_fd : -1;
    const MHD_ConnectionInfo* peer =
        MHD_get_connection_info(handle, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    connection->address = AddressText(peer != nullptr ? peer->client_addr : nullptr);
    Connection* kept = connection.get();
    std::lock_guard<std::mutex> lock(connectionsMutex);
    connections.emplace(kept, std::move(connection));
    *socketContext = kept;
  }

  void Closed(void** socketContext) {
    std::lock_guard<std::mutex> lock(connectionsMutex);
    connections.erase(static_cast<Connection*>(*socketContext));
    *socketContext = nullptr;
  }

  HostLoad Load() {
    const WorkerPool::Load workers = pool->load();
    HostLoad load;
    load.inFlight = inFlight;
    load.queued = workers.queued;
    load.busyWorkers = workers.busy;
    load.workers = workers.workers;
    load.memoryReserved = budget.held();
    load.memoryLimit = budget.limit();
    return load;
  }

  // What Access-Control-Allow-Origin says to a page of origin: the origin itself when --cors
  // names it, "*" when --cors allows any; nothing otherwise.
  std::string AllowedOrigin(const char* origin) const {
    for (const std::string& allowed : options.corsOrigins) {
      if (allowed == "*") return allowed;
      if (origin != nullptr && allowed == origin) return allowed;
    }
    return {};
  }

  // Whether the answer depends on the request's Origin: when --cors names origins.
  bool VariesByOrigin() const {
    return !options.corsOrigins.empty() &&
           std::find(options.corsOrigins.begin(), options.corsOrigins.end(), "*") ==
               options.corsOrigins.end();
  }

  // The answer to a CORS preflight: which methods and request headers a page of an allowed
  // origin may use, for 10 minutes.
  PageAnswer Preflight(const Request& request) const {
    PageAnswer answer;
    answer.status = 204;
    answer.headers.emplace_back("Allow", "GET, HEAD, POST, OPTIONS");
    if (!request.allowOrigin.empty()) {
      answer.headers.emplace_back("Access-Control-Allow-Methods", "GET, HEAD, POST");
      answer.headers.emplace_back("Access-Control-Allow-Headers",
                                  "Content-Type, If-None-Match, If-Modified-Since, X-Request-Id");
      answer.headers.emplace_back("Access-Control-Max-Age", "600");
    }
    return answer;
  }

  // Whether the host can do its work: every worker making progress (each job is cancelled at
  // its deadline, so one busy for far longer is stuck), the registry naming the class pages
  // create, and the root still there to be read. 503 with what is wrong otherwise.
  PageAnswer Readiness() {
    std::string wrong;
    if (pool->AnyStalled(
            std::chrono::duration_cast<Clock::duration>(Seconds(2 * options.timeoutSeconds + 5))))
      wrong += "a worker has stopped making progress\n";
    static const std::u16string progId(client::kResizeProgId,
                                       client::kResizeProgId + sizeof client::kResizeProgId - 1);
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(progId.c_str(), &clsid)))
      wrong += "the registry does not name " + std::string(client::kResizeProgId) + "\n";
    if (!root.Readable()) wrong += "the root cannot be read\n";
    if (wrong.empty()) return TextAnswer(200, "ready");
    wrong.pop_back();
    return TextAnswer(503, wrong);
  }

  // The answer that ends a request before any page runs, if there is one.
  std::optional<PageAnswer> Admit(MHD_Connection* connection, Request& request) {
    // HEAD is answered as GET; the library leaves the body out.
    const bool get =
        request.method == MHD_HTTP_METHOD_GET || request.method == MHD_HTTP_METHOD_HEAD;
    if (request.method == MHD_HTTP_METHOD_OPTIONS && !options.corsOrigins.empty())
      return Preflight(request);
    if (!get && request.method != MHD_HTTP_METHOD_POST) {
      PageAnswer answer = TextAnswer(405, "method not allowed");
      answer.headers.emplace_back(
          "Allow", options.corsOrigins.empty() ? "GET, HEAD, POST" : "GET, HEAD, POST, OPTIONS");
      return answer;
    }
    std::string error;
    std::optional<RequestTarget> target = ParseTarget(request.raw, &error);
    if (!target) return TextAnswer(400, error);
    if (get && target->path == "/healthz") {
      request.kind = "healthz";
      return TextAnswer(200, "ok");
    }
    if (get && target->path == "/readyz") {
      request.kind = "readyz";
      return Readiness();
    }
    if (get && target->path == "/metrics") {
      request.kind = "metrics";
      PageAnswer answer = TextAnswer(200, metrics.Render(Load()));
      answer.headers.front().second = "text/plain; version=0.0.4; charset=utf-8";
      return answer;
    }
    if (OperationCount(target->items) > options.maxOps)
      return TextAnswer(414, "more than " + std::to_string(options.maxOps) + " operations");
    if (std::shared_ptr<const SigningKeys> signing = Keys()) {
      const std::optional<SignedTarget> signedTarget = SplitSignature(request.raw);
      const auto signatures =
          std::count_if(target->items.begin(), target->items.end(),
                        [](const QueryItem& item) { return item.name == kSignatureItem; });
      if (!signedTarget || signatures != 1 || target->items.back().name != kSignatureItem ||
          !signing->Verify(signedTarget->text, signedTarget->signature))
        return TextAnswer(403, "missing or wrong signature");
    }
    for (const QueryItem& item : target->items) {
      if (item.name != kExpiresItem) continue;
      int64_t expires = 0;
      const char* last = item.value.data() + item.value.size();
      const auto [end, ec] = std::from_chars(item.value.data(), last, expires);
      if (item.value.empty() || ec != std::errc() || end != last)
        return TextAnswer(400, "'" + item.value + "' is not a valid value for expires");
      if (std::time(nullptr) > expires) return TextAnswer(403, "signature expired");
    }
    request.page.steps = ParseOperations(target->items, &error);
    request.kind = OperationKind(request.page.steps);
    if (!error.empty()) return TextAnswer(400, error);
    const char* accept =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
    request.varyAccept =
        NegotiateFormat(request.page.steps, accept != nullptr ? accept : "", options.negotiate);
    request.page.maxPixels = options.maxPixels;
    request.page.maxAge = options.maxAge;
    if (get) {
      SourceVersion version;
      std::optional<FileHandle> file = root.Open(target->path, options.maxSourceBytes, &version);
      if (!file) return TextAnswer(404, "not found");
      request.page.file = std::move(*file);
      request.page.sourceBytes = version.size;
      request.validators = MakeValidators(version, target->items, FormatOf(request.page.steps),
                                          module, std::time(nullptr));
      // The same file, operations, format and module make the same bytes: a client holding
      // them is told so without a decode.
      if (NotModified(*request.validators, JoinedHeader(connection, "If-None-Match"),
                      JoinedHeader(connection, "If-Modified-Since")))
        return NotModifiedAnswer(options.maxAge);
      return Weigh(request.page,
                   JpegLoadSize(request.page.file.get(), LoadsUpright(request.page.steps)));
    }
    if (target->path != "/") return TextAnswer(404, "not found");
    bool malformed = false;
    const std::optional<uint64_t> length = DeclaredLength(connection, &malformed);
    if (malformed) return TextAnswer(400, "malformed or conflicting Content-Length");
    if (length && *length > options.maxUpload)
      return TextAnswer(413, "upload larger than " + std::to_string(options.maxUpload) + " bytes");
    // An upload is weighed once it is in.
    return std::nullopt;
  }

  // The refusal of a request whose results cannot be made or written, or whose transforms need
  // more memory than the whole budget; otherwise the page learns what its transforms need.
  std::optional<PageAnswer> Weigh(ImagePage& page, std::optional<PictureSize> source) {
    const client::OutputFormat* format = client::FindOutputFormat(FormatOf(page.steps));
    const ResultPlan plan =
        PlanResults(source, page.steps, options.maxPixels,
                    format != nullptr ? *format : client::OutputFormats().front());
    if (!plan.refusal.empty()) return TextAnswer(400, plan.refusal);
    if (plan.transformBytes > budget.limit())
      return TextAnswer(400, "the transforms need " + std::to_string(plan.transformBytes) +
                                 " bytes of memory, more than the host's " +
                                 std::to_string(budget.limit()));
    page.transformBytes = plan.transformBytes;
    return std::nullopt;
  }

  // A 304 has no body, but the library states the length of the response it is given. Given
  // one as long as the full answer under the same tag, it states the length a 304 may carry;
  // when that is not known here, it is given one of unknown length, and says none (and closes
  // the connection, its only way to end an answer of unknown length without chunks).
  MHD_Response* NotModifiedResponse(const Request& request) {
    const std::optional<uint64_t> length =
        request.validators ? lengths.Find(request.validators->etag) : std::nullopt;
    MHD_Response* response = MHD_create_response_from_callback(
        length.value_or(MHD_SIZE_UNKNOWN), 1,
        [](void*, uint64_t, char*, size_t) -> ssize_t { return MHD_CONTENT_READER_END_OF_STREAM; },
        nullptr, nullptr);
    if (response != nullptr && !length)
      MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
    return response;
  }

  // Throws std::bad_alloc when the answer cannot be made; the caller answers 500 then.
  enum MHD_Result Send(MHD_Connection* connection, Request& request, const PageAnswer& answer) {
    MHD_Response* response =
        answer.status == 304
            ? NotModifiedResponse(request)
            : MHD_create_response_from_buffer(
                  answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) throw std::bad_alloc();
    try {
      if (request.validators && answer.status == 200)
        lengths.Remember(request.validators->etag, answer.body.size());
      for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
      if (request.validators && (answer.status == 200 || answer.status == 304)) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, request.validators->etag.c_str());
        MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED,
                                HttpDate(request.validators->lastModified).c_str());
      }
    } catch (...) {
      MHD_destroy_response(response);
      throw;
    }
    MHD_add_response_header(response, "X-Request-Id", request.id.c_str());
    if (!request.allowOrigin.empty()) {
      MHD_add_response_header(response, "Access-Control-Allow-Origin", request.allowOrigin.c_str());
      MHD_add_response_header(response, "Access-Control-Expose-Headers", "ETag, X-Request-Id");
    }
    if (VariesByOrigin()) MHD_add_response_header(response, "Vary", "Origin");
    if (request.varyAccept) MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, "Accept");
    // A stopping host lets no connection ask again.
    if (stopping) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    request.phase = Request::Phase::Answered;
    request.status = answer.status;
    // The library sends no body in answer to HEAD.
    request.bytes = request.method == MHD_HTTP_METHOD_HEAD ? 0 : answer.body.size();
    const HostAnswerScope own;
    const enum MHD_Result result = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return result;
  }

  // The body is complete: the page goes to a worker, and the connection waits suspended.
  enum MHD_Result Run(MHD_Connection* connection, Request& request) {
    if (request.page.sourceBytes == 0) request.page.sourceBytes = request.page.upload.size();
    if (request.method == MHD_HTTP_METHOD_POST) {
      const bool upright = LoadsUpright(request.page.steps);
      if (std::optional<PageAnswer> refusal =
              Weigh(request.page, JpegLoadSize(request.page.upload, upright)))
        return Send(connection, request, *refusal);
    }
    std::unique_lock<std::mutex> lock(request.mutex);
    request.phase = Request::Phase::Running;
    SetPhase(request.connection, Connection::Phase::Running);
    const int fd = request.connection != nullptr ? request.connection->fd : -1;
    const Clock::time_point deadline = request.start + std::chrono::duration_cast<Clock::duration>(
                                                           Seconds(options.timeoutSeconds));
    const bool accepted = pool->TrySubmit([this, &request, connection, fd, deadline] {
      PageAnswer answer;
      try {
        RequestControl control(deadline, fd, budget);
        answer = RunImagePage(request.page, control);
        metrics.Decoded(control.decodedPixels());
      } catch (const std::exception&) {
        // Out of memory even for the error's text: a bare 500, which needs none.
        answer = PageAnswer{};
        answer.status = 500;
      }
      {
        std::lock_guard<std::mutex> done(request.mutex);
        request.answer = std::move(answer);
      }
      // Resumed after the unlock: from the resume on, the library may end the request (its
      // client gone) and free it, mutex and all.
      MHD_resume_connection(connection);
    });
    if (!accepted) {
      lock.unlock();
      PageAnswer busy = TextAnswer(503, "all workers are busy");
      busy.headers.emplace_back("Retry-After", "1");
      return Send(connection, request, busy);
    }
    MHD_suspend_connection(connection);
    return MHD_YES;
  }

  enum MHD_Result Access(MHD_Connection* connection, const char* method, const char* uploadData,
                         size_t* uploadSize, void** slot) {
    auto* request = static_cast<Request*>(*slot);
    if (request == nullptr) {
      // The head is complete.
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
      auto* from = info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
      // Without its connection's record (no memory when it opened) or its target, a request
      // cannot be served: it is answered 500 (and such a connection closed).
      if (from == nullptr || from->targetLost) throw std::bad_alloc();
      auto fresh = std::make_unique<Request>(from != nullptr ? from->target : "", from);
      fresh->method = method;
      const char* sentId = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Request-Id");
      fresh->id = RequestId(sentId != nullptr ? std::optional<std::string>(sentId) : std::nullopt);
      fresh->allowOrigin =
          AllowedOrigin(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Origin"));
      request = fresh.get();
      *slot = fresh.release();  // freed when the request completes
      SetPhase(from, Connection::Phase::Body);
      ++inFlight;
      if (std::optional<PageAnswer> answer = Admit(connection, *request)) {
        // An upload not wanted is not read: the answer goes at once, and the connection closes.
        if (request->method == MHD_HTTP_METHOD_POST) return Send(connection, *request, *answer);
        // Any other request is answered once its (empty) body is through, so that its
        // connection stays open for the next one.
        request->early = std::move(answer);
      }
      return MHD_YES;
    }
    switch (request->phase) {
      case Request::Phase::Body:
        if (request->early) {
          if (*uploadSize == 0) return Send(connection, *request, *request->early);
          *uploadSize = 0;
          return MHD_YES;
        }
        if (*uploadSize != 0) {
          // A body without a declared length that runs over the limit: the connection is
          // closed, since no answer can be queued while the upload is being read.
          if (request->page.upload.size() + *uploadSize > options.maxUpload) {
            request->status = 413;
            return MHD_NO;
          }
          if (!request->uploadLost) {
            // No answer can be queued while the upload is read: a failure waits for its end.
            try {
              request->page.upload.append(uploadData, *uploadSize);
            } catch (const std::bad_alloc&) {
              request->uploadLost = true;
              std::string().swap(request->page.upload);
            }
          }
          if (request->connection != nullptr) {
            std::lock_guard<std::mutex> lock(connectionsMutex);
            request->connection->bodyBytes += *uploadSize;
          }
          *uploadSize = 0;
          return MHD_YES;
        }
        if (request->uploadLost) return OutOfMemory(connection, slot);
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

  void Completed(void** slot, enum MHD_RequestTerminationCode how) {
    const std::unique_ptr<Request> request(static_cast<Request*>(*slot));
    *slot = nullptr;
    if (!request) return;
    // The connection waits for the head of its next request from now.
    SetPhase(request->connection, Connection::Phase::Head);
    AccessRecord record;
    try {
      Record(*request, how, &record);
      // Counted before it is logged, and no longer in flight: a request in the log is in the
      // metrics.
      metrics.Finished(record.unsent ? 0 : request->status, request->kind,
                       record.milliseconds / 1000, record.unsent ? 0 : request->bytes);
    } catch (const std::exception&) {
      // No memory for its record: the request goes unlogged and uncounted.
      --inFlight;
      return;
    }
    --inFlight;
    try {
      log.Write(record);
    } catch (const std::exception&) {
    }
  }

  static void Record(const Request& request, enum MHD_RequestTerminationCode how,
                     AccessRecord* record) {
    record->arrived = request.arrived;
    record->client = request.connection != nullptr ? request.connection->address : "";
    record->method = request.method;
    record->target = request.raw;
    record->status = request.status;
    record->bytes = request.bytes;
    record->milliseconds =
        std::chrono::duration<double, std::milli>(Clock::now() - request.start).count();
    record->requestId = request.id;
    record->cancelled = request.status == 504;
    record->unsent = how != MHD_REQUEST_TERMINATED_COMPLETED_OK;
  }

  // The answer when memory ran out while a request was read or started: a 500 of fixed text,
  // which the library can still send if it has the memory; otherwise it closes the connection.
  enum MHD_Result OutOfMemory(MHD_Connection* connection, void** slot) {
    static const char kText[] = "out of memory";
    auto* request = static_cast<Request*>(*slot);
    if (request != nullptr) {
      if (request->phase == Request::Phase::Answered) return MHD_NO;
      request->phase = Request::Phase::Answered;
      request->status = 500;
      request->bytes = sizeof kText - 1;
    }
    MHD_Response* response = MHD_create_response_from_buffer(
        sizeof kText - 1, const_cast<char*>(kText), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info == nullptr || info->socket_context == nullptr)
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const HostAnswerScope own;
    const enum MHD_Result result =
        MHD_queue_response(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, response);
    MHD_destroy_response(response);
    return result;
  }
};

namespace {

enum MHD_Result AccessCallback(void* self, MHD_Connection* connection, const char*,
                               const char* method, const char*, const char* uploadData,
                               size_t* uploadSize, void** slot) {
  auto* state = static_cast<HttpServer::State*>(self);
  // No exception may reach the library: memory that runs out becomes a 500.
  try {
    return state->Access(connection, method, uploadData, uploadSize, slot);
  } catch (const std::exception&) {
    return state->OutOfMemory(connection, slot);
  }
}

// Called once the request line is read: the target exactly as received, before the library
// undoes any of its encoding, is kept for the request.
void* TargetCallback(void*, const char* uri, MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (uri == nullptr || info == nullptr || info->socket_context == nullptr) return nullptr;
  auto* from = static_cast<Connection*>(info->socket_context);
  try {
    from->target = uri;
    from->targetLost = false;
  } catch (const std::exception&) {
    from->targetLost = true;  // the request is answered 500 once its head is read
  }
  // The host reads the query from its copy alone. The library would next split it into records
  // in the connection's memory pool, where a query of a thousand items runs the pool dry, and
  // 0.9.75 then leaves the connection hanging unanswered. It has no option to leave the query
  // whole, and no pool size prevents this (the head's buffer grows into the whole pool), so the
  // query is ended here, in the library's own read buffer, which it writes into itself next.
  if (char* query = std::strchr(const_cast<char*>(uri), '?')) query[1] = '\0';
  return nullptr;
}

void CompletedCallback(void* self, MHD_Connection*, void** slot,
                       enum MHD_RequestTerminationCode how) {
  static_cast<HttpServer::State*>(self)->Completed(slot, how);
}

void ConnectionCallback(void* self, MHD_Connection* connection, void** socketContext,
                        enum MHD_ConnectionNotificationCode code) {
  auto* state = static_cast<HttpServer::State*>(self);
  if (code != MHD_CONNECTION_NOTIFY_STARTED) return state->Closed(socketContext);
  try {
    state->Opened(connection, socketContext);
  } catch (const std::exception&) {
    // Without memory to track it, the connection is served but not watched for slowness.
  }
}

// Every address a --listen names: the literal, or each address its name resolves to, once.
// Addresses of a family the kernel lacks (IPv6 switched off) are left out.
std::vector<sockaddr_storage> Resolve(const ListenAddress& listen) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(listen.host.c_str(), "0", &hints, &found);
  if (error != 0)
    throw std::runtime_error("cannot listen on " + listen.host + ": " + gai_strerror(error));
  std::vector<sockaddr_storage> addresses;
  std::vector<std::string> seen;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    const int probe = socket(entry->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) continue;
    close(probe);
    sockaddr_storage address{};
    std::memcpy(&address, entry->ai_addr, std::min<size_t>(entry->ai_addrlen, sizeof address));
    const std::string text = AddressText(reinterpret_cast<const sockaddr*>(&address));
    if (std::find(seen.begin(), seen.end(), text) != seen.end()) continue;
    seen.push_back(text);
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  if (addresses.empty()) throw std::runtime_error("cannot listen on " + listen.host);
  return addresses;
}

void SetPort(sockaddr_storage* address, uint16_t port) {
  if (address->ss_family == AF_INET)
    reinterpret_cast<sockaddr_in*>(address)->sin_port = htons(port);
  else
    reinterpret_cast<sockaddr_in6*>(address)->sin6_port = htons(port);
}

// "192.0.2.1:8080", "[2001:db8::1]:8080".
std::string AddressText(const sockaddr_storage* address, uint16_t port) {
  const std::string host = AddressText(reinterpret_cast<const sockaddr*>(address));
  return (address->ss_family == AF_INET6 ? "[" + host + "]" : host) + ':' + std::to_string(port);
}

MHD_Daemon* StartDaemon(const sockaddr_storage& address, HttpServer::State* state) {
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_ITC | MHD_USE_ERROR_LOG;
  // An IPv6 socket takes IPv6 only: IPv4 clients reach the IPv4 addresses listened on.
  if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  const ServeOptions& options = state->options;
  return MHD_start_daemon(
      flags, 0, nullptr, nullptr, &AccessCallback, state, MHD_OPTION_SOCK_ADDR, &address,
      MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT,
      kConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.maxConnsPerIp,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK,
      &TargetCallback, state, MHD_OPTION_NOTIFY_COMPLETED, &CompletedCallback, state,
      MHD_OPTION_NOTIFY_CONNECTION, &ConnectionCallback, state, MHD_OPTION_END);
}

// Every connection needs a descriptor: the soft limit goes up to what the connection limit asks
// for, as far as the hard limit allows.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = kConnectionLimit + 256;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

HttpServer::HttpServer(const ServeOptions& options) : state_(std::make_unique<State>(options)) {
  const unsigned workers =
      options.workers != 0 ? options.workers : std::max(1u, std::thread::hardware_concurrency());
  state_->pool = std::make_unique<WorkerPool>(workers, options.queue);
  RaiseDescriptorLimit();
  try {
    for (const ListenAddress& listen : options.listen) {
      uint16_t port = listen.port;
      for (sockaddr_storage& address : Resolve(listen)) {
        // Port 0 picks one free port for the first address of a name; its other addresses
        // take the same.
        SetPort(&address, port);
        MHD_Daemon* daemon = StartDaemon(address, state_.get());
        if (daemon == nullptr)
          throw std::runtime_error("cannot listen on " + AddressText(&address, port));
        state_->daemons.push_back(daemon);
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        if (info != nullptr) port = info->port;
        state_->addresses.push_back(AddressText(&address, port));
      }
    }
  } catch (...) {
    for (MHD_Daemon* daemon : state_->daemons) MHD_stop_daemon(daemon);
    state_->daemons.clear();
    throw;
  }
  state_->watcher = std::thread([state = state_.get()] { state->Watch(); });
}

HttpServer::~HttpServer() {
  Stop();
}

const std::vector<std::string>& HttpServer::addresses() const {
  return state_->addresses;
}

void HttpServer::Reload() {
  state_->log.Reopen();
  if (state_->options.keyFile.empty()) return;
  try {
    auto keys = std::make_shared<const SigningKeys>(SigningKeys::FromFile(state_->options.keyFile));
    std::lock_guard<std::mutex> lock(state_->keysMutex);
    state_->keys = std::move(keys);
  } catch (const std::exception& e) {
    state_->log.Note(std::string("keeping the old keys: ") + e.what());
  }
}

void HttpServer::Stop() {
  if (state_->daemons.empty()) return;
  state_->stopping = true;
  // The library stops accepting but leaves the socket open, where the kernel would go on
  // accepting connections nobody answers: closing it refuses them at once.
  for (MHD_Daemon* daemon : state_->daemons) {
    const MHD_socket listening = MHD_quiesce_daemon(daemon);
    if (listening != MHD_INVALID_SOCKET) close(listening);
  }
  const Clock::time_point deadline = Clock::now() + kStopGrace;
  while (state_->inFlight > 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // Workers finish first: each resumes its connection, which needs the daemon running.
  state_->pool.reset();
  for (MHD_Daemon* daemon : state_->daemons) MHD_stop_daemon(daemon);
  state_->daemons.clear();
  {
    std::lock_guard<std::mutex> lock(state_->watchMutex);
    state_->watchStop = true;
  }
  state_->watchWake.notify_all();
  state_->watcher.join();
}

}  // namespace quorvex::webhost
