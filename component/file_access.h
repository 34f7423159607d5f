// The component's whole contact with the file system, so that one small place decides how files
// are reached (POSIX calls natively, the Windows file API in a Windows build).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/exception.h"

namespace quorvex {

// The file exists but could not be opened for reading.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// The file could not be created, written or put in place.
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

// True when name refers to an existing regular file (a directory, a device or nothing is not).
// Looks only at existence and kind, never at access rights.
bool IsExistingFile(const std::string& name);

// The whole content of the file. Raises EFOpenError when it cannot be opened, EReadError when it
// cannot be read completely or is larger than kMaxFileBytes.
std::vector<uint8_t> ReadWholeFile(const std::string& name);

// Makes bytes the content of the file that name finally refers to (symbolic links followed; a
// dangling link's target is created). A new file, or an existing regular file with one name
// whose owner, group and mode a fresh file can take, is replaced all or nothing by a complete
// file written beside it, with the old mode minus set-ID bits. Everything else that may be
// written (devices, FIFOs with a reader, files with several names, files in a directory the
// caller cannot write to, files whose owner the caller cannot give away) is written through the
// existing node, which is never replaced; room for a regular file's new content is reserved
// first where the file system allows. A file the caller may not write, a directory, or a FIFO
// without a reader is refused. Raises EFCreateError.
void WriteWholeFile(const std::string& name, std::span<const uint8_t> bytes);

// Larger inputs are not JPEG files this system reads: the codec counts bytes in 32 bits.
inline constexpr uint64_t kMaxFileBytes = 0x7FFFFFFF;

}  // namespace quorvex
