// The system's side of the JPEG library: error manager, stream source and destination,
// progress monitor, and RAII owners of the library objects.
//
// Library errors must not unwind through the library's C frames. error_exit (and any callback
// that has to stop the library) longjmps back to RunGuarded, whose frame holds nothing to
// destroy; the caller then raises the exception in ordinary C++ code. Exceptions of callbacks
// are caught inside the callback, kept in the context, and raised after the jump.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <type_traits>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "jpegextra/jpeg_progress.h"
#include "jpegextra/load_limits.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

class TJPEGImage;

namespace jpeglib {

inline constexpr size_t kStreamBufferSize = 4096;

// EJPEG code of a decode stopped for too many scans or too much scan work (outside release
// 6a's 0..119 and the extra 120.. codes).
inline constexpr int kScanBudgetCode = 200;

// The scans a decode has started and the blocks they cover, against their limits.
struct ScanBudget {
  int32_t maxScans = kMaxScans;
  uint64_t maxBlocks = UINT64_MAX;
  int lastScan = 0;
  uint64_t blocks = 0;
};

// Everything the callbacks reach through the library object's client_data, for one object.
struct CallContext {
  jpeg_error_mgr error{};
  std::jmp_buf jump{};
  bool armed = false;          // a RunGuarded frame is live to jump to
  std::exception_ptr pending;  // raised instead of EJPEG after the jump

  jpeg_progress_mgr progress{};
  TJPEGImage* owner = nullptr;  // receives progress reports; none for the header parse
  TProgressThrottle throttle;
  ScanBudget scans;

  jpeg_source_mgr source{};
  jpeg_destination_mgr destination{};
  TMemoryStream* stream = nullptr;
  bool startOfFile = true;
  JOCTET buffer[kStreamBufferSize];
};

using StepFunction = void (*)(CallContext& context, void* argument) noexcept;

// Runs step with the jump target set. False when the library bailed out or the step raised.
bool RunGuarded(CallContext& context, StepFunction step, void* argument) noexcept;

// Raises what stopped the last guarded step: the kept exception, or EJPEG with the library's
// message code in release 6a numbering.
[[noreturn]] void RaiseFailure(const CallContext& context);

// Runs a callable as a guarded step; every exception it raises is kept for RaiseFailure.
template <class Step>
bool TryStep(CallContext& context, Step& step) noexcept {
  return RunGuarded(
      context,
      [](CallContext& c, void* argument) noexcept {
        try {
          (*static_cast<Step*>(argument))();
        } catch (...) {
          c.pending = std::current_exception();
        }
      },
      &step);
}

template <class Step>
void RunStep(CallContext& context, Step&& step) {
  std::remove_reference_t<Step>& callable = step;
  if (!TryStep(context, callable)) RaiseFailure(context);
}

// A decompression object reading data from its start. Destroyed on every path.
class Decompressor {
 public:
  Decompressor(TMemoryStream& data, TJPEGImage* progressOwner);
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  jpeg_decompress_struct& Info() noexcept { return info_; }
  // Caps the library's memory: its whole-frame buffers, set up when decompression starts, must
  // fit together with all it has allocated before, or it fails (it has no backing store to
  // spill them to). Its later allocations are a few rows at most.
  void LimitMemory(uint64_t bytes) noexcept;
  // Stops the decode with EJPEG kScanBudgetCode once a scan beyond maxScans starts, or once
  // the scans started cover more than maxBlocks blocks in all.
  void LimitScans(int32_t maxScans, uint64_t maxBlocks) noexcept;
  template <class Step>
  void Run(Step&& step) {
    RunStep(context_, step);
  }
  // Runs step and ignores any failure.
  template <class Step>
  void RunIgnoringErrors(Step&& step) noexcept {
    std::remove_reference_t<Step>& callable = step;
    TryStep(context_, callable);
  }

 private:
  CallContext context_;
  jpeg_decompress_struct info_{};
};

// A compression object writing to output at its position. Destroyed on every path.
class Compressor {
 public:
  Compressor(TMemoryStream& output, TJPEGImage* progressOwner);
  ~Compressor();
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  jpeg_compress_struct& Info() noexcept { return info_; }
  template <class Step>
  void Run(Step&& step) {
    RunStep(context_, step);
  }

 private:
  CallContext context_;
  jpeg_compress_struct info_{};
};

}  // namespace jpeglib
}  // namespace quorvex
