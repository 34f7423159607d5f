// The command-line tool's sub-commands. Each returns the process exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "client/operation_table.h"

namespace quorvex::tools {

// One operation or setting of `convert`, in the order given on the command line.
using ConvertStep = client::Step;

struct ConvertSettings {
  std::string input, output;  // file names; "-" for standard input and output
  bool inPlace = false;       // the output may be the input itself
};

// Converts one file: 0 when written, 1 when the object fails, 2 when refused (the output is the
// input without inPlace, or its name's extension names no format).
int RunConvert(const ConvertSettings& settings, std::vector<ConvertStep> steps, std::ostream& out,
               std::ostream& err);

// Runs the component module's registration (or unregistration) and reports the outcome.
int RunRegister(bool doRegister, std::ostream& out, std::ostream& err);

struct BatchSettings {
  std::vector<std::string> files;  // files and folders as named on the command line
  std::string pattern;             // the output name, "%s" standing for the input's name
  bool recursive = false;
  unsigned jobs = 0;          // files converted at once; 0 for one per processor
  bool skipExisting = false;  // leave inputs whose output is not older than they are
  bool quiet = false;         // no summary line
  bool progress = false;      // redraw a progress line (when standard error is a terminal)
};

// Converts every file as RunConvert would, several at once; 2 when the run is refused.
int RunBatch(const BatchSettings& settings, std::vector<ConvertStep> steps, std::ostream& err);

// Describes each file, and each JPEG file in each folder named (and its subfolders when
// recursive), through the object: 0 when every file was read, 1 when one failed.
int RunInfo(const std::vector<std::string>& names, bool recursive, bool json, std::ostream& out,
            std::ostream& err);

// Replaces this process with quorvex-serve from this program's folder, given arguments; returns
// only when it cannot (127, with the reason on err).
int RunServeProgram(const std::vector<std::string>& arguments, std::ostream& err);

}  // namespace quorvex::tools
