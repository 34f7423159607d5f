// Runs the command-line tool through the shell, as a user runs it: exit status, standard output
// and error.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "tests/support/test_files.h"

namespace quorvex::testing {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

// The command line is the tool followed by the arguments, which may carry shell redirections.
inline ToolRun RunCommand(const ScratchDirectory& dir, const std::string& commandLine) {
  const std::string errFile = dir.File("stderr.txt");
  const std::string command = commandLine + " 2>'" + errFile + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ToolRun run{-1, "", ""};
  std::array<char, 65536> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    run.out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const auto err = ReadBytes(errFile);
  run.err.assign(err.begin(), err.end());
  return run;
}

inline ToolRun Quorvex(const ScratchDirectory& dir, const std::string& arguments) {
  return RunCommand(dir, std::string(QUORVEX_TOOL) + " " + arguments);
}

}  // namespace quorvex::testing
