// The registry kept in a file: round trips, Windows' case rules, deletion rules, a damaged file
// and concurrent writers from several processes; mode, owner and links kept, a bounded lock wait.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/ole_text.h"

namespace {

namespace fs = std::filesystem;

// Under Windows the cases that use only the registry functions run against the system's registry
// (a fresh Wine prefix's); those about the file that holds it here are this platform's own.
class Registry : public ::testing::Test {
 protected:
#ifndef _WIN32
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv_registry_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "sub" / "registry").string();
    ::setenv("QUORVEX_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUORVEX_REGISTRY");
    fs::remove_all(dir_);
  }
#endif

  static LSTATUS SetString(HKEY key, const OLECHAR* name, const OleString& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR)));
  }
  static OleString GetString(HKEY key, const OLECHAR* name) {
    OLECHAR buffer[256] = {};
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
      return OLESTR("<missing>");
    return OleString(buffer);
  }
  static HKEY Create(const OLECHAR* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static OleString DefaultValueOf(const OLECHAR* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return OLESTR("<no key>");
    const OleString value = GetString(key, nullptr);
    RegCloseKey(key);
    return value;
  }
  std::string FileBytes() const {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(Registry, StringValuesRoundTripWithTheirTerminator) {
  HKEY key = Create(OLESTR("CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"));
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetString(key, nullptr, OLESTR("/opt/lib/module.so")), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, OLESTR("ThreadingModel"), OLESTR("Both")), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
#ifndef _WIN32
  EXPECT_TRUE(fs::exists(file_)) << "the directory is created on the first write";
#endif

  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT,
                          OLESTR("CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"),
                          0, KEY_READ, &again),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(again, OLESTR(""), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, (18u + 1) * 2) << "stored with its terminating zero, as written";
  EXPECT_EQ(GetString(again, nullptr), OLESTR("/opt/lib/module.so"));
  EXPECT_EQ(GetString(again, OLESTR("ThreadingModel")), OLESTR("Both"));
  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(again, nullptr, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 38u);
  EXPECT_EQ(RegQueryValueExW(again, OLESTR("Missing"), nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(again);
}

TEST_F(Registry, NamesAreCaseInsensitiveButKeepTheirCase) {
  HKEY key = Create(OLESTR("Quorvex.Resize\\Clsid"));
  SetString(key, nullptr, OLESTR("{X}"));
  SetString(key, OLESTR("Name"), OLESTR("first"));
  SetString(key, OLESTR("NAME"), OLESTR("second"));
  RegCloseKey(key);
  HKEY upper = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("QUORVEX.RESIZE\\CLSID"), 0, KEY_READ, &upper),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(upper, OLESTR("name")), OLESTR("second")) << "one value, replaced";
  RegCloseKey(upper);
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("quorvex.resize"), 0, KEY_READ, &parent),
            ERROR_SUCCESS);
  OLECHAR name[64];
  DWORD length = 64;
  ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(OleString(name), OLESTR("Clsid"));
  EXPECT_EQ(length, 5u);
  length = 64;
  EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  length = 5;
  EXPECT_EQ(RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  RegCloseKey(parent);
}

TEST_F(Registry, CreateReportsWhetherTheKeyIsNew) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("A\\B"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  HKEY sub = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(key, OLESTR("C"), 0, nullptr, 0, KEY_WRITE, nullptr, &sub, &disposition),
      ERROR_SUCCESS);
  RegCloseKey(sub);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("a\\b"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &sub, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(sub);
  RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("\\lead"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &sub, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, KeysWithSubKeysCannotBeDeleted) {
  RegCloseKey(Create(OLESTR("Parent\\Child")));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Parent")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("parent\\child")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Parent\\Child")), ERROR_FILE_NOT_FOUND);
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Parent"), 0, KEY_WRITE, &parent),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Parent")), ERROR_SUCCESS);
  EXPECT_EQ(SetString(parent, nullptr, OLESTR("x")), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_INVALID_HANDLE);
  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Parent"), 0, KEY_READ, &none),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(none, nullptr);
}

