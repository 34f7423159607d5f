// The replacements. Each counts itself while armed, fails when its turn comes, and otherwise
// calls the function it replaces: the sanitizer's allocator when there is one (its interceptors
// are reachable under their own names), else the C library's, found as the next definition.
#include "tests/faults/fault_hook.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace quorvex::faults {
namespace {

std::atomic<bool> armed{false};
std::atomic<Kind> armedKind{Kind::kAllocation};
std::atomic<long> counted{0};
std::atomic<long> target{0};
std::atomic<bool> fired{false};
// Set by a short write: the next write finds the disk full.
std::atomic<bool> diskFull{false};

// Whether this call of kind is the one to fail.
bool Strikes(Kind kind) {
  if (!armed.load(std::memory_order_relaxed) || armedKind.load() != kind) return false;
  if (counted.fetch_add(1) + 1 != target.load()) return false;
  fired = true;
  return true;
}

bool IoFails(int error) {
  if (error == ENOSPC && diskFull.exchange(false)) return errno = ENOSPC, true;
  if (!Strikes(Kind::kIo)) return false;
  errno = error;
  return true;
}

// The definition this file replaces, looked up once.
template <typename Fn>
Fn Next(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) std::abort();
  return reinterpret_cast<Fn>(found);
}
#define NEXT(name, type) static const auto next = quorvex::faults::Next<type>(#name)

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kAllocation:
      return "allocation";
    case Kind::kIo:
      return "I/O call";
    case Kind::kShortIo:
      return "short transfer";
  }
  return "?";
}

void Arm(Kind kind, long nth) {
  counted = 0;
  fired = false;
  diskFull = false;
  target = nth;
  armedKind = kind;
  armed = true;
}

bool Disarm() {
  armed = false;
  diskFull = false;
  return fired;
}

long Counted() {
  return counted;
}

}  // namespace quorvex::faults

using quorvex::faults::IoFails;
using quorvex::faults::Kind;
using quorvex::faults::Strikes;

