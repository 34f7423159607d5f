// The web host under allocation faults, in this process over loopback: one request of each kind
// (a thumbnail, an upload, a 304 revalidation, the metrics) with the Nth allocation of the
// process failing. Every point ends in a whole answer, the expected one or an error (500, 503 or
// the object's own failure other than memory as 422), the connection stays usable unless the answer
// closed it, and the host answers its next request, which needs a worker.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/resize_driver.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/test_files.h"
#include "webhost/http_server.h"

namespace quorvex::faults {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;

// One answer read into a buffer made before the faults are armed: the client allocates nothing.
struct Exchange {
  int fd = -1;
  std::string request;
  std::vector<char> buffer = std::vector<char>(4 << 20);
  size_t size = 0;
  bool closed = false;  // the host closed the connection before a whole answer

  ~Exchange() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void Connect(uint16_t port) {
    Close();
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  const char* HeadEnd() const {
    const void* end = ::memmem(buffer.data(), size, "\r\n\r\n", 4);
    return end != nullptr ? static_cast<const char*>(end) + 4 : nullptr;
  }
  // Whether the answer so far is whole: its head, and the body its Content-Length states (a
  // 304 carries none, whatever length it states).
  bool Whole() const {
    const char* body = HeadEnd();
    if (body == nullptr) return false;
    if (Status() == 304) return true;
    const char* length = static_cast<const char*>(
        ::memmem(buffer.data(), static_cast<size_t>(body - buffer.data()), "Content-Length: ", 16));
    if (length == nullptr) return false;
    const size_t expected = std::strtoul(length + 16, nullptr, 10);
    return size - static_cast<size_t>(body - buffer.data()) >= expected;
  }
  int Status() const {
    return size >= 12 && std::memcmp(buffer.data(), "HTTP/1.1 ", 9) == 0
               ? std::atoi(buffer.data() + 9)
               : 0;
  }
  // Sends the request and reads its answer; no allocation on the way.
  void Run() {
    size = 0;
    closed = false;
    size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    while (!Whole() && size < buffer.size()) {
      pollfd wait{fd, POLLIN, 0};
      if (::poll(&wait, 1, 60000) <= 0) break;
      const ssize_t n = ::recv(fd, buffer.data() + size, buffer.size() - size, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      size += static_cast<size_t>(n);
    }
  }
  std::string Head() const {
    const char* end = HeadEnd();
    return end != nullptr ? std::string(buffer.data(), end) : std::string(buffer.data(), size);
  }
  std::string Body() const {
    const char* end = HeadEnd();
    return end != nullptr ? std::string(end, buffer.data() + size) : std::string();
  }
};

std::string Get(const std::string& target, const std::string& headers = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n";
}

class WebHostSweep : public ::testing::TestWithParam<Kind> {
 protected:
  static void SetUpTestSuite() {
    dir = new ScratchDirectory;
    std::filesystem::create_directories(dir->path() / "root");
    std::filesystem::copy_file(QUORVEX_SOURCE_DIR "/samples/two-wings.jpg",
                               dir->path() / "root" / "photo.jpg");
    setenv("QUORVEX_REGISTRY", dir->File("registry").c_str(), 1);
    setenv("QUORVEX_MODULE", QUORVEX_MODULE_PATH, 1);
    ASSERT_EQ(client::RunRegistration(true), S_OK);
    webhost::ServeOptions options;
    options.root = dir->File("root");
    options.listen = {{"127.0.0.1", 0}};
    options.workers = 1;
    options.accessLog = dir->File("access.log");
    server = new webhost::HttpServer(options);
    const std::string& address = server->addresses().front();
    port = static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  }
  static void TearDownTestSuite() {
    std::printf("web host sweeps: %ld points where the library dropped the connection\n", dropped);
    delete server;
    delete dir;
  }

  // The request's sweep: each point on a new connection, then the checks without faults.
  // objectMessages: the object's own failure texts for the load the request makes, which a 422
  // may carry besides "Out of memory", as the object's own sweeps allow.
  void SweepRequest(const std::string& name, const std::string& request, int expected,
                    std::vector<std::string> objectMessages = {}) {
    // The object's "Out of memory" may be a size it refuses. Memory that ran out in an allocation
    // (E_OUTOFMEMORY) or in the codec ("JPEG error #53") is a 503, never a 422.
    objectMessages.push_back("Out of memory");
    Exchange exchange;
    exchange.request = request;
    Sweep(GetParam(),
          {name, [&] { exchange.Connect(port); },
           [&] {
             exchange.Run();
             return exchange.Status() == expected && exchange.Whole() ? S_OK : E_FAIL;
           },
           [&](HRESULT, bool fired) {
             const int status = exchange.Status();
             const std::string head = exchange.Head();
             if (fired && exchange.closed && exchange.size == 0) {
               // The library's own allocation failed as it accepted the connection: it closes
               // it unanswered. The host must still answer the next one.
               ++dropped;
             } else {
               ASSERT_TRUE(exchange.Whole())
                   << "a whole answer, got " << exchange.size << " bytes:\n"
                   << head;
               if (!fired) {
                 EXPECT_EQ(status, expected) << head;
               } else if (status != expected) {
                 const std::string body = exchange.Body();
                 const bool objectFailure =
                     status == 422 && std::find(objectMessages.begin(), objectMessages.end(),
                                                body) != objectMessages.end();
                 EXPECT_TRUE(status == 500 || status == 503 || objectFailure) << head << body;
               }
             }
             // The connection goes on, unless the answer said it would not.
             if (exchange.Whole() && head.find("Connection: close") == std::string::npos) {
               exchange.request = Get("/healthz");
               exchange.Run();
               EXPECT_EQ(exchange.Status(), 200) << "the same connection, next request";
               exchange.request = request;
             }
             // A worker is alive for the next request.
             Exchange next;
             next.Connect(port);
             next.request = Get("/photo.jpg?box=8x8");
             next.Run();
             EXPECT_EQ(next.Status(), 200) << "the next request";
           },
           S_OK});
  }

  static ScratchDirectory* dir;
  static webhost::HttpServer* server;
  static uint16_t port;
  static long dropped;
};

ScratchDirectory* WebHostSweep::dir = nullptr;
webhost::HttpServer* WebHostSweep::server = nullptr;
uint16_t WebHostSweep::port = 0;
long WebHostSweep::dropped = 0;

TEST_P(WebHostSweep, Thumbnail) {
  SweepRequest("GET thumbnail", Get("/photo.jpg?thumbnail=64x64"), 200,
               {"Invalid file.", "Cannot open file - the permission may be incorrect.",
                "File not found or permission incorrect."});
}

TEST_P(WebHostSweep, Upload) {
  const std::vector<uint8_t> photo = ReadBytes(QUORVEX_SOURCE_DIR "/samples/two-wings.jpg");
  SweepRequest(
      "POST upload",
      "POST /?box=64x64 HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(photo.size()) +
          "\r\n\r\n" + std::string(photo.begin(), photo.end()),
      200, {"VariantIn has failed to read an image."});
}

TEST_P(WebHostSweep, Revalidation) {
  Exchange first;
  first.Connect(port);
  first.request = Get("/photo.jpg?box=64x64");
  first.Run();
  ASSERT_EQ(first.Status(), 200);
  const std::string head = first.Head();
  const size_t tag = head.find("ETag: ");
  ASSERT_NE(tag, std::string::npos);
  const std::string etag = head.substr(tag + 6, head.find("\r\n", tag) - tag - 6);
  SweepRequest("GET revalidation (304)",
               Get("/photo.jpg?box=64x64", "If-None-Match: " + etag + "\r\n"), 304);
}

TEST_P(WebHostSweep, Metrics) {
  SweepRequest("GET metrics", Get("/metrics"), 200);
}

INSTANTIATE_TEST_SUITE_P(Faults, WebHostSweep, ::testing::Values(Kind::kAllocation), KindLabel);

}  // namespace
}  // namespace quorvex::faults
