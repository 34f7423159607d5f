// Request paths opened beneath the served root, which no path can leave: the file is opened
// once, and what is served is what that open found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "webhost/answer_validators.h"

namespace quorvex::webhost {

// An open file descriptor, closed when the owner goes.
class FileHandle {
 public:
  explicit FileHandle(int fd = -1) noexcept : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  ~FileHandle();
  int get() const noexcept { return fd_; }
  int Release() noexcept;
  explicit operator bool() const noexcept { return fd_ >= 0; }

 private:
  int fd_;
};

class RootFiles {
 public:
  // Throws std::runtime_error when root is not a folder that can be opened.
  explicit RootFiles(const std::string& root);

  // The regular file a decoded request path names, opened read-only and without blocking
  // (a FIFO put in a file's place cannot hold a worker), with no step through a symbolic link
  // out of the root, no ".." and no "." segment, and no more than maxBytes long; which file
  // and version it is (its length included) goes to version. Nothing in every other case,
  // alike: missing, unreadable, outside, not regular, too large.
  std::optional<FileHandle> Open(std::string_view path, uint64_t maxBytes,
                                 SourceVersion* version) const;

  // Whether the root can still be listed and entered: it has not been removed, and its
  // permissions let this process read it.
  bool Readable() const;

  // The name that reaches an open file again without its path.
  static std::string DescriptorPath(const FileHandle& file);

 private:
  FileHandle root_;
};

}  // namespace quorvex::webhost