// The allocators underneath: the sanitizer's when it is loaded, else the C library's own.
extern "C" {
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
void* __interceptor_aligned_alloc(size_t, size_t) __attribute__((weak));
int __interceptor_posix_memalign(void**, size_t, size_t) __attribute__((weak));
void* __interceptor_memalign(size_t, size_t) __attribute__((weak));
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

bool AllocationFails() {
  if (!Strikes(Kind::kAllocation)) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
  if (AllocationFails()) return nullptr;
  return __interceptor_malloc ? __interceptor_malloc(size) : __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (AllocationFails()) return nullptr;
  return __interceptor_calloc ? __interceptor_calloc(count, size) : __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  if (size != 0 && AllocationFails()) return nullptr;
  return __interceptor_realloc ? __interceptor_realloc(block, size) : __libc_realloc(block, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  if (AllocationFails()) return nullptr;
  return __interceptor_aligned_alloc ? __interceptor_aligned_alloc(alignment, size)
                                     : __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
  if (AllocationFails()) return nullptr;
  return __interceptor_memalign ? __interceptor_memalign(alignment, size)
                                : __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (AllocationFails()) return ENOMEM;
  if (__interceptor_posix_memalign) return __interceptor_posix_memalign(result, alignment, size);
  *result = __libc_memalign(alignment, size);
  return *result != nullptr ? 0 : ENOMEM;
}

int open(const char* name, int flags, ...) {
  NEXT(open, int (*)(const char*, int, ...));
  mode_t mode = 0;
  if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  if (IoFails(EMFILE)) return -1;
  return next(name, flags, mode);
}

int open64(const char* name, int flags, ...) {
  NEXT(open64, int (*)(const char*, int, ...));
  mode_t mode = 0;
  if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  if (IoFails(EMFILE)) return -1;
  return next(name, flags, mode);
}

FILE* fopen(const char* name, const char* mode) {
  NEXT(fopen, FILE * (*)(const char*, const char*));
  return IoFails(EMFILE) ? nullptr : next(name, mode);
}

FILE* fopen64(const char* name, const char* mode) {
  NEXT(fopen64, FILE * (*)(const char*, const char*));
  return IoFails(EMFILE) ? nullptr : next(name, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
  NEXT(read, ssize_t(*)(int, void*, size_t));
  if (IoFails(EIO)) return -1;
  if (count >= 2 && Strikes(Kind::kShortIo)) count /= 2;
  return next(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count) {
  NEXT(write, ssize_t(*)(int, const void*, size_t));
  if (IoFails(ENOSPC)) return -1;
  if (count >= 2 && Strikes(Kind::kShortIo)) {
    quorvex::faults::diskFull = true;
    return next(fd, buffer, count / 2);
  }
  return next(fd, buffer, count);
}

int fsync(int fd) {
  NEXT(fsync, int (*)(int));
  return IoFails(EIO) ? -1 : next(fd);
}

int fdatasync(int fd) {
  NEXT(fdatasync, int (*)(int));
  return IoFails(EIO) ? -1 : next(fd);
}

int rename(const char* from, const char* to) {
  NEXT(rename, int (*)(const char*, const char*));
  return IoFails(EIO) ? -1 : next(from, to);
}

int fallocate(int fd, int mode, off_t offset, off_t length) {
  NEXT(fallocate, int (*)(int, int, off_t, off_t));
  return IoFails(ENOSPC) ? -1 : next(fd, mode, offset, length);
}

int ftruncate(int fd, off_t length) {
  NEXT(ftruncate, int (*)(int, off_t));
  return IoFails(EIO) ? -1 : next(fd, length);
}

// A failed close has still closed the descriptor, as on Linux.
int close(int fd) {
  NEXT(close, int (*)(int));
  const int result = next(fd);
  return IoFails(EIO) ? -1 : result;
}

int stat(const char* name, struct stat* info) {
  NEXT(stat, int (*)(const char*, struct stat*));
  return IoFails(EIO) ? -1 : next(name, info);
}

int lstat(const char* name, struct stat* info) {
  NEXT(lstat, int (*)(const char*, struct stat*));
  return IoFails(EIO) ? -1 : next(name, info);
}

int fstat(int fd, struct stat* info) {
  NEXT(fstat, int (*)(int, struct stat*));
  return IoFails(EIO) ? -1 : next(fd, info);
}

int faccessat(int directory, const char* name, int mode, int flags) {
  NEXT(faccessat, int (*)(int, const char*, int, int));
  return IoFails(EIO) ? -1 : next(directory, name, mode, flags);
}

ssize_t readlink(const char* name, char* buffer, size_t size) {
  NEXT(readlink, ssize_t(*)(const char*, char*, size_t));
  return IoFails(EIO) ? -1 : next(name, buffer, size);
}

int unlink(const char* name) {
  NEXT(unlink, int (*)(const char*));
  return IoFails(EIO) ? -1 : next(name);
}

int fchmod(int fd, mode_t mode) {
  NEXT(fchmod, int (*)(int, mode_t));
  return IoFails(EIO) ? -1 : next(fd, mode);
}

int fchown(int fd, uid_t owner, gid_t group) {
  NEXT(fchown, int (*)(int, uid_t, gid_t));
  return IoFails(EIO) ? -1 : next(fd, owner, group);
}

int flock(int fd, int operation) {
  NEXT(flock, int (*)(int, int));
  return IoFails(EIO) ? -1 : next(fd, operation);
}

}  // extern "C"

// operator new keeps the runtime's own (the sanitizer checks new against delete); only the
// failure is added.
namespace {

template <typename... Args>
void* NextNew(const char* mangled, Args... args) {
  using Fn = void* (*)(Args...);
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, mangled))(args...);
}

}  // namespace

void* operator new(size_t size) {
  static const auto next = reinterpret_cast<void* (*)(size_t)>(dlsym(RTLD_NEXT, "_Znwm"));
  if (AllocationFails()) throw std::bad_alloc();
  return next(size);
}

void* operator new[](size_t size) {
  static const auto next = reinterpret_cast<void* (*)(size_t)>(dlsym(RTLD_NEXT, "_Znam"));
  if (AllocationFails()) throw std::bad_alloc();
  return next(size);
}

void* operator new(size_t size, std::align_val_t alignment) {
  if (AllocationFails()) throw std::bad_alloc();
  return NextNew("_ZnwmSt11align_val_t", size, alignment);
}

void* operator new[](size_t size, std::align_val_t alignment) {
  if (AllocationFails()) throw std::bad_alloc();
  return NextNew("_ZnamSt11align_val_t", size, alignment);
}

void* operator new(size_t size, const std::nothrow_t& tag) noexcept {
  if (AllocationFails()) return nullptr;
  return NextNew<size_t, const std::nothrow_t&>("_ZnwmRKSt9nothrow_t", size, tag);
}

void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  if (AllocationFails()) return nullptr;
  return NextNew<size_t, const std::nothrow_t&>("_ZnamRKSt9nothrow_t", size, tag);
}
