// `quorvex serve`: hands over to the web host's own program.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "tools/commands.h"

namespace quorvex::tools {

int RunServeProgram(const std::vector<std::string>& arguments, std::ostream& err) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string program =
      ((error ? std::filesystem::path(".") : self.parent_path()) / "quorvex-serve").string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  err << "quorvex: cannot run " << program << ": " << std::strerror(errno) << '\n';
  return 127;
}

}  // namespace quorvex::tools
