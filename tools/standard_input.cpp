#include "tools/standard_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace quorvex::tools {
namespace {

constexpr size_t kChunk = size_t{1} << 20;

[[noreturn]] void TooLarge() {
  // What the object says of an array it cannot read as a picture.
  throw client::DriverError("VariantIn has failed to read an image.");
}

// Up to count bytes into data; fewer only at the end of the input.
size_t ReadUpTo(uint8_t* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(STDIN_FILENO, data + done, count - done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw client::DriverError("cannot read standard input");
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

// A file's size is known before reading: one array of it, read into directly, and one byte more
// asked for to notice a file that grew.
std::unique_ptr<client::ByteArray> ReadKnownSize(uint64_t size) {
  if (size > kMaxStandardInput) TooLarge();
  auto array = std::make_unique<client::ByteArray>(static_cast<size_t>(size));
  const std::span<uint8_t> bytes = array->Bytes();
  const size_t got = ReadUpTo(bytes.data(), bytes.size());
  uint8_t more;
  if (got == bytes.size() && ReadUpTo(&more, 1) == 1) TooLarge();
  if (got == bytes.size()) return array;
  return std::make_unique<client::ByteArray>(bytes.first(got));
}

// A pipe's length is known only at its end: chunks, then the array, each chunk let go as soon as
// it is copied, so that the input is held about once.
std::unique_ptr<client::ByteArray> ReadChunks() {
  std::vector<std::vector<uint8_t>> chunks;
  uint64_t total = 0;
  for (;;) {
    std::vector<uint8_t> chunk(kChunk);
    const size_t got = ReadUpTo(chunk.data(), chunk.size());
    total += got;
    if (total > kMaxStandardInput) TooLarge();
    chunk.resize(got);
    if (got != 0) chunks.push_back(std::move(chunk));
    if (got < kChunk) break;
  }
  auto array = std::make_unique<client::ByteArray>(static_cast<size_t>(total));
  uint8_t* at = array->Bytes().data();
  for (std::vector<uint8_t>& chunk : chunks) {
    if (!chunk.empty()) std::memcpy(at, chunk.data(), chunk.size());
    at += chunk.size();
    std::vector<uint8_t>().swap(chunk);
  }
  return array;
}

}  // namespace

std::unique_ptr<client::ByteArray> ReadStandardInput() {
  struct stat status;
  if (::fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
    const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    if (at >= 0 && at <= status.st_size)
      return ReadKnownSize(static_cast<uint64_t>(status.st_size - at));
  }
  return ReadChunks();
}

}  // namespace quorvex::tools
