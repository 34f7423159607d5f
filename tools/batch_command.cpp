#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <thread>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "tools/batch_files.h"
#include "tools/commands.h"

namespace quorvex::tools {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kClearLine[] = "\r\033[K";

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// What the workers share: the next file to take, the counts, and standard error.
class Progress {
 public:
  Progress(size_t total, bool show, std::ostream& err)
      : total_(total), show_(show), err_(err), start_(Clock::now()) {}

  void Done(bool failed, const std::string& message) {
    std::lock_guard lock(mutex_);
    ++(failed ? failed_ : converted_);
    if (failed) err_ << (show_ ? kClearLine : "") << message << '\n';
    if (!show_) return;
    const Clock::time_point now = Clock::now();
    if (converted_ + failed_ < total_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    const size_t done = converted_ + failed_;
    const double rate = static_cast<double>(done) / std::max(Seconds(), 1e-3);
    err_ << kClearLine << done << '/' << total_ << " files, "
         << Format("%.1f files/s, %.0f s left", rate, static_cast<double>(total_ - done) / rate)
         << std::flush;
  }

  void Summary() {
    if (show_) err_ << kClearLine;
    err_ << converted_ << " converted, " << failed_ << " failed in " << Format("%.1f", Seconds())
         << " s\n";
  }

  size_t Failed() const { return failed_; }

 private:
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  const size_t total_;
  const bool show_;
  std::ostream& err_;
  const Clock::time_point start_;
  Clock::time_point drawn_;
  std::mutex mutex_;
  size_t converted_ = 0, failed_ = 0;
};

// Returns the failure message, or an empty text when the file was written.
std::string Convert(const BatchFile& file, const std::vector<ConvertStep>& steps) {
  try {
    client::ResizeDriver object;
    client::ImageSource source;
    source.file = file.input;
    client::LoadAndApply(object, source, steps);
    object.SaveToFile(file.output);
    return {};
  } catch (const std::exception& e) {
    return "quorvex: " + file.input + ": " + e.what();
  }
}

}  // namespace

int RunBatch(const BatchSettings& settings, const std::vector<ConvertStep>& steps,
             std::ostream& err) {
  std::vector<BatchFile> files;
  try {
    files = PlanBatch(settings.files, settings.pattern, settings.recursive);
  } catch (const BatchRefusal& e) {
    err << "quorvex: " << e.what() << '\n';
    return 2;
  }
  // Keeps the module loaded between the workers' objects, and fails early when it cannot load.
  const client::ResizeDriver keeper;

  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  const size_t jobs =
      std::min<size_t>(settings.jobs != 0 ? settings.jobs : processors, files.size());
  Progress progress(files.size(), settings.progress, err);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < files.size();) {
      const std::string message = Convert(files[i], steps);
      progress.Done(!message.empty(), message);
    }
  };
  std::vector<std::jthread> workers;
  for (size_t j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  workers.clear();

  if (!settings.quiet) progress.Summary();
  return progress.Failed() != 0 ? 1 : 0;
}

}  // namespace quorvex::tools
