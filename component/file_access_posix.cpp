// File access through POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <random>
#include <string>
#include <utility>

#include "component/file_access.h"
#include "imaging/memory_pages.h"
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

enum class OldContent { kRead, kUnreadable, kFailed };

// The content of the regular file described by info (open for writing only), read through a
// descriptor of its own; kUnreadable when the caller may write the file but not read it.
OldContent ReadOldContent(const std::string& name, const struct stat& info,
                          std::vector<uint8_t>& bytes) {
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return errno == EACCES ? OldContent::kUnreadable : OldContent::kFailed;
  struct stat opened;
  if (::fstat(file.get(), &opened) != 0 || opened.st_dev != info.st_dev ||
      opened.st_ino != info.st_ino)
    return OldContent::kFailed;
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return OldContent::kFailed;
    done += static_cast<size_t>(n);
  }
  return OldContent::kRead;
}

[[noreturn]] void CannotWrite(const std::string& name) {
  throw EFCreateError("Cannot create file \"" + name + "\"");
}

// Whether open would follow this link: in a sticky, world-writable directory (/tmp) only the
// links of the follower or of the directory's owner are followed, so a link planted there by
// someone else cannot steer a write.
bool MayFollow(const std::string& link, const struct stat& info) {
  struct stat directory;
  if (info.st_uid == ::geteuid()) return true;
  if (::stat(DirectoryOf(link).c_str(), &directory) != 0) return false;
  const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
  return !shared || directory.st_uid == info.st_uid;
}

// Follows symbolic links in the last component the way open does, but also through a dangling
// link, whose target is where a new file belongs. The kernel resolves the directories on the way.
std::string ResolveLinks(std::string name) {
  constexpr int kMaxLinks = 40;  // Linux's own limit on links in one lookup
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat info;
    if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
    if (!MayFollow(name, info)) CannotWrite(name);
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(name.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) CannotWrite(name);
    target.resize(static_cast<size_t>(length));
    name = target.front() == '/' ? target : DirectoryOf(name) + "/" + target;
  }
  CannotWrite(name);
}

// Removes a temporary file unless it has been put in place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string name) : name_(std::move(name)) {}
  ~TemporaryFile() {
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& name() const { return name_; }
  void Keep() { name_.clear(); }

 private:
  std::string name_;
};

enum class Replacement { kDone, kNotPossible, kFailed };

// Writes a complete file beside name and renames it over name. For an existing file the new one
// takes its owner, group and mode without set-ID bits; kNotPossible, with nothing changed, when
// no such file can be made there (the directory is not writable, or the owner or group cannot
// be given away).
Replacement ReplaceAtomically(const std::string& name, std::span<const uint8_t> bytes,
                              const struct stat* existing) {
  TemporaryFile temporary(TemporaryNameBeside(name));
  // The umask applies to a new file; a replacement starts private and then takes the old mode.
  FileDescriptor file(::open(temporary.name().c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             existing != nullptr ? 0600 : 0666));
  if (!file.valid()) {
    temporary.Keep();  // never created, nothing to remove
    return existing != nullptr ? Replacement::kNotPossible : Replacement::kFailed;
  }
  if (existing != nullptr) {
    struct stat fresh;
    if (::fstat(file.get(), &fresh) != 0) return Replacement::kFailed;
    if ((fresh.st_uid != existing->st_uid || fresh.st_gid != existing->st_gid) &&
        ::fchown(file.get(), existing->st_uid, existing->st_gid) != 0)
      return Replacement::kNotPossible;
    if (::fchmod(file.get(), existing->st_mode & 0777) != 0) return Replacement::kFailed;
  }
  if (!WriteAll(file.get(), bytes) || ::fdatasync(file.get()) != 0 || !file.Close() ||
      ::rename(temporary.name().c_str(), name.c_str()) != 0)
    return Replacement::kFailed;
  temporary.Keep();
  return Replacement::kDone;
}

// Writes through the existing node. The open does not wait for a FIFO's reader (no reader:
// ENXIO, refused); the writes then block as usual.
bool WriteInPlace(const std::string& name, std::span<const uint8_t> bytes) {
  FileDescriptor file(::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return false;
  const int flags = ::fcntl(file.get(), F_GETFL);
  struct stat info;
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      ::fstat(file.get(), &info) != 0)
    return false;
  if (!S_ISREG(info.st_mode)) return WriteAll(file.get(), bytes) && file.Close();
  // The node cannot be swapped for a complete new one, so the old content is kept to be put back
  // if the new one cannot be written whole: never a torn file.
  std::vector<uint8_t> old;
  const OldContent kept = ReadOldContent(name, info, old);
  if (kept == OldContent::kFailed) return false;
  // Room first: on a full disk the old content stays whole.
  if (bytes.size() > static_cast<uint64_t>(info.st_size) &&
      ::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size())) != 0 &&
      errno != EOPNOTSUPP)
    return false;
  if ((info.st_mode & (S_ISUID | S_ISGID)) != 0 && ::fchmod(file.get(), info.st_mode & 0777) != 0)
    return false;
  if (WriteAll(file.get(), bytes) &&
      ::ftruncate(file.get(), static_cast<off_t>(bytes.size())) == 0 &&
      ::fdatasync(file.get()) == 0)
    return file.Close();
  // Put the old content back; the call that failed may well fail again, so this is all it can do.
  if (kept == OldContent::kRead && ::lseek(file.get(), 0, SEEK_SET) == 0 &&
      WriteAll(file.get(), old) && ::ftruncate(file.get(), static_cast<off_t>(old.size())) == 0)
    ::fdatasync(file.get());
  return false;
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
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(info.st_size));
  MapLargeBlock(bytes.data(), bytes.capacity());
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EReadError();
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  // A file that shrank while being read is read as far as it goes.
  bytes.resize(done);
  return bytes;
}

void WriteWholeFile(const std::string& requested, std::span<const uint8_t> bytes) {
  if (requested.empty()) CannotWrite(requested);
  const std::string name = ResolveLinks(requested);
  struct stat existing;
  if (::lstat(name.c_str(), &existing) != 0) {
    if (errno != ENOENT || ReplaceAtomically(name, bytes, nullptr) != Replacement::kDone)
      CannotWrite(requested);
    return;
  }
  if (S_ISDIR(existing.st_mode)) CannotWrite(requested);
  if (S_ISREG(existing.st_mode)) {
    // The rights a truncating open would check, so a read-only file is refused, not replaced.
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) CannotWrite(requested);
    if (existing.st_nlink == 1) {
      const Replacement result = ReplaceAtomically(name, bytes, &existing);
      if (result == Replacement::kDone) return;
      if (result == Replacement::kFailed) CannotWrite(requested);
    }
  }
  if (!WriteInPlace(name, bytes)) CannotWrite(requested);
}

}  // namespace quorvex
