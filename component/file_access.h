// The component's whole contact with the file system, so that one small place decides how files
// are reached (POSIX calls natively, the Windows file API in a Windows build).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/errors.h"

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

// Puts bytes in place as the file's new content, all or nothing: they are written to a fresh
// file beside it, which replaces the old one only when complete. An existing file survives any
// failure unchanged. Raises EFCreateError.
void ReplaceFile(const std::string& name, std::span<const uint8_t> bytes);

// Larger inputs are not JPEG files this system reads: the codec counts bytes in 32 bits.
inline constexpr uint64_t kMaxFileBytes = 0x7FFFFFFF;

}  // namespace quorvex
