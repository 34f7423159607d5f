// The in-memory byte stream that carries compressed JPEG data and metadata payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/exception.h"

namespace quorvex {

// A read that cannot deliver all the bytes asked for.
class EReadError : public Exception {
 public:
  EReadError() : Exception("Stream read error") {}
};

// A write that cannot store all the bytes given.
class EWriteError : public Exception {
 public:
  EWriteError() : Exception("Stream write error") {}
};

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  size_t Size() const noexcept { return bytes_.size(); }
  size_t Position() const noexcept { return position_; }
  // Positions past the end are allowed; a write there fills the gap with zeros.
  void Seek(size_t position) noexcept { position_ = position; }
  void SetSize(size_t size);
  void Clear() noexcept;

  // Reads up to count bytes; returns how many arrived (0 at the end).
  size_t Read(void* buffer, size_t count) noexcept;
  // Reads exactly count bytes or raises EReadError, consuming nothing.
  void ReadBuffer(void* buffer, size_t count);
  void Write(const void* buffer, size_t count);
  // Appends count bytes of source from its current position, or raises EReadError.
  void CopyFrom(TMemoryStream& source, size_t count);

  const uint8_t* Memory() const noexcept { return bytes_.data(); }
  uint8_t* Memory() noexcept { return bytes_.data(); }
  std::span<const uint8_t> Bytes() const noexcept { return bytes_; }
  // Hands the bytes over and leaves the stream empty.
  std::vector<uint8_t> Release() noexcept;

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

}  // namespace quorvex
