#include <cstdio>
#include <ostream>

#include "client/resize_driver.h"
#include "tools/commands.h"

namespace quorvex::tools {

using client::DriverError;
using client::ModulePath;
using client::RunRegistration;

int RunRegister(bool doRegister, std::ostream& out, std::ostream& err) {
  try {
    const HRESULT result = RunRegistration(doRegister);
    if (FAILED(result)) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
      err << "quorvex: " << (doRegister ? "DllRegisterServer" : "DllUnregisterServer")
          << " failed with " << code << '\n';
      return 1;
    }
    out << (doRegister ? "registered " : "unregistered ") << ModulePath() << '\n';
    return 0;
  } catch (const DriverError& e) {
    err << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace quorvex::tools
