#include "tools/standard_input.h"

#include <unistd.h>

#include <cerrno>

#include "client/resize_driver.h"

namespace quorvex::tools {

std::vector<uint8_t> ReadStandardInput() {
  std::vector<uint8_t> bytes;
  size_t size = 0;
  for (;;) {
    if (bytes.size() - size < 65536) bytes.resize(size + 65536 + size / 2);
    const ssize_t n = ::read(STDIN_FILENO, bytes.data() + size, bytes.size() - size);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw client::DriverError("cannot read standard input");
    }
    size += static_cast<size_t>(n);
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace quorvex::tools
