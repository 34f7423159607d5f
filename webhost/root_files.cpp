#include "webhost/root_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace quorvex::webhost {

namespace {

constexpr int kFileFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The whole path beneath the root in one call: the kernel refuses any step, symbolic links
// included, that would leave it. -1 with errno ENOSYS where the kernel lacks openat2.
int OpenBeneath(int root, const std::string& relative) {
  open_how how{};
  how.flags = kFileFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
}

// The same without openat2: one segment at a time, no symbolic link followed at any step.
int OpenWalking(int root, std::string_view relative) {
  FileHandle folder(dup(root));
  while (folder) {
    const size_t slash = relative.find('/');
    const std::string segment(relative.substr(0, slash));
    if (slash == std::string_view::npos)
      return openat(folder.get(), segment.c_str(), kFileFlags | O_NOFOLLOW);
    folder = FileHandle(
        openat(folder.get(), segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    relative = relative.substr(slash + 1);
  }
  return -1;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) close(fd_);
}

int FileHandle::Release() noexcept {
  return std::exchange(fd_, -1);
}

RootFiles::RootFiles(const std::string& root)
    : root_(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (!root_) throw std::runtime_error("the root " + root + " is not a folder");
}

std::optional<FileHandle> RootFiles::Open(std::string_view path, uint64_t maxBytes,
                                          SourceVersion* version) const {
  if (path.size() < 2 || path.front() != '/') return std::nullopt;
  // Empty, "." and ".." segments are refused outright rather than resolved: a request naming
  // them is probing.
  for (size_t start = 1; start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    start = end + 1;
  }
  const std::string relative(path.substr(1));
  int fd = OpenBeneath(root_.get(), relative);
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) fd = OpenWalking(root_.get(), relative);
  FileHandle file(fd);
  struct stat info {};
  if (!file || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > maxBytes)
    return std::nullopt;
  version->device = static_cast<uint64_t>(info.st_dev);
  version->inode = static_cast<uint64_t>(info.st_ino);
  version->size = static_cast<uint64_t>(info.st_size);
  version->modifiedNs = int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
  return file;
}

bool RootFiles::Readable() const {
  struct stat info {};
  return fstat(root_.get(), &info) == 0 && info.st_nlink > 0 &&
         faccessat(root_.get(), ".", R_OK | X_OK, AT_EACCESS) == 0;
}

std::string RootFiles::DescriptorPath(const FileHandle& file) {
  return "/proc/self/fd/" + std::to_string(file.get());
}

}  // namespace quorvex::webhost
