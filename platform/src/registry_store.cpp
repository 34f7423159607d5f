#include "platform/src/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "platform/src/boundary_guard.h"
#include "platform/src/text.h"

namespace platform_detail {

namespace {

constexpr const char* kHeader = "QUORVEX-REGISTRY 1";
// How long a writer waits for another process's lock before it fails.
constexpr std::chrono::milliseconds kLockWait{3000};

uint64_t Fnv1a(const char* data, size_t size) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string Escape(std::u16string_view name) {
  const std::string utf8 = ToUtf8(name);
  std::string out;
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || c == '%' || c == '@' || c == '\\') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::u16string* out) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      const int hi = Hex(text[i + 1]), lo = Hex(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (static_cast<unsigned char>(text[i]) <= 0x20 || text[i] == '@' || text[i] == '\\') {
      return false;
    } else {
      bytes += text[i];
    }
  }
  *out = FromUtf8(bytes);
  return true;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= line.size()) {
    const size_t end = line.find(' ', start);
    parts.push_back(line.substr(start, end == std::string_view::npos ? line.npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

void SerializeKey(const RegistryKey& key, const std::string& path, std::string& out) {
  out += "K " + path + "\n";
  for (const RegistryValue& v : key.values) {
    out += "V " + (v.name.empty() ? std::string("@") : Escape(v.name)) + " " +
           std::to_string(v.type) + " ";
    static const char kDigits[] = "0123456789abcdef";
    for (BYTE b : v.data) {
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
    out += "\n";
  }
  for (const auto& [folded, child] : key.children)
    SerializeKey(child, path + "\\" + Escape(child.name), out);
}

bool IsRootName(std::u16string_view name) {
  return name == u"HKEY_CLASSES_ROOT" || name == u"HKEY_CURRENT_USER" ||
         name == u"HKEY_LOCAL_MACHINE";
}

// An open file descriptor, closed on every path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

LSTATUS ErrnoStatus(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Holds flock on the lock file beside the registry for as long as it lives. A lock that another
// process keeps for longer than `wait` is not taken: a hung writer must not hang every user.
class FileLock {
 public:
  FileLock(const std::string& registry, int operation, std::chrono::milliseconds wait)
      : fd_(OpenLockFile(registry + ".lock")) {
    if (fd_.get() < 0) {
      status_ = ErrnoStatus(errno);
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd_.get(), operation | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        status_ = ErrnoStatus(errno);
        return;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        status_ = ERROR_LOCK_VIOLATION;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  LSTATUS status() const { return status_; }

 private:
  // flock works on a descriptor opened for reading too, for users who may not write the file.
  static int OpenLockFile(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 || errno != EACCES ? fd : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  }

  Fd fd_;
  LSTATUS status_ = ERROR_SUCCESS;
};

std::string DirectoryOf(const std::string& file) {
  const size_t slash = file.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// The file the registry name finally refers to, through symbolic links (a dangling one
// included: its target is where a new registry goes), so that a link is followed, never replaced.
std::string ResolveLinks(std::string file) {
  constexpr int kMaxLinks = 40;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat info;
    if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(file.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) break;
    target.resize(static_cast<size_t>(length));
    file = target.front() == '/' ? target : DirectoryOf(file) + "/" + target;
  }
  return file;
}

LSTATUS EnsureDirectory(const std::string& file) {
  const std::filesystem::path dir = std::filesystem::path(file).parent_path();
  if (dir.empty()) return ERROR_SUCCESS;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return ec ? ErrnoStatus(ec.value()) : ERROR_SUCCESS;
}

LSTATUS ReadFile(const std::string& file, std::string* text, bool* exists) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  *exists = fd.get() >= 0;
  text->clear();
  if (!*exists) return errno == ENOENT ? ERROR_SUCCESS : ErrnoStatus(errno);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus(errno);
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  return ERROR_SUCCESS;
}

LSTATUS LoadUnlocked(const std::string& file, RegistryTree* tree) {
  std::string text;
  bool exists = false;
  LSTATUS status = ReadFile(file, &text, &exists);
  if (status != ERROR_SUCCESS) return status;
  *tree = RegistryTree();
  if (!exists) return ERROR_SUCCESS;
  return ParseRegistry(text, tree);
}

// Writes a complete new file beside the registry and renames it over the old one, which keeps
// its mode and, where the writer may give them, its owner and group.
LSTATUS WriteAtomically(const std::string& file, const std::string& text) {
  struct stat existing;
  const bool replacing = ::stat(file.c_str(), &existing) == 0;
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temp = file + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(random());
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return ErrnoStatus(errno);
  }
  if (fd < 0) return ERROR_REGISTRY_IO_FAILED;
  Fd owned(fd);
  const auto fail = [&](int error) {
    ::unlink(temp.c_str());
    return ErrnoStatus(error);
  };
  if (replacing) {
    // Owner and group where the writer may give them away, else at least the group; the mode
    // is kept either way.
    const bool kept = ::fchown(fd, existing.st_uid, existing.st_gid) == 0 ||
                      ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) == 0;
    static_cast<void>(kept);
    if (::fchmod(fd, existing.st_mode & 0777) != 0) return fail(errno);
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::rename(temp.c_str(), file.c_str()) != 0) return fail(errno);
  return ERROR_SUCCESS;
}

constexpr BoundaryGuard<LSTATUS, ERROR_NOT_ENOUGH_MEMORY> Guarded;

}  // namespace

RegistryValue* RegistryKey::FindValue(std::u16string_view valueName) {
  for (RegistryValue& v : values)
    if (EqualsIgnoreCase(v.name, valueName)) return &v;
  return nullptr;
}

RegistryKey* RegistryKey::FindChild(std::u16string_view childName) {
  const auto it = children.find(Folded(childName));
  return it == children.end() ? nullptr : &it->second;
}

RegistryKey* RegistryTree::Find(const std::vector<std::u16string>& path) {
  if (path.empty()) return nullptr;
  auto it = roots.find(path[0]);
  if (it == roots.end()) {
    if (!IsRootName(path[0])) return nullptr;
    it = roots.emplace(path[0], RegistryKey{path[0], {}, {}}).first;
  }
  RegistryKey* key = &it->second;
  for (size_t i = 1; i < path.size() && key != nullptr; ++i) key = key->FindChild(path[i]);
  return key;
}

std::string RegistryLocation() {
  if (const char* explicitPath = std::getenv("QUORVEX_REGISTRY");
      explicitPath != nullptr && *explicitPath != 0)
    return explicitPath;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
    return std::string(config) + "/quorvex/registry";
  const char* home = std::getenv("HOME");
  std::string homeDir = home != nullptr ? home : "";
  if (homeDir.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
      homeDir = pw->pw_dir;
  }
  return homeDir + "/.config/quorvex/registry";
}

std::string SerializeRegistry(const RegistryTree& tree) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& [rootName, root] : tree.roots) {
    const std::string rootPath = ToUtf8(rootName);
    if (!root.values.empty()) {  // values directly under a root get a root key line
      RegistryKey copy = root;
      copy.children.clear();
      SerializeKey(copy, rootPath, out);
    }
    for (const auto& [folded, child] : root.children)
      SerializeKey(child, rootPath + "\\" + Escape(child.name), out);
  }
  char trailer[40];
  std::snprintf(trailer, sizeof trailer, "E %016llx\n",
                static_cast<unsigned long long>(Fnv1a(out.data(), out.size())));
  return out + trailer;
}

LSTATUS ParseRegistry(const std::string& text, RegistryTree* tree) {
  *tree = RegistryTree();
  // The trailer: the last line, with the checksum of everything before it.
  if (text.empty() || text.back() != '\n') return ERROR_REGISTRY_CORRUPT;
  const size_t lastStart = text.rfind('\n', text.size() - 2);
  if (lastStart == std::string::npos) return ERROR_REGISTRY_CORRUPT;
  const std::string trailer = text.substr(lastStart + 1, text.size() - lastStart - 2);
  const std::string body = text.substr(0, lastStart + 1);
  char expected[40];
  std::snprintf(expected, sizeof expected, "E %016llx",
                static_cast<unsigned long long>(Fnv1a(body.data(), body.size())));
  if (trailer != expected) return ERROR_REGISTRY_CORRUPT;

  // Lines are cut from the text by hand: a stream swallows an allocation failure as the end of
  // its input, and a registry read short would be written back short.
  std::string_view remaining = body;
  const auto nextLine = [&remaining] {
    const size_t end = remaining.find('\n');
    const std::string_view line = remaining.substr(0, end);
    remaining = end == remaining.npos ? std::string_view() : remaining.substr(end + 1);
    return line;
  };
  if (nextLine() != kHeader) return ERROR_REGISTRY_CORRUPT;
  RegistryKey* current = nullptr;
  while (!remaining.empty()) {
    const std::string_view line = nextLine();
    const std::vector<std::string_view> parts = SplitSpaces(line);
    if (parts.size() == 2 && parts[0] == "K") {
      std::vector<std::u16string> path;
      std::string_view rest = parts[1];
      size_t start = 0;
      for (;;) {
        const size_t end = rest.find('\\', start);
        std::u16string component;
        if (!Unescape(rest.substr(start, end == rest.npos ? rest.npos : end - start), &component) ||
            component.empty())
          return ERROR_REGISTRY_CORRUPT;
        path.push_back(std::move(component));
        if (end == rest.npos) break;
        start = end + 1;
      }
      if (!IsRootName(path[0])) return ERROR_REGISTRY_CORRUPT;
      RegistryKey* key = tree->Find({path[0]});
      for (size_t i = 1; i < path.size(); ++i) {
        RegistryKey* child = key->FindChild(path[i]);
        if (child == nullptr)
          child =
              &key->children.emplace(Folded(path[i]), RegistryKey{path[i], {}, {}}).first->second;
        key = child;
      }
      current = key;
    } else if (parts.size() == 4 && parts[0] == "V" && current != nullptr) {
      RegistryValue value;
      if (parts[1] != "@" && !Unescape(parts[1], &value.name)) return ERROR_REGISTRY_CORRUPT;
      if (parts[1] != "@" && value.name.empty()) return ERROR_REGISTRY_CORRUPT;
      char* end = nullptr;
      const std::string type(parts[2]);
      const unsigned long t = std::strtoul(type.c_str(), &end, 10);
      if (type.empty() || *end != 0 || t > 0xFFFFFFFFul) return ERROR_REGISTRY_CORRUPT;
      value.type = static_cast<DWORD>(t);
      const std::string_view hex = parts[3];
      if (hex.size() % 2 != 0) return ERROR_REGISTRY_CORRUPT;
      for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = Hex(hex[i]), lo = Hex(hex[i + 1]);
        if (hi < 0 || lo < 0) return ERROR_REGISTRY_CORRUPT;
        value.data.push_back(static_cast<BYTE>(hi * 16 + lo));
      }
      if (current->FindValue(value.name) != nullptr) return ERROR_REGISTRY_CORRUPT;
      current->values.push_back(std::move(value));
    } else {
      return ERROR_REGISTRY_CORRUPT;
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS LoadRegistry(RegistryTree* tree) {
  return Guarded([&]() -> LSTATUS {
    const std::string file = ResolveLinks(RegistryLocation());
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(file).parent_path(), ec)) {
      *tree = RegistryTree();
      return ERROR_SUCCESS;
    }
    // Replacement is atomic, so a reader that cannot take the lock at once (a writer holds it,
    // or the directory is read-only) still sees a whole file.
    FileLock lock(file, LOCK_SH, std::chrono::milliseconds(0));
    return LoadUnlocked(file, tree);
  });
}

LSTATUS UpdateRegistry(const std::function<LSTATUS(RegistryTree&, bool* changed)>& change) {
  return Guarded([&]() -> LSTATUS {
    const std::string file = ResolveLinks(RegistryLocation());
    LSTATUS status = EnsureDirectory(file);
    if (status != ERROR_SUCCESS) return status;
    FileLock lock(file, LOCK_EX, kLockWait);
    if (lock.status() != ERROR_SUCCESS) return lock.status();
    RegistryTree tree;
    status = LoadUnlocked(file, &tree);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    status = change(tree, &changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    return WriteAtomically(file, SerializeRegistry(tree));
  });
}

}  // namespace platform_detail