TEST_F(Registry, ValuesCanBeDeletedAndKeysHoldBinaryData) {
  HKEY key = Create(OLESTR("Data"));
  const BYTE bytes[] = {0, 1, 2, 0xFF, '\n', ' '};
  ASSERT_EQ(
      RegSetValueExW(key, OLESTR("bin value\\with%odd@chars"), 0, REG_BINARY, bytes, sizeof bytes),
      ERROR_SUCCESS);
  BYTE back[16];
  DWORD size = sizeof back, type = 0;
  ASSERT_EQ(RegQueryValueExW(key, OLESTR("BIN VALUE\\WITH%ODD@CHARS"), nullptr, &type, back, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(std::vector<BYTE>(back, back + size), std::vector<BYTE>(bytes, bytes + sizeof bytes));
  EXPECT_EQ(RegDeleteValueW(key, OLESTR("bin value\\with%odd@chars")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, OLESTR("bin value\\with%odd@chars")), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

#ifndef _WIN32
struct Damage {
  const char* name;
  void (*apply)(std::string& bytes);
};

class DamagedRegistry : public Registry, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedRegistry, IsReportedAndNeverOverwritten) {
  HKEY key = Create(OLESTR("Kept\\Safe"));
  SetString(key, nullptr, OLESTR("precious"));
  RegCloseKey(key);
  std::string bytes = FileBytes();
  GetParam().apply(bytes);
  std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;

  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Kept\\Safe"), 0, KEY_READ, &opened),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("Other"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &opened, nullptr),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Kept\\Safe")), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(FileBytes(), bytes) << "the damaged file is left for the user to repair";
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(OLESTR("Kept"), &clsid), REGDB_E_READREGDB);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamagedRegistry,
    ::testing::Values(Damage{"FlippedByte", [](std::string& b) { b[b.size() / 2] ^= 0x20; }},
                      Damage{"Truncated", [](std::string& b) { b.resize(b.size() / 2); }},
                      Damage{"Empty", [](std::string& b) { b.clear(); }},
                      Damage{"Garbage",
                             [](std::string& b) {
                               b = "\x7f"
                                   "ELF not a registry\n";
                             }},
                      Damage{"ExtraLine",
                             [](std::string& b) { b.insert(b.find('\n') + 1, "K x\n"); }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST_F(Registry, ConcurrentWritersLoseNothing) {
  constexpr int kProcesses = 3;
  constexpr int kKeysEach = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int k = 0; k < kKeysEach; ++k) {
        const std::string path = "Writers\\P" + std::to_string(p) + "K" + std::to_string(k);
        const OleString wide(path.begin(), path.end());
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, wide.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS ||
            SetString(key, nullptr, wide) != ERROR_SUCCESS)
          ++failures;
        RegCloseKey(key);
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  // This process writes from two threads at the same time.
  auto writer = [](int t) {
    for (int k = 0; k < kKeysEach; ++k) {
      const std::string path = "Writers\\T" + std::to_string(t) + "K" + std::to_string(k);
      const OleString wide(path.begin(), path.end());
      HKEY key = nullptr;
      RegCreateKeyExW(HKEY_CLASSES_ROOT, wide.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr);
      RegCloseKey(key);
    }
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY writers = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Writers"), 0, KEY_READ, &writers),
            ERROR_SUCCESS);
  DWORD count = 0;
  OLECHAR name[64];
  for (;; ++count) {
    DWORD length = 64;
    if (RegEnumKeyExW(writers, count, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
  }
  EXPECT_EQ(count, static_cast<DWORD>((kProcesses + 2) * kKeysEach));
  RegCloseKey(writers);
  HKEY one = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Writers\\P2K24"), 0, KEY_READ, &one),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(one, nullptr), OLESTR("Writers\\P2K24"));
  RegCloseKey(one);
}

TEST_F(Registry, DefaultLocationFollowsTheConfigDirectory) {
  ::unsetenv("QUORVEX_REGISTRY");
  const fs::path config = dir_ / "config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  RegCloseKey(Create(OLESTR("Somewhere")));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_TRUE(fs::exists(config / "quorvex" / "registry"));
}

// A rewrite keeps what the file's owner chose for it, so other users go on reading it.
struct Kept {
  mode_t mode;
  bool otherOwner;
};
class RegistryRewrite : public Registry, public ::testing::WithParamInterface<Kept> {};
TEST_P(RegistryRewrite, KeepsModeAndOwner) {
  if (GetParam().otherOwner && ::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  HKEY key = Create(OLESTR("Kept"));
  ASSERT_EQ(SetString(key, nullptr, OLESTR("one")), ERROR_SUCCESS);
  ASSERT_EQ(::chmod(file_.c_str(), GetParam().mode), 0);
  const uid_t owner = GetParam().otherOwner ? 65534 : ::geteuid();
  ASSERT_EQ(::chown(file_.c_str(), owner, GetParam().otherOwner ? 65534 : ::getegid()), 0);
  ASSERT_EQ(SetString(key, nullptr, OLESTR("two")), ERROR_SUCCESS);
  RegCloseKey(key);
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, GetParam().mode);
  EXPECT_EQ(info.st_uid, owner);
  EXPECT_EQ(DefaultValueOf(OLESTR("Kept")), OLESTR("two"));
  for (const auto& entry : fs::directory_iterator(fs::path(file_).parent_path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry" || name == "registry.lock") << "left behind: " << name;
  }
}
INSTANTIATE_TEST_SUITE_P(Modes, RegistryRewrite,
                         ::testing::Values(Kept{0644, false}, Kept{0640, false}, Kept{0600, false},
                                           Kept{0664, true}, Kept{0604, true}));

TEST_F(Registry, ASymbolicLinkIsFollowedNotReplaced) {
  const fs::path real = dir_ / "elsewhere" / "registry";
  fs::create_directories(real.parent_path());
  fs::create_directories(fs::path(file_).parent_path());
  fs::create_symlink(real, file_);
  for (const OLECHAR* name : {OLESTR("First"), OLESTR("Second")}) {
    HKEY key = Create(name);
    ASSERT_EQ(SetString(key, nullptr, name), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real)));
  }
  EXPECT_EQ(DefaultValueOf(OLESTR("First")), OLESTR("First"));
  EXPECT_EQ(DefaultValueOf(OLESTR("Second")), OLESTR("Second"));
}

TEST_F(Registry, AWriterGivesUpOnALockHeldElsewhereAndReadersGoOn) {
  RegCloseKey(Create(OLESTR("Before")));
  const int lock = ::open((file_ + ".lock").c_str(), O_RDWR);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("During"), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_LOCK_VIOLATION);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  HKEY before = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Before"), 0, KEY_READ, &before),
            ERROR_SUCCESS);
  RegCloseKey(before);
  ::close(lock);
  RegCloseKey(Create(OLESTR("After")));
}
#endif

TEST_F(Registry, BadHandlesAndArguments) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x5000), OLESTR("x"), 0, KEY_READ, &key),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("x"), 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExW(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  const OleString longName(256, OLECHAR('k'));
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, longName.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_INVALID_PARAMETER);
}

}  // namespace
