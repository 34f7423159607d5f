// File access through POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>

#include "component/file_access.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close (which may flush) succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string DirectoryOf(const std::string& name) {
  const auto slash = name.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

std::string TemporaryNameBeside(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  return DirectoryOf(name) + "/.quorvex-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + "-" + std::to_string(random()) + ".tmp";
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool IsExistingFile(const std::string& name) {
  struct stat info;
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<uint8_t> ReadWholeFile(const std::string& name) {
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) throw EFOpenError("Cannot open file \"" + name + "\"");
  struct stat info;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > kMaxFileBytes)
    throw EReadError();
  std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // A file that shrank while being read is read as far as it goes.
  bytes.resize(done);
  return bytes;
}

void ReplaceFile(const std::string& name, std::span<const uint8_t> bytes) {
  const auto fail = [&] { throw EFCreateError("Cannot create file \"" + name + "\""); };
  struct stat existing;
  const bool replacing = ::stat(name.c_str(), &existing) == 0;
  if (name.empty() || (replacing && S_ISDIR(existing.st_mode))) fail();
  const std::string temporary = TemporaryNameBeside(name);
  // The umask applies to a new file; a replaced file keeps its permission bits.
  FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!file.valid()) fail();
  bool ok = WriteAll(file.get(), bytes);
  if (ok && replacing) ok = ::fchmod(file.get(), existing.st_mode & 07777) == 0;
  ok = file.Close() && ok;
  if (!ok || ::rename(temporary.c_str(), name.c_str()) != 0) {
    ::unlink(temporary.c_str());
    fail();
  }
}

}  // namespace quorvex
