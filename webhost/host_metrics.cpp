#include "webhost/host_metrics.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace quorvex::webhost {

namespace {

uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const std::string& name, double value) {
  char text[64];
  std::snprintf(text, sizeof text, " %.17g\n", value);
  out += name;
  out += text;
}

void Sample(std::string& out, const std::string& name, uint64_t value) {
  out += name + ' ' + std::to_string(value) + '\n';
}

std::string Bound(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

void HostMetrics::Finished(unsigned status, std::string_view kind, double seconds, uint64_t bytes) {
  const std::string statusClass =
      status >= 100 && status < 600 ? std::to_string(status / 100) + "xx" : "none";
  const size_t bucket = static_cast<size_t>(
      std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds) - kBuckets.begin());
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[{statusClass, std::string(kind)}];
  ++buckets_[bucket];
  secondsSum_ += seconds;
  bytes_ += bytes;
}

std::string HostMetrics::Render(const HostLoad& load) const {
  std::string out;
  std::lock_guard<std::mutex> lock(mutex_);
  Family(out, "quorvex_requests_total", "counter",
         "Requests answered, by status class and operation kind.");
  for (const auto& [labels, count] : requests_)
    Sample(out,
           "quorvex_requests_total{code=\"" + labels.first + "\",kind=\"" + labels.second + "\"}",
           count);
  Family(out, "quorvex_request_duration_seconds", "histogram",
         "Time from a request's arrival to the end of its answer.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i];
    const std::string bound = i < kBuckets.size() ? Bound(kBuckets[i]) : "+Inf";
    Sample(out, "quorvex_request_duration_seconds_bucket{le=\"" + bound + "\"}", cumulative);
  }
  Sample(out, "quorvex_request_duration_seconds_sum", secondsSum_);
  Sample(out, "quorvex_request_duration_seconds_count", cumulative);
  Family(out, "quorvex_requests_in_flight", "gauge", "Requests received and not yet answered.");
  Sample(out, "quorvex_requests_in_flight", static_cast<uint64_t>(std::max(load.inFlight, 0)));
  Family(out, "quorvex_queue_depth", "gauge", "Requests waiting for a worker.");
  Sample(out, "quorvex_queue_depth", uint64_t{load.queued});
  Family(out, "quorvex_workers_busy", "gauge", "Workers running a request.");
  Sample(out, "quorvex_workers_busy", uint64_t{load.busyWorkers});
  Family(out, "quorvex_workers", "gauge", "Workers in all.");
  Sample(out, "quorvex_workers", uint64_t{load.workers});
  Family(out, "quorvex_sent_bytes_total", "counter", "Body bytes of the answers sent.");
  Sample(out, "quorvex_sent_bytes_total", bytes_);
  Family(out, "quorvex_decoded_pixels_total", "counter", "Pixels the requests' decodes made.");
  Sample(out, "quorvex_decoded_pixels_total", pixels_.load());
  Family(out, "quorvex_memory_reserved_bytes", "gauge",
         "Decode memory and source bytes the requests hold now.");
  Sample(out, "quorvex_memory_reserved_bytes", load.memoryReserved);
  Family(out, "quorvex_memory_limit_bytes", "gauge", "What they may hold together (--max-memory).");
  Sample(out, "quorvex_memory_limit_bytes", load.memoryLimit);
  Family(out, "process_resident_memory_bytes", "gauge", "Resident memory of the process.");
  Sample(out, "process_resident_memory_bytes", ResidentBytes());
  return out;
}

std::string_view OperationKind(const std::vector<client::Step>& steps) {
  for (const client::Step& step : steps)
    if (step.operation->kind == client::Kind::Transform) return step.operation->name;
  return "none";
}

}  // namespace quorvex::webhost
