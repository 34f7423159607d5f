#include "tests/faults/fault_sweep.h"

#include <sanitizer/lsan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"

namespace quorvex::faults {
namespace {

// QUORVEX_FAULT_POINTS: at most this many points per sweep, spread evenly over its calls (CI's
// short form, 16 when unset); 0 tries every point.
long MaxPoints() {
  const char* text = std::getenv("QUORVEX_FAULT_POINTS");
  const long points = text != nullptr ? std::atol(text) : 16;
  return points > 0 ? points : 0;
}

// QUORVEX_FAULT_FIRST: the first point tried (1 when unset), to go on from a point or replay one.
long FirstPoint() {
  const char* text = std::getenv("QUORVEX_FAULT_FIRST");
  const long first = text != nullptr ? std::atol(text) : 1;
  return first > 0 ? first : 1;
}

// Far above any operation's count: a sweep that gets here is not ending.
constexpr long kLastPoint = 200000;

struct Tally {
  long points = 0;  // runs with a fault armed
  long struck = 0;  // of those, runs where it struck
  long calls = 0;   // calls of the kind in the fault-free run
};
std::map<std::pair<std::string, Kind>, Tally>& Summary() {
  static auto* summary = new std::map<std::pair<std::string, Kind>, Tally>();
  return *summary;
}

// Prints the table of sweeps when the program ends (and writes it to QUORVEX_FAULT_SUMMARY).
class SummaryPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    std::string text = "Fault sweeps (" +
                       (MaxPoints() == 0 ? std::string("every point")
                                         : "at most " + std::to_string(MaxPoints()) + " points") +
                       " of each)\n";
    char line[160];
    std::snprintf(line, sizeof line, "%-34s %-15s %8s %8s %8s\n", "operation", "fault", "calls",
                  "tried", "struck");
    text += line;
    long tried = 0;
    for (const auto& [key, tally] : Summary()) {
      std::snprintf(line, sizeof line, "%-34s %-15s %8ld %8ld %8ld\n", key.first.c_str(),
                    KindName(key.second), tally.calls, tally.points, tally.struck);
      text += line;
      tried += tally.points;
    }
    text += "points tried: " + std::to_string(tried) + "\n";
    std::fputs(text.c_str(), stdout);
    if (const char* file = std::getenv("QUORVEX_FAULT_SUMMARY")) {
      if (FILE* out = std::fopen(file, "a")) {
        std::fputs(text.c_str(), out);
        std::fclose(out);
      }
    }
  }
};
const auto* const kPrinter = ::testing::AddGlobalTestEnvironment(new SummaryPrinter);

}  // namespace

void Sweep(Kind kind, const Operation& operation) {
  Tally& tally = Summary()[{operation.name, kind}];
  // A fault-free run counts the calls, which sets the stride of the short form.
  operation.prepare();
  if (::testing::Test::HasFatalFailure()) return;
  Arm(kind, 0);
  const HRESULT unfaulted = operation.run();
  Disarm();
  tally.calls = Counted();
  operation.check(unfaulted, false);
  ASSERT_EQ(unfaulted, operation.expected) << operation.name << " fails without faults";
  const long stride =
      MaxPoints() == 0 || operation.everyPoint ? 1 : std::max(1L, tally.calls / MaxPoints());
  for (long nth = FirstPoint(); nth < kLastPoint; nth += stride) {
    SCOPED_TRACE(operation.name + ": " + KindName(kind) + " " + std::to_string(nth) + " fails");
    operation.prepare();
    if (::testing::Test::HasFatalFailure()) return;
    Arm(kind, nth);
    const HRESULT result = operation.run();
    const bool fired = Disarm();
    ++tally.points;
    if (fired) ++tally.struck;
    operation.check(result, fired);
    // Everything the failed call allocated is freed or still reachable from the object.
    ASSERT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaked";
    if (::testing::Test::HasFailure()) return;
    if (!fired) {
      ASSERT_EQ(result, operation.expected) << "no fault struck, yet the result differs";
      return;
    }
  }
  FAIL() << operation.name << " never ran to its end";
}

std::string KindLabel(const ::testing::TestParamInfo<Kind>& info) {
  switch (info.param) {
    case Kind::kAllocation:
      return "Allocation";
    case Kind::kIo:
      return "Io";
    case Kind::kShortIo:
      return "ShortIo";
  }
  return "?";
}

std::string ThreadErrorDescription() {
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return "";
  TBstr text;
  info->GetDescription(text.Put());
  return BstrToUtf8(text.get());
}

::testing::AssertionResult DocumentedFailure(HRESULT result,
                                             std::initializer_list<std::string> messages) {
  const std::string description = ThreadErrorDescription();
  if (result == E_OUTOFMEMORY) return ::testing::AssertionSuccess();
  if (result == E_UNEXPECTED) {
    // The system's own text, or the codec's code for its memory running out.
    if (description == "Out of memory" || description == "JPEG error #53")
      return ::testing::AssertionSuccess();
    for (const std::string& message : messages)
      if (description == message) return ::testing::AssertionSuccess();
  }
  char code[16];
  std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(result));
  return ::testing::AssertionFailure()
         << "undocumented failure " << code << " \"" << description << "\"";
}

}  // namespace quorvex::faults
