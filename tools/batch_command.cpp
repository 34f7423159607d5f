#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <thread>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "tools/batch_files.h"
#include "tools/commands.h"
#include "tools/failure_text.h"
#include "tools/output_choice.h"

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
  Progress(size_t total, bool show, bool countSkipped, std::ostream& err)
      : total_(total), show_(show), countSkipped_(countSkipped), err_(err), start_(Clock::now()) {}

  enum class Outcome { Converted, Skipped, Failed };

  void Done(Outcome outcome, const std::string& message) {
    std::lock_guard lock(mutex_);
    const bool failed = outcome == Outcome::Failed;
    ++(failed ? failed_ : outcome == Outcome::Skipped ? skipped_ : converted_);
    if (failed) err_ << (show_ ? kClearLine : "") << message << '\n';
    if (!show_) return;
    const Clock::time_point now = Clock::now();
    if (converted_ + skipped_ + failed_ < total_ && now - drawn_ < std::chrono::milliseconds(100))
      return;
    drawn_ = now;
    const size_t done = converted_ + skipped_ + failed_;
    const double rate = static_cast<double>(done) / std::max(Seconds(), 1e-3);
    err_ << kClearLine << done << '/' << total_ << " files, "
         << Format("%.1f files/s, %.0f s left", rate, static_cast<double>(total_ - done) / rate)
         << std::flush;
  }

  void Summary() {
    if (show_) err_ << kClearLine;
    err_ << converted_ << " converted, ";
    if (countSkipped_) err_ << skipped_ << " skipped, ";
    err_ << failed_ << " failed in " << Format("%.1f", Seconds()) << " s\n";
  }

  size_t Failed() const { return failed_; }

 private:
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  const size_t total_;
  const bool show_;
  const bool countSkipped_;
  std::ostream& err_;
  const Clock::time_point start_;
  Clock::time_point drawn_;
  std::mutex mutex_;
  size_t converted_ = 0, skipped_ = 0, failed_ = 0;
};

// Whether the output was written no earlier than the input last changed.
bool UpToDate(const BatchFile& file) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(file.output, error);
  if (error) return false;
  const auto changed = std::filesystem::last_write_time(file.input, error);
  return !error && written >= changed;
}

// Returns the failure message, or an empty text when the file was written.
std::string Convert(const BatchFile& file, const std::vector<ConvertStep>& steps) {
  try {
    client::ResizeDriver object;
    client::ImageSource source;
    source.file = file.input;
    client::LoadAndApply(object, source, steps);
    // As mkdir -p: a missing folder is made, and one that cannot be fails the save with its reason.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file.output).parent_path(), ignored);
    object.SaveToFile(file.output);
    return {};
  } catch (const std::exception& e) {
    return "quorvex: " + file.input + ": " + FailureText(e);
  }
}

}  // namespace

int RunBatch(const BatchSettings& settings, std::vector<ConvertStep> steps, std::ostream& err) {
  if (const std::string refusal = ChooseOutputFormat(steps, settings.pattern); !refusal.empty()) {
    err << "quorvex: " << refusal << '\n';
    return 2;
  }
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
  Progress progress(files.size(), settings.progress, settings.skipExisting, err);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < files.size();) {
      if (settings.skipExisting && UpToDate(files[i])) {
        progress.Done(Progress::Outcome::Skipped, {});
        continue;
      }
      const std::string message = Convert(files[i], steps);
      progress.Done(message.empty() ? Progress::Outcome::Converted : Progress::Outcome::Failed,
                    message);
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
