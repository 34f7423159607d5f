// A fuzzer's input read as a stream of small numbers; past its end every read gives zero, so a
// short input is still a complete run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex::fuzzing {

class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  // Four bytes, least significant first.
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace quorvex::fuzzing
