// File access through the Windows file API, for builds where Windows (or Wine) is the platform.
// Names arrive in the ANSI code page, so the ...A entry points take them as they are.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>

#include "component/file_access.h"
#include "jpegextra/memory_stream.h"
#include "platform/winapi.h"

namespace quorvex {

namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes now and reports whether the close (which may flush) succeeded.
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != FALSE;
  }

 private:
  HANDLE handle_;
};

// Both separators are valid in Windows paths.
std::string DirectoryOf(const std::string& name) {
  const auto separator = name.find_last_of("\\/");
  if (separator == std::string::npos) {
    // "C:name" is relative to the drive's current directory.
    return name.size() >= 2 && name[1] == ':' ? name.substr(0, 2) : std::string(".");
  }
  return name.substr(0, separator + 1);
}

std::string TemporaryNameBeside(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::string directory = DirectoryOf(name);
  if (directory.back() != '\\' && directory.back() != '/' && directory.back() != ':')
    directory += '\\';
  return directory + ".quorvex-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter++) + "-" + std::to_string(random()) + ".tmp";
}

bool WriteAll(HANDLE file, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

[[noreturn]] void CannotWrite(const std::string& name) {
  throw EFCreateError("Cannot create file \"" + name + "\"");
}

bool MoveTo(HANDLE file, int64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

// The path a reparse point (a symbolic link, a junction) leads to when its target exists; a
// dangling link is left as it is, and opening it creates the target.
std::string ResolveLinks(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return name;
  FileHandle target(CreateFileA(name.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!target.valid()) return name;
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleA(target.get(), path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return name;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
}

enum class Replacement { kDone, kNotPossible, kFailed };

// Writes a complete file beside name and puts it in place: ReplaceFile for an existing file,
// which keeps its attributes, security descriptor and creation time; kNotPossible, with nothing
// changed, when no file can be created beside it.
Replacement ReplaceAtomically(const std::string& name, std::span<const uint8_t> bytes,
                              bool existing) {
  const std::string temporary = TemporaryNameBeside(name);
  FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return existing ? Replacement::kNotPossible : Replacement::kFailed;
  bool ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  if (ok) {
    ok = existing ? ReplaceFileA(name.c_str(), temporary.c_str(), nullptr,
                                 REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                  : MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!ok) {
    DeleteFileA(temporary.c_str());
    return Replacement::kFailed;
  }
  return Replacement::kDone;
}

// Writes through the node that is there (a device, a pipe, a file with several names, a file in
// a directory the caller cannot write to, a dangling link's target).
bool WriteInPlace(const std::string& name, std::span<const uint8_t> bytes) {
  FileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return WriteAll(file.get(), bytes) && file.Close();
  LARGE_INTEGER size{};
  const auto wanted = static_cast<int64_t>(bytes.size());
  if (!GetFileSizeEx(file.get(), &size)) return false;
  // Room first: on a full disk the old content stays whole.
  if (wanted > size.QuadPart && (!MoveTo(file.get(), wanted) || !SetEndOfFile(file.get())))
    return false;
  return MoveTo(file.get(), 0) && WriteAll(file.get(), bytes) && MoveTo(file.get(), wanted) &&
         SetEndOfFile(file.get()) && FlushFileBuffers(file.get()) && file.Close();
}

}  // namespace

bool IsExistingFile(const std::string& name) {
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::vector<uint8_t> ReadWholeFile(const std::string& name) {
  FileHandle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) throw EFOpenError("Cannot open file \"" + name + "\"");
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxFileBytes)
    throw EReadError();
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read,
                  nullptr) ||
        read == 0)
      break;
    done += read;
  }
  // A file that shrank while being read is read as far as it goes.
  bytes.resize(done);
  return bytes;
}

void WriteWholeFile(const std::string& requested, std::span<const uint8_t> bytes) {
  if (requested.empty()) CannotWrite(requested);
  const std::string name = ResolveLinks(requested);
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (ReplaceAtomically(name, bytes, false) != Replacement::kDone) CannotWrite(requested);
    return;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
    CannotWrite(requested);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    FileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) CannotWrite(requested);
    BY_HANDLE_FILE_INFORMATION information{};
    const bool single = GetFileType(file.get()) == FILE_TYPE_DISK &&
                        GetFileInformationByHandle(file.get(), &information) &&
                        information.nNumberOfLinks == 1;
    file.Close();
    if (single) {
      const Replacement result = ReplaceAtomically(name, bytes, true);
      if (result == Replacement::kDone) return;
      if (result == Replacement::kFailed) CannotWrite(requested);
    }
  }
  if (!WriteInPlace(name, bytes)) CannotWrite(requested);
}

}  // namespace quorvex
