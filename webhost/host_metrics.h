// What the host has done and is doing, in the Prometheus text format for /metrics: requests by
// status class and operation kind, their latency, the bytes and pixels they cost, and the load
// of the moment as the caller reads it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/operation_table.h"

namespace quorvex::webhost {

// The load of the moment, read when /metrics is asked for.
struct HostLoad {
  int inFlight = 0;
  size_t queued = 0;
  unsigned busyWorkers = 0;
  unsigned workers = 0;
  uint64_t memoryReserved = 0;
  uint64_t memoryLimit = 0;
};

class HostMetrics {
 public:
  // One request done: its status (0 when none was sent), its kind, the seconds from its
  // arrival to its end, and the body bytes sent.
  void Finished(unsigned status, std::string_view kind, double seconds, uint64_t bytes);
  void Decoded(uint64_t pixels) { pixels_ += pixels; }

  std::string Render(const HostLoad& load) const;

  // Upper bounds of the latency buckets, in seconds.
  static constexpr std::array<double, 13> kBuckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                   0.25,  0.5,    1,     2.5,  5,     10};

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, uint64_t> requests_;  // (class, kind)
  std::array<uint64_t, kBuckets.size() + 1> buckets_{};               // the last one: +Inf
  double secondsSum_ = 0;
  uint64_t bytes_ = 0;
  std::atomic<uint64_t> pixels_{0};
};

// The kind of an image request for the metrics: the name of its first step that loads or
// changes the picture ("thumbnail", "box", "rotate"...), "none" when it has none.
std::string_view OperationKind(const std::vector<client::Step>& steps);

}  // namespace quorvex::webhost
