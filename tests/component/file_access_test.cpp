// How LoadFromFile and SaveToFile reach files: names byte for byte, and where SaveToFile puts the
// bytes (through links, into devices, FIFOs and sockets, around permissions and owners, as root
// and as an unprivileged user, and on a full disk).
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/com_ptr.h"
#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "tests/support/failure.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::FailureOf;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const std::vector<uint8_t> kOldContent = {1, 2, 3};

bool IsRoot() {
  return ::geteuid() == 0;
}

// The unprivileged user: nobody when the tests run as root, else the user running them.
uid_t Unprivileged() {
  return IsRoot() ? 65534 : ::geteuid();
}
gid_t UnprivilegedGroup() {
  return IsRoot() ? 65534 : ::getegid();
}

enum class User { kRoot, kUnprivileged };

uid_t UidOf(User user) {
  return user == User::kRoot ? 0 : Unprivileged();
}

// Runs body in a child process as user, with umask 022; returns what body returns.
std::string RunAs(User user, const std::function<std::string()>& body) {
  int channel[2];
  if (::pipe(channel) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    ::umask(022);
    if (user == User::kUnprivileged && IsRoot() &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
         ::setresuid(65534, 65534, 65534) != 0))
      ::_exit(2);
    const std::string result = body();
    const bool written =
        ::write(channel[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(channel[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return result;
}

void MakeFile(const fs::path& file, mode_t mode, uid_t owner, gid_t group) {
  WriteBytes(file.string(), kOldContent);
  ASSERT_EQ(::chown(file.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(file.c_str(), mode), 0);
}

void MakeDirectory(const fs::path& dir, mode_t mode, uid_t owner) {
  fs::create_directory(dir);
  ASSERT_EQ(::chown(dir.c_str(), owner, owner == 0 ? 0 : UnprivilegedGroup()), 0);
  ASSERT_EQ(::chmod(dir.c_str(), mode), 0);
}

// Memory devices 1:3 (null) and 1:7 (full), writable by everyone.
void MakeDevice(const fs::path& node, unsigned minor) {
  ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minor)), 0);
  ASSERT_EQ(::chmod(node.c_str(), 0666), 0);
}

enum class Outcome { kCreated, kReplaced, kInPlace, kWritten, kRefused };

struct SaveCase {
  const char* name;
  User user;
  bool setupNeedsRoot;
  // Makes the scene inside the directory "d" (already made, owned by the user, mode 0755).
  std::function<void(const fs::path& d)> setup;
  const char* saveTo;  // inside d
  const char* holder;  // inside d: the file that holds the result; null for devices and the like
  Outcome outcome;
  mode_t mode;      // the holder's permission bits afterwards
  User owner;       // the holder's owner afterwards
  mode_t nodeType;  // what saveTo is afterwards (S_IFREG, S_IFLNK, ...)
};

std::ostream& operator<<(std::ostream& out, const SaveCase& c) {
  return out << c.name;
}

void Own(const fs::path& d, const char* file, mode_t mode, User owner) {
  const uid_t uid = UidOf(owner);
  MakeFile(d / file, mode, uid, uid == 0 ? 0 : UnprivilegedGroup());
}

const SaveCase kSaveCases[] = {
    {"NewFile", User::kUnprivileged, false, [](const fs::path&) {}, "new.jpg", "new.jpg",
     Outcome::kCreated, 0644, User::kUnprivileged, S_IFREG},
    {"NewFileAsRoot", User::kRoot, false, [](const fs::path&) {}, "new.jpg", "new.jpg",
     Outcome::kCreated, 0644, User::kRoot, S_IFREG},
    {"OwnFileKeepsItsMode", User::kUnprivileged, false,
     [](const fs::path& d) { Own(d, "f.jpg", 0640, User::kUnprivileged); }, "f.jpg", "f.jpg",
     Outcome::kReplaced, 0640, User::kUnprivileged, S_IFREG},
    {"RootKeepsAnotherUsersOwnership", User::kRoot, true,
     [](const fs::path& d) { Own(d, "f.jpg", 0604, User::kUnprivileged); }, "f.jpg", "f.jpg",
     Outcome::kReplaced, 0604, User::kUnprivileged, S_IFREG},
    {"SetIdBitsAreDropped", User::kRoot, true,
     [](const fs::path& d) { Own(d, "f.jpg", 06755, User::kUnprivileged); }, "f.jpg", "f.jpg",
     Outcome::kReplaced, 0755, User::kUnprivileged, S_IFREG},
    {"ReadOnlyFileIsRefused", User::kUnprivileged, false,
     [](const fs::path& d) { Own(d, "f.jpg", 0444, User::kUnprivileged); }, "f.jpg", "f.jpg",
     Outcome::kRefused, 0444, User::kUnprivileged, S_IFREG},
    {"RootMayWriteAReadOnlyFile", User::kRoot, false,
     [](const fs::path& d) { Own(d, "f.jpg", 0444, User::kRoot); }, "f.jpg", "f.jpg",
     Outcome::kReplaced, 0444, User::kRoot, S_IFREG},
    {"AnotherUsersWritableFileIsWrittenInPlace", User::kUnprivileged, true,
     [](const fs::path& d) { Own(d, "f.jpg", 0666, User::kRoot); }, "f.jpg", "f.jpg",
     Outcome::kInPlace, 0666, User::kRoot, S_IFREG},
    {"FileInAReadOnlyDirectoryIsWrittenInPlace", User::kUnprivileged, false,
     [](const fs::path& d) {
       Own(d, "f.jpg", 0644, User::kUnprivileged);
       ::chmod(d.c_str(), 0555);
     },
     "f.jpg", "f.jpg", Outcome::kInPlace, 0644, User::kUnprivileged, S_IFREG},
    {"SymbolicLinkIsFollowed", User::kUnprivileged, false,
     [](const fs::path& d) {
       Own(d, "target.jpg", 0640, User::kUnprivileged);
       fs::create_symlink("target.jpg", d / "link.jpg");
     },
     "link.jpg", "target.jpg", Outcome::kReplaced, 0640, User::kUnprivileged, S_IFLNK},
    {"LinkChainAcrossDirectoriesIsFollowed", User::kRoot, false,
     [](const fs::path& d) {
       fs::create_directory(d / "sub");
       Own(d, "sub/target.jpg", 0600, User::kRoot);
       fs::create_symlink("target.jpg", d / "sub/inner.jpg");
       fs::create_symlink(d / "sub/inner.jpg", d / "link.jpg");
     },
     "link.jpg", "sub/target.jpg", Outcome::kReplaced, 0600, User::kRoot, S_IFLNK},
    {"ForeignLinkInAStickyDirectoryIsNotFollowed", User::kRoot, true,
     [](const fs::path& d) {
       Own(d, "victim.jpg", 0644, User::kRoot);
       fs::create_symlink("victim.jpg", d / "link.jpg");
       ASSERT_EQ(::lchown((d / "link.jpg").c_str(), Unprivileged(), UnprivilegedGroup()), 0);
       ::chmod(d.c_str(), 01777);
     },
     "link.jpg", "victim.jpg", Outcome::kRefused, 0644, User::kRoot, S_IFLNK},
    {"DanglingLinkCreatesItsTarget", User::kUnprivileged, false,
     [](const fs::path& d) { fs::create_symlink("made.jpg", d / "link.jpg"); }, "link.jpg",
     "made.jpg", Outcome::kCreated, 0644, User::kUnprivileged, S_IFLNK},
    {"HardLinksShareTheNewContent", User::kUnprivileged, false,
     [](const fs::path& d) {
       Own(d, "a.jpg", 0644, User::kUnprivileged);
       fs::create_hard_link(d / "a.jpg", d / "b.jpg");
     },
     "a.jpg", "b.jpg", Outcome::kInPlace, 0644, User::kUnprivileged, S_IFREG},
    {"HardLinksAsRoot", User::kRoot, false,
     [](const fs::path& d) {
       Own(d, "a.jpg", 0644, User::kRoot);
       fs::create_hard_link(d / "a.jpg", d / "b.jpg");
     },
     "a.jpg", "b.jpg", Outcome::kInPlace, 0644, User::kRoot, S_IFREG},
    {"CharacterDeviceIsWrittenThrough", User::kRoot, true,
     [](const fs::path& d) { MakeDevice(d / "null", 3); }, "null", nullptr, Outcome::kWritten, 0,
     User::kRoot, S_IFCHR},
    {"CharacterDeviceAsUser", User::kUnprivileged, true,
     [](const fs::path& d) { MakeDevice(d / "null", 3); }, "null", nullptr, Outcome::kWritten, 0,
     User::kRoot, S_IFCHR},
    {"FullDeviceFails", User::kRoot, true, [](const fs::path& d) { MakeDevice(d / "full", 7); },
     "full", nullptr, Outcome::kRefused, 0, User::kRoot, S_IFCHR},
    {"FifoWithoutReaderIsRefused", User::kUnprivileged, false,
     [](const fs::path& d) { ::mkfifo((d / "fifo").c_str(), 0666); }, "fifo", nullptr,
     Outcome::kRefused, 0, User::kRoot, S_IFIFO},
    {"FifoWithoutReaderAsRoot", User::kRoot, false,
     [](const fs::path& d) { ::mkfifo((d / "fifo").c_str(), 0666); }, "fifo", nullptr,
     Outcome::kRefused, 0, User::kRoot, S_IFIFO},
    {"SocketIsRefused", User::kRoot, false,
     [](const fs::path& d) {
       const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       std::strncpy(address.sun_path, (d / "sock").c_str(), sizeof address.sun_path - 1);
       ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
       ::close(fd);
     },
     "sock", nullptr, Outcome::kRefused, 0, User::kRoot, S_IFSOCK},
    {"DirectoryIsRefused", User::kUnprivileged, false,
     [](const fs::path& d) { fs::create_directory(d / "x.jpg"); }, "x.jpg", nullptr,
     Outcome::kRefused, 0, User::kRoot, S_IFDIR},
};

class SaveToFileCases : public ::testing::TestWithParam<SaveCase> {
 protected:
  ScratchDirectory scratch;
};

TEST_P(SaveToFileCases, WritesOnlyWhatItMay) {
  const SaveCase& c = GetParam();
  if (!IsRoot() && (c.user == User::kRoot || c.setupNeedsRoot))
    GTEST_SKIP() << "needs root to act as another user or to make device nodes";
  ::chmod(scratch.path().c_str(), 0755);
  const fs::path d = scratch.path() / "d";
  MakeDirectory(d, 0755, UidOf(c.user));
  c.setup(d);
  if (::testing::Test::HasFatalFailure()) return;
  const fs::path target = d / c.saveTo;
  const fs::path holder = c.holder != nullptr ? d / c.holder : fs::path();
  struct stat before {};
  const bool existed = c.holder != nullptr && ::stat(holder.c_str(), &before) == 0;

  TResize resize;
  resize.LoadFromFile(
      TBstr(Utf8ToNewBstr(testing::MakeJpegWithCjpeg(scratch, "photo.jpg", 64, 48))).get());
  VARIANT encoded;
  VariantInit(&encoded);
  resize.VariantOut(&encoded);
  const SAFEARRAY* array = V_ARRAY(&encoded);
  const auto* data = static_cast<const uint8_t*>(array->pvData);
  const std::vector<uint8_t> jpeg(data, data + array->rgsabound[0].cElements);
  VariantClear(&encoded);

  const std::string message = RunAs(c.user, [&] {
    return FailureOf([&] { resize.SaveToFile(TBstr(Utf8ToNewBstr(target.string())).get()); });
  });
  ::chmod(d.c_str(), 0755);

  EXPECT_EQ(message, c.outcome == Outcome::kRefused ? "Cannot write file: " + target.string() : "");
  struct stat node {};
  ASSERT_EQ(::lstat(target.c_str(), &node), 0);
  EXPECT_EQ(node.st_mode & S_IFMT, c.nodeType) << "the node named is never replaced";
  if (c.holder != nullptr) {
    struct stat after {};
    ASSERT_EQ(::stat(holder.c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(holder.string()), c.outcome == Outcome::kRefused ? kOldContent : jpeg);
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(after.st_uid, UidOf(c.owner));
    EXPECT_EQ(after.st_gid, UidOf(c.owner) == 0 ? 0 : UnprivilegedGroup());
    if (c.outcome == Outcome::kInPlace || c.outcome == Outcome::kRefused) {
      EXPECT_EQ(after.st_ino, before.st_ino) << "written through the existing file";
    }
    if (c.outcome == Outcome::kReplaced) {
      EXPECT_TRUE(existed);
      EXPECT_NE(after.st_ino, before.st_ino) << "replaced by a complete new file";
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(d)) {
    EXPECT_EQ(entry.path().filename().string().rfind(".quorvex-", 0), std::string::npos)
        << "temporary file left: " << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SaveToFileCases, ::testing::ValuesIn(kSaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveToFileFifo, ReachesAReaderThatIsThere) {
  ScratchDirectory scratch;
  const std::string fifo = scratch.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  TResize resize;
  resize.LoadFromFile(
      TBstr(Utf8ToNewBstr(testing::MakeJpegWithCjpeg(scratch, "photo.jpg", 32, 24))).get());
  // A small picture fits in the pipe's buffer, so the save completes before anything is read.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FailureOf([&] { resize.SaveToFile(TBstr(Utf8ToNewBstr(fifo)).get()); }), "");
  std::vector<uint8_t> received(65536);
  const ssize_t n = ::read(reader, received.data(), received.size());
  ::close(reader);
  ASSERT_GT(n, 2);
  EXPECT_EQ(received[0], 0xFF);
  EXPECT_EQ(received[1], 0xD8);
  EXPECT_EQ(received[n - 1], 0xD9);
  struct stat node {};
  ASSERT_EQ(::lstat(fifo.c_str(), &node), 0);
  EXPECT_TRUE(S_ISFIFO(node.st_mode));
}

// A disk with room for the old file but not for the new one.
TEST(SaveToFileFullDisk, KeepsTheOldFileAndLeavesNoTemporaryFile) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to mount a small file system";
  ScratchDirectory scratch;
  TResize resize;
  resize.LoadFromFile(
      TBstr(Utf8ToNewBstr(testing::MakeJpegWithCjpeg(scratch, "photo.jpg", 256, 256))).get());
  VARIANT encoded;
  VariantInit(&encoded);
  resize.VariantOut(&encoded);
  ASSERT_GT(V_ARRAY(&encoded)->rgsabound[0].cElements, 8192u) << "needs more than the old file's";
  VariantClear(&encoded);
  const fs::path mount = scratch.path() / "disk";
  fs::create_directory(mount);
  const std::string outcome = RunAs(User::kRoot, [&]() -> std::string {
    // A private mount: it disappears with this process, whatever happens.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("quorvex-test", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
      return "skip";
    std::string report;
    for (const char* layout : {"single", "hard links"}) {
      const fs::path file = mount / "old.jpg";
      const std::vector<uint8_t> old(1000, 0x5A);
      WriteBytes(file.string(), old);
      if (std::string(layout) == "hard links") fs::create_hard_link(file, mount / "other.jpg");
      // Fill what is left.
      const int filler = ::open((mount / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
      const std::vector<uint8_t> block(4096);
      while (::write(filler, block.data(), block.size()) > 0) {
      }
      ::close(filler);
      const std::string message =
          FailureOf([&] { resize.SaveToFile(TBstr(Utf8ToNewBstr(file.string())).get()); });
      if (message != "Cannot write file: " + file.string())
        report += std::string(layout) + ": message \"" + message + "\"; ";
      if (ReadBytes(file.string()) != old) report += std::string(layout) + ": old file changed; ";
      for (const auto& entry : fs::directory_iterator(mount))
        if (entry.path().filename().string().rfind(".quorvex-", 0) == 0)
          report += std::string(layout) + ": left " + entry.path().filename().string() + "; ";
      for (const auto& entry : fs::directory_iterator(mount)) fs::remove(entry.path());
    }
    return report;
  });
  if (outcome == "skip") GTEST_SKIP() << "cannot mount a tmpfs here";
  EXPECT_EQ(outcome, "");
}

// File names as UTF-16 units and the bytes they name here.
struct NameCase {
  const char* label;
  std::u16string units;
  std::string bytes;  // empty: no file can have this name
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) {
  return out << c.label;
}

const NameCase kNameCases[] = {
    {"Ascii", u"other.jpg", "other.jpg"},
    {"Utf8", u"caf\u00E9 \U0001F4F7.jpg", "caf\xC3\xA9 \xF0\x9F\x93\xB7.jpg"},
    {"Latin1Byte", u"caf\xDCE9.jpg", "caf\xE9.jpg"},
    {"HighBytes", u"x\xDCFF\xDC80.jpg", "x\xFF\x80.jpg"},
    {"EncodedSurrogateBytes", u"\xDCED\xDCA0\xDC80.jpg", "\xED\xA0\x80.jpg"},
    {"LoneHighSurrogate", u"x\xD800.jpg", ""},
    {"LoneLowSurrogateBelowTheEscapes", u"x\xDC41.jpg", ""},
    {"EmbeddedNul", std::u16string(u"plain.jpg\0.png", 15), ""},
};

class FileNames : public ::testing::TestWithParam<NameCase> {
 protected:
  ScratchDirectory scratch;
  BSTR Name() {
    const std::u16string path = FileNameToOle(scratch.path().string() + "/") + GetParam().units;
    return SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  }
};

TEST_P(FileNames, SaveWritesAndLoadReadsExactlyTheNamedFile) {
  const NameCase& c = GetParam();
  const std::string photo = testing::MakeJpegWithCjpeg(scratch, "photo.jpg", 40, 30);
  fs::copy_file(photo, scratch.path() / "plain.jpg");
  TResize resize;
  resize.LoadFromFile(TBstr(Utf8ToNewBstr(photo)).get());
  resize.ResizeImage(20, 10);
  TBstr name(Name());
  const auto entries = [&] { return std::distance(fs::directory_iterator(scratch.path()), {}); };
  const auto before = entries();
  const std::string saved = FailureOf([&] { resize.SaveToFile(name.get()); });
  TResize reloaded;
  const std::string loaded = FailureOf([&] { reloaded.LoadFromFile(name.get()); });
  if (c.bytes.empty()) {
    EXPECT_EQ(saved, "Cannot write file: " + BstrToUtf8(name.get()));
    EXPECT_EQ(loaded, "File not found or permission incorrect.");
    EXPECT_EQ(entries(), before) << "nothing written";
    return;
  }
  EXPECT_EQ(saved, "");
  EXPECT_EQ(loaded, "");
  EXPECT_EQ(reloaded.Width(), 20);
  ASSERT_TRUE(fs::is_regular_file(scratch.path() / c.bytes)) << "the name as asked for";
  EXPECT_EQ(entries(), before + 1) << "no other name";
}

INSTANTIATE_TEST_SUITE_P(Table, FileNames, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quorvex
