// The sweep: run one operation with its 1st, 2nd, ... Nth call of a kind failing, until it runs
// with no fault striking, checking after every run that the failure was clean and that nothing
// leaked. QUORVEX_FAULT_POINTS=k tries about k points spread over the calls (CI's short form);
// 0 tries them all.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/winapi.h"
#include "tests/faults/fault_hook.h"

namespace quorvex::faults {

struct Operation {
  std::string name;
  // Unfaulted, before every point: puts the object and files in their starting state.
  std::function<void()> prepare = [] {};
  // The call under faults.
  std::function<HRESULT()> run;
  // Unfaulted, after every point: checks the result and the state it left (fired: whether the
  // fault struck; a short transfer that struck may still succeed).
  std::function<void(HRESULT result, bool fired)> check;
  // The result of the fault-free run.
  HRESULT expected = S_OK;
  // Every point even in the short form: for cheap operations whose faults lie between
  // the points the short form would try.
  bool everyPoint = false;
};

inline const auto kAllKinds = ::testing::Values(Kind::kAllocation, Kind::kIo, Kind::kShortIo);
// The name of a parameterised case: "Allocation", "Io", "ShortIo".
std::string KindLabel(const ::testing::TestParamInfo<Kind>& info);

// Runs the sweep of operation under faults of kind; records its points for the summary.
void Sweep(Kind kind, const Operation& operation);

// The description of the calling thread's error information ("" when there is none).
std::string ThreadErrorDescription();

// Whether a failure is one of the documented ones: out of memory (E_OUTOFMEMORY, or the
// "Out of memory" or the codec's out-of-memory description) or E_UNEXPECTED with one of messages.
::testing::AssertionResult DocumentedFailure(HRESULT result,
                                             std::initializer_list<std::string> messages);

}  // namespace quorvex::faults
