#include "jpegextra/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "imaging/errors.h"

namespace quorvex {

void TMemoryStream::SetSize(size_t size) {
  try {
    bytes_.resize(size);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
  position_ = std::min(position_, size);
}

void TMemoryStream::Clear() noexcept {
  bytes_.clear();
  bytes_.shrink_to_fit();
  position_ = 0;
}

size_t TMemoryStream::Read(void* buffer, size_t count) noexcept {
  if (position_ >= bytes_.size()) return 0;
  const size_t available = std::min(count, bytes_.size() - position_);
  if (available != 0) std::memcpy(buffer, bytes_.data() + position_, available);
  position_ += available;
  return available;
}

void TMemoryStream::ReadBuffer(void* buffer, size_t count) {
  if (position_ > bytes_.size() || bytes_.size() - position_ < count) throw EReadError();
  Read(buffer, count);
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (position_ > bytes_.max_size() - count) throw EWriteError();
  const size_t end = position_ + count;
  try {
    if (end > bytes_.size()) bytes_.resize(end);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = end;
}

void TMemoryStream::CopyFrom(TMemoryStream& source, size_t count) {
  if (source.position_ > source.bytes_.size() || source.bytes_.size() - source.position_ < count)
    throw EReadError();
  Write(source.bytes_.data() + source.position_, count);
  source.position_ += count;
}

std::vector<uint8_t> TMemoryStream::Release() noexcept {
  position_ = 0;
  return std::exchange(bytes_, {});
}

}  // namespace quorvex
