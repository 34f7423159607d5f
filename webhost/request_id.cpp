#include "webhost/request_id.h"

#include <sys/random.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace quorvex::webhost {

namespace {

constexpr size_t kLongestId = 128;

uint64_t Seed() {
  uint64_t seed = 0;
  if (getrandom(&seed, sizeof seed, 0) != sizeof seed)
    seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  return seed;
}

// A bijection of 64-bit numbers that scatters neighbours: distinct counts give distinct ids.
uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
  x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
  return x ^ (x >> 31);
}

}  // namespace

bool WellFormedRequestId(std::string_view id) {
  if (id.empty() || id.size() > kLongestId) return false;
  for (const char c : id) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) == 0 && std::string_view("-._:+/=@").find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

std::string RequestId(const std::optional<std::string>& sent) {
  if (sent && WellFormedRequestId(*sent)) return *sent;
  static const uint64_t seed = Seed();
  static std::atomic<uint64_t> count{0};
  const uint64_t n = seed + count.fetch_add(1, std::memory_order_relaxed);
  char id[33];
  std::snprintf(id, sizeof id, "%016llx%016llx", static_cast<unsigned long long>(Mix(n)),
                static_cast<unsigned long long>(Mix(~n)));
  return id;
}

}  // namespace quorvex::webhost
