#include "jpegextra/libjpeg_binding.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

// clang-format off
#include <jerror.h>
// clang-format on

#include "imaging/host_control.h"
#include "jpegextra/jpeg_errors.h"
#include "jpegextra/jpeg_image.h"
#include "jpegextra/jpeg_message_codes.h"

namespace quorvex::jpeglib {

namespace {

CallContext& ContextOf(j_common_ptr info) noexcept {
  return *static_cast<CallContext*>(info->client_data);
}
CallContext& ContextOf(j_decompress_ptr info) noexcept {
  return *static_cast<CallContext*>(info->client_data);
}
CallContext& ContextOf(j_compress_ptr info) noexcept {
  return *static_cast<CallContext*>(info->client_data);
}

// Leaves the library for the live RunGuarded frame. Every library call is made inside one, so
// an unarmed context is a programming error; returning to the library is not an option.
[[noreturn]] void Bail(CallContext& context) noexcept {
  if (!context.armed) std::abort();
  std::longjmp(context.jump, 1);
}

// Error manager. Warnings and traces are ignored, so corrupt data never stops a decode; the
// library's texts are never produced.
void ErrorExit(j_common_ptr info) {
  Bail(ContextOf(info));
}
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) {
  buffer[0] = '\0';
}
void ResetErrorManager(j_common_ptr info) {
  info->err->msg_code = 0;
}

// Keeps an exception for RaiseFailure.
void Keep(CallContext& context, std::exception_ptr error) noexcept {
  context.pending = std::move(error);
}

// Progress: throttled reports to the owner, whose handler may raise EAbort.
bool Report(CallContext& context, j_common_ptr info) noexcept {
  try {
    const jpeg_progress_mgr& progress = context.progress;
    TProgressSample sample{progress.pass_counter, progress.pass_limit, progress.completed_passes,
                           progress.total_passes};
    if (info->is_decompressor) {
      const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
      sample.Decompressing = true;
      sample.OutputScanline = static_cast<int32_t>(decompress->output_scanline);
      sample.OutputWidth = static_cast<int32_t>(decompress->output_width);
      sample.OutputHeight = static_cast<int32_t>(decompress->output_height);
    }
    const auto report = context.throttle.Update(context.owner->Ticks(), sample);
    if (report)
      context.owner->Progress(TProgressStage::psRunning, report->Percent, report->RedrawNow,
                              report->Rect);
    return true;
  } catch (...) {
    Keep(context, std::current_exception());
    return false;
  }
}

// Blocks the current scan covers: whole MCUs of its components.
uint64_t ScanBlocks(const jpeg_decompress_struct& info) noexcept {
  return uint64_t{info.MCUs_per_row} * info.MCU_rows_in_scan *
         static_cast<uint64_t>(info.blocks_in_MCU);
}

// Counts each scan once, when the monitor first sees it: the library calls the monitor after
// reading a scan's header and before decoding its first row.
bool OverScanBudget(CallContext& context, j_common_ptr info) noexcept {
  if (!info->is_decompressor) return false;
  const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  ScanBudget& budget = context.scans;
  if (decompress->input_scan_number == budget.lastScan) return false;
  budget.lastScan = decompress->input_scan_number;
  budget.blocks += ScanBlocks(*decompress);
  if (budget.lastScan <= budget.maxScans && budget.blocks <= budget.maxBlocks) return false;
  try {
    Keep(context, std::make_exception_ptr(EJPEG(kScanBudgetCode)));
  } catch (...) {
    Keep(context, std::current_exception());
  }
  return true;
}

// A host that no longer wants the result stops the library here, between rows.
bool CancelledByHost(CallContext& context) noexcept {
  try {
    CheckCancelled();
    return false;
  } catch (...) {
    Keep(context, std::current_exception());
    return true;
  }
}

void ProgressMonitor(j_common_ptr info) {
  CallContext& context = ContextOf(info);
  if (OverScanBudget(context, info) || CancelledByHost(context)) Bail(context);
  // Without a handler there is no one to report to; skip the clock as well.
  if (context.owner == nullptr || !context.owner->OnProgress()) return;
  if (!Report(context, info)) Bail(context);
}

// Data source over the compressed-data stream, refilled 4096 bytes at a time. At the end of
// the data a cut-off file gets an end-of-image marker, so it decodes as if it were complete.
void InitSource(j_decompress_ptr info) {
  ContextOf(info).startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr info) {
  CallContext& context = ContextOf(info);
  size_t count = context.stream->Read(context.buffer, kStreamBufferSize);
  if (count == 0) {
    if (context.startOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
    WARNMS(info, JWRN_JPEG_EOF);
    context.buffer[0] = 0xFF;
    context.buffer[1] = JPEG_EOI;
    count = 2;
  }
  context.source.next_input_byte = context.buffer;
  context.source.bytes_in_buffer = count;
  context.startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  CallContext& context = ContextOf(info);
  jpeg_source_mgr& source = context.source;
  const auto skip = static_cast<size_t>(count);
  if (skip <= source.bytes_in_buffer) {
    source.next_input_byte += skip;
    source.bytes_in_buffer -= skip;
    return;
  }
  // Past the buffer: move the stream instead of reading what is skipped. A position beyond
  // the end simply reads nothing and ends the data.
  context.stream->Seek(context.stream->Position() + (skip - source.bytes_in_buffer));
  source.bytes_in_buffer = 0;
  source.next_input_byte = context.buffer;
  context.startOfFile = false;
}

void TermSource(j_decompress_ptr) {}

// Data destination, emptied 4096 bytes at a time. A stream that cannot take the bytes fails
// with the library's output-write code, or its out-of-memory code when memory ran out.
// Returns the code, 0 when the bytes were taken.
int WriteAll(TMemoryStream& stream, const JOCTET* bytes, size_t count) noexcept {
  try {
    stream.Write(bytes, count);
    return 0;
  } catch (const EOutOfMemory&) {
    return JERR_OUT_OF_MEMORY;
  } catch (const std::bad_alloc&) {
    return JERR_OUT_OF_MEMORY;
  } catch (...) {
    return JERR_FILE_WRITE;
  }
}

void InitDestination(j_compress_ptr info) {
  CallContext& context = ContextOf(info);
  context.destination.next_output_byte = context.buffer;
  context.destination.free_in_buffer = kStreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  CallContext& context = ContextOf(info);
  if (const int code = WriteAll(*context.stream, context.buffer, kStreamBufferSize))
    ERREXIT(info, code);
  context.destination.next_output_byte = context.buffer;
  context.destination.free_in_buffer = kStreamBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  CallContext& context = ContextOf(info);
  const size_t count = kStreamBufferSize - context.destination.free_in_buffer;
  if (const int code = count != 0 ? WriteAll(*context.stream, context.buffer, count) : 0)
    ERREXIT(info, code);
}

void InitContext(CallContext& context, TJPEGImage* owner, TMemoryStream& stream) noexcept {
  jpeg_std_error(&context.error);
  context.error.error_exit = ErrorExit;
  context.error.emit_message = EmitMessage;
  context.error.output_message = OutputMessage;
  context.error.format_message = FormatMessage;
  context.error.reset_error_mgr = ResetErrorManager;
  context.progress.progress_monitor = ProgressMonitor;
  context.owner = owner;
  context.stream = &stream;
}

}  // namespace

bool RunGuarded(CallContext& context, StepFunction step, void* argument) noexcept {
  context.pending = nullptr;
  context.error.msg_code = 0;
  if (setjmp(context.jump) != 0) {
    context.armed = false;
    return false;
  }
  context.armed = true;
  step(context, argument);
  context.armed = false;
  return !context.pending;
}

void RaiseFailure(const CallContext& context) {
  if (context.pending) std::rethrow_exception(context.pending);
  throw EJPEG(Release6aMessageCode(context.error.msg_code));
}

Decompressor::Decompressor(TMemoryStream& data, TJPEGImage* progressOwner) {
  InitContext(context_, progressOwner, data);
  info_.err = &context_.error;
  info_.client_data = &context_;
  try {
    Run([this] { jpeg_create_decompress(&info_); });
  } catch (...) {
    jpeg_destroy_decompress(&info_);
    throw;
  }
  info_.progress = &context_.progress;
  data.Seek(0);
  context_.source.init_source = InitSource;
  context_.source.fill_input_buffer = FillInputBuffer;
  context_.source.skip_input_data = SkipInputData;
  context_.source.resync_to_restart = jpeg_resync_to_restart;
  context_.source.term_source = TermSource;
  info_.src = &context_.source;
}

Decompressor::~Decompressor() {
  jpeg_destroy_decompress(&info_);
}

void Decompressor::LimitMemory(uint64_t bytes) noexcept {
  // Zero would mean no limit at all.
  const uint64_t capped = std::min<uint64_t>(bytes, std::numeric_limits<long>::max());
  info_.mem->max_memory_to_use = static_cast<long>(std::max<uint64_t>(capped, 1));
}

void Decompressor::LimitScans(int32_t maxScans, uint64_t maxBlocks) noexcept {
  context_.scans.maxScans = maxScans;
  context_.scans.maxBlocks = maxBlocks;
}

Compressor::Compressor(TMemoryStream& output, TJPEGImage* progressOwner) {
  InitContext(context_, progressOwner, output);
  info_.err = &context_.error;
  info_.client_data = &context_;
  try {
    Run([this] { jpeg_create_compress(&info_); });
  } catch (...) {
    jpeg_destroy_compress(&info_);
    throw;
  }
  info_.progress = &context_.progress;
  context_.destination.init_destination = InitDestination;
  context_.destination.empty_output_buffer = EmptyOutputBuffer;
  context_.destination.term_destination = TermDestination;
  info_.dest = &context_.destination;
}

Compressor::~Compressor() {
  jpeg_destroy_compress(&info_);
}

}  // namespace quorvex::jpeglib
