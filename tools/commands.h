// The command-line tool's sub-commands. Each returns the process exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "client/operation_steps.h"

namespace quorvex::tools {

// One operation or setting of `convert`, in the order given on the command line.
using ConvertStep = client::Step;

int RunConvert(const std::string& input, const std::string& output,
               const std::vector<ConvertStep>& steps, std::ostream& out, std::ostream& err);

// Runs the component module's registration (or unregistration) and reports the outcome.
int RunRegister(bool doRegister, std::ostream& out, std::ostream& err);

struct BatchSettings {
  std::vector<std::string> files;  // files and folders as named on the command line
  std::string pattern;             // the output name, "%s" standing for the input's name
  bool recursive = false;
  unsigned jobs = 0;      // files converted at once; 0 for one per processor
  bool quiet = false;     // no summary line
  bool progress = false;  // redraw a progress line (when standard error is a terminal)
};

// Converts every file as RunConvert would, several at once; 2 when the run is refused.
int RunBatch(const BatchSettings& settings, const std::vector<ConvertStep>& steps,
             std::ostream& err);

int RunInfo(const std::vector<std::string>& files, bool json, std::ostream& out, std::ostream& err);

// Replaces this process with quorvex-serve from this program's folder, given arguments; returns
// only when it cannot (127, with the reason on err).
int RunServeProgram(const std::vector<std::string>& arguments, std::ostream& err);

}  // namespace quorvex::tools
