// File access through the Windows file API, for builds where Windows (or Wine) is the platform.
// Names arrive in the ANSI code page, so the ...A entry points take them as they are.
#include <algorithm>
#include <atomic>
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

void ReplaceFile(const std::string& name, std::span<const uint8_t> bytes) {
  const auto fail = [&] { throw EFCreateError("Cannot create file \"" + name + "\""); };
  if (name.empty()) fail();
  const DWORD existing = GetFileAttributesA(name.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) fail();
  const std::string temporary = TemporaryNameBeside(name);
  FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) fail();
  bool ok = WriteAll(file.get(), bytes);
  ok = file.Close() && ok;
  if (!ok || !MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temporary.c_str());
    fail();
  }
}

}  // namespace quorvex
