// The Resize object's state, properties, loading and output, through its public members.
#include "component/resize_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "comserver/text_conversion.h"
#include "imaging/errors.h"
#include "quorvex_version.h"
#include "tests/support/external_tools.h"
#include "tests/support/failure.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using testing::MakeJpegWithCjpeg;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

class Bstr {
 public:
  explicit Bstr(const std::string& text) : value_(Utf8ToNewBstr(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

using testing::FailureOf;

struct Variant {
  Variant() { VariantInit(&value); }
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT value;
};

SAFEARRAY* ByteArray(const std::vector<uint8_t>& bytes, LONG lowerBound) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lowerBound, static_cast<ULONG>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(array->pvData));
  return array;
}

std::vector<uint8_t> ArrayBytes(const VARIANT& value) {
  const SAFEARRAY* array = V_ARRAY(&value);
  const auto* data = static_cast<const uint8_t*>(array->pvData);
  return {data, data + array->rgsabound[0].cElements};
}

class ResizeObjectTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  void SetUp() override { QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg); }
  std::string Photo(int width = 64, int height = 48, bool gray = false) {
    return MakeJpegWithCjpeg(dir, "photo" + std::to_string(width) + (gray ? "g" : "c") + ".jpg",
                             width, height, gray);
  }
};

TEST(ResizeObjectDefaults, NewObjectState) {
  TResize resize;
  EXPECT_EQ(resize.Width(), 0);
  EXPECT_EQ(resize.Height(), 0);
  EXPECT_EQ(resize.DPI(), 0);
  EXPECT_EQ(resize.JPGQuality(), 90);
  EXPECT_EQ(resize.GrayScale(), VARIANT_FALSE);
  EXPECT_EQ(resize.BackgroundColor(), 0xFFFFFFu);
  BSTR version = resize.Version();
  EXPECT_EQ(BstrToUtf8(version), "Quorvex " QUORVEX_VERSION ".");
  SysFreeString(version);
}

struct Clamp {
  LONG put;
  LONG quality;
  LONG dpi;
};
class PropertyClamping : public ::testing::TestWithParam<Clamp> {};
TEST_P(PropertyClamping, StoresTheClampedValue) {
  TResize resize;
  resize.SetJPGQuality(GetParam().put);
  resize.SetDPI(GetParam().put);
  EXPECT_EQ(resize.JPGQuality(), GetParam().quality);
  EXPECT_EQ(resize.DPI(), GetParam().dpi);
}
INSTANTIATE_TEST_SUITE_P(Values, PropertyClamping,
                         ::testing::Values(Clamp{150, 100, 150}, Clamp{-5, 0, 0}, Clamp{-1, 0, 0},
                                           Clamp{70000, 100, 65535}, Clamp{50, 50, 50},
                                           Clamp{INT32_MIN, 0, 0}, Clamp{INT32_MAX, 100, 65535}));

TEST(ResizeObjectProperties, GrayScaleIsAnyNonZeroValueAndBackgroundIsKeptAsGiven) {
  TResize resize;
  resize.SetGrayScale(2);
  EXPECT_EQ(resize.GrayScale(), VARIANT_TRUE);
  resize.SetGrayScale(0);
  EXPECT_EQ(resize.GrayScale(), VARIANT_FALSE);
  resize.SetBackgroundColor(0xFF123456);
  EXPECT_EQ(resize.BackgroundColor(), 0xFF123456u);
}

TEST_F(ResizeObjectTest, LoadFromFileTakesSizeDpiAndGrayFlag) {
  auto bytes = ReadBytes(Photo(64, 48, true));
  testing::SetJfifDensity(bytes, 1, 300, 300);
  WriteBytes(dir.File("gray300.jpg"), bytes);
  TResize resize;
  resize.LoadFromFile(Bstr(dir.File("gray300.jpg")));
  EXPECT_EQ(resize.Width(), 64);
  EXPECT_EQ(resize.Height(), 48);
  EXPECT_EQ(resize.DPI(), 300);
  EXPECT_EQ(resize.GrayScale(), VARIANT_TRUE);
  EXPECT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf8bit);
}

TEST_F(ResizeObjectTest, ExifResolutionReplacesAJfifDensityOfOne) {
  auto bytes = ReadBytes(Photo());
  testing::SetJfifDensity(bytes, 1, 1, 1);
  const std::string file = dir.File("exif.jpg");
  WriteBytes(file, bytes);
  ASSERT_EQ(testing::RunCommand("exiftool -q -overwrite_original -XResolution=300 "
                                "-YResolution=300 -ResolutionUnit=inches '" +
                                file + "'"),
            0);
  TResize resize;
  resize.LoadFromFile(Bstr(file));
  EXPECT_EQ(resize.DPI(), 300);
  // exiftool keeps the JFIF density, so a JFIF unit of 0 leaves the EXIF block unread.
  auto unitless = ReadBytes(file);
  testing::SetJfifDensity(unitless, 0, 1, 1);
  WriteBytes(file, unitless);
  resize.LoadFromFile(Bstr(file));
  EXPECT_EQ(resize.DPI(), 0);
}

TEST_F(ResizeObjectTest, LoadFailuresAndTheirMessages) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo(32, 16)));
  WriteBytes(dir.File("text.jpg"), {'h', 'e', 'l', 'l', 'o', '\n'});
  std::filesystem::create_directory(dir.File("folder.jpg"));
  EXPECT_EQ(FailureOf([&] { resize.LoadFromFile(Bstr(dir.File("missing.jpg"))); }),
            "File not found or permission incorrect.");
  EXPECT_EQ(FailureOf([&] { resize.LoadFromFile(Bstr(dir.File("folder.jpg"))); }),
            "File not found or permission incorrect.");
  EXPECT_EQ(FailureOf([&] { resize.LoadFromFile(Bstr("")); }),
            "File not found or permission incorrect.");
  EXPECT_EQ(FailureOf([&] { resize.LoadFromFile(Bstr(dir.File("text.jpg"))); }), "Invalid file.");
  EXPECT_EQ(resize.Width(), 32) << "a failed load keeps the previous image";
  EXPECT_EQ(resize.Height(), 16);
}

TEST_F(ResizeObjectTest, UnreadableFileIsReportedAsAPermissionProblem) {
  const std::string file = Photo();
  ::chmod(file.c_str(), 0);
  // Root reads any file, so the check runs as an unprivileged user in a child process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    TResize resize;
    const std::string message = FailureOf([&] { resize.LoadFromFile(Bstr(file)); });
    ::_exit(message == "Cannot open file - the permission may be incorrect." ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ResizeObjectTest, SaveToFileWritesTheJfifHeaderWithTheDpi) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  resize.SetDPI(96);
  const std::string out = dir.File("out.jpg");
  resize.SaveToFile(Bstr(out));
  const auto bytes = ReadBytes(out);
  const std::vector<uint8_t> header = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                       0x00, 0x01, 0x01, 0x01, 0x00, 0x60, 0x00, 0x60, 0x00, 0x00};
  ASSERT_GE(bytes.size(), header.size());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20), header);
  TResize reloaded;
  reloaded.LoadFromFile(Bstr(out));
  EXPECT_EQ(reloaded.Width(), 64);
  EXPECT_EQ(reloaded.Height(), 48);
  EXPECT_EQ(reloaded.DPI(), 96);
  EXPECT_EQ(reloaded.GrayScale(), VARIANT_FALSE);
}

TEST_F(ResizeObjectTest, GrayScaleSaveRoundTrips) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  resize.SetGrayScale(VARIANT_TRUE);
  resize.SetDPI(0);
  Variant out;
  resize.VariantOut(&out.value);
  const auto bytes = ArrayBytes(out.value);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 13, bytes.begin() + 18),
            (std::vector<uint8_t>{1, 0, 0, 0, 0}));
  TResize reloaded;
  reloaded.VariantIn(out.value);
  EXPECT_EQ(reloaded.GrayScale(), VARIANT_TRUE);
  EXPECT_EQ(reloaded.DPI(), 0);
  EXPECT_EQ(resize.Image().PixelFormat(), TPixelFormat::pf24bit) << "saving leaves the image alone";
}

TEST_F(ResizeObjectTest, SaveFailures) {
  TResize empty;
  const std::string target = dir.File("never.jpg");
  EXPECT_EQ(FailureOf([&] { empty.SaveToFile(Bstr(target)); }), "No image loaded.");
  EXPECT_FALSE(std::filesystem::exists(target));

  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  const std::string missingDir = dir.File("no/such/dir/out.jpg");
  EXPECT_EQ(FailureOf([&] { resize.SaveToFile(Bstr(missingDir)); }),
            "Cannot write file: " + missingDir);
  const std::string unicode = dir.File("nope/caf\xC3\xA9 \xF0\x9F\x93\xB7.jpg");
  EXPECT_EQ(FailureOf([&] { resize.SaveToFile(Bstr(unicode)); }), "Cannot write file: " + unicode)
      << "the name is reported exactly as given";
}

TEST_F(ResizeObjectTest, FailedSaveLeavesTheExistingFileIntact) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  const std::filesystem::path locked = dir.path() / "locked";
  std::filesystem::create_directory(locked);
  const std::string target = (locked / "old.jpg").string();
  WriteBytes(target, {1, 2, 3});
  std::filesystem::permissions(
      locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                  std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
  // No new file can be made beside the old one; the old one must survive the failure.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    const std::string message = FailureOf([&] { resize.SaveToFile(Bstr(target)); });
    ::_exit(message == "Cannot write file: " + target ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked), {}), 1)
      << "no temporary file is left behind";
}

TEST_F(ResizeObjectTest, SaveReplacesAnExistingFileAndKeepsItsPermissions) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  const std::string target = dir.File("replace.jpg");
  WriteBytes(target, {1, 2, 3});
  ::chmod(target.c_str(), 0640);
  resize.SaveToFile(Bstr(target));
  const auto bytes = ReadBytes(target);
  ASSERT_GT(bytes.size(), 20u);
  EXPECT_EQ(bytes[0], 0xFF);
  struct stat info;
  ::stat(target.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(ResizeObjectTest, VariantOutIsAOneBasedByteArray) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo()));
  Variant out;
  resize.VariantOut(&out.value);
  ASSERT_EQ(V_VT(&out.value), VT_ARRAY | VT_UI1);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(V_ARRAY(&out.value), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&out.value), 1, &upper);
  EXPECT_EQ(lower, 1);
  const auto bytes = ArrayBytes(out.value);
  EXPECT_EQ(upper, static_cast<LONG>(bytes.size()));
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes.back(), 0xD9);
}

TEST(ResizeObjectOutput, VariantOutWithNothingLoadedFailsAndLeavesTheResultEmpty) {
  TResize resize;
  Variant out;
  V_VT(&out.value) = VT_I4;
  V_I4(&out.value) = 7;
  EXPECT_EQ(FailureOf([&] { resize.VariantOut(&out.value); }), "No image loaded.");
  EXPECT_EQ(V_VT(&out.value), VT_EMPTY);
}

TEST_F(ResizeObjectTest, VariantInAcceptsAnyLowerBoundAndReferences) {
  const auto bytes = ReadBytes(Photo(40, 30));
  for (LONG lower : {0, 1, -7, 1000}) {
    Variant in;
    V_VT(&in.value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&in.value) = ByteArray(bytes, lower);
    TResize resize;
    resize.VariantIn(in.value);
    EXPECT_EQ(resize.Width(), 40) << "lower bound " << lower;
    EXPECT_EQ(resize.Height(), 30);
  }
  SAFEARRAY* array = ByteArray(bytes, 0);
  VARIANT byRefArray;
  V_VT(&byRefArray) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&byRefArray) = &array;
  VARIANT refToRef;
  V_VT(&refToRef) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&refToRef) = &byRefArray;
  VARIANT refToRefToRef;
  V_VT(&refToRefToRef) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&refToRefToRef) = &refToRef;
  TResize resize;
  resize.VariantIn(refToRefToRef);
  EXPECT_EQ(resize.Width(), 40);
  SafeArrayDestroy(array);
}

TEST(ResizeObjectVariantIn, ArgumentsWithoutAnArrayAreInvalid) {
  TResize resize;
  Variant text;
  V_VT(&text.value) = VT_BSTR;
  V_BSTR(&text.value) = SysAllocString(u"not bytes");
  EXPECT_EQ(FailureOf([&] { resize.VariantIn(text.value); }), "Invalid argument");
  Variant number;
  V_VT(&number.value) = VT_I4;
  V_I4(&number.value) = 12;
  EXPECT_EQ(FailureOf([&] { resize.VariantIn(number.value); }), "Invalid argument");
  Variant empty;
  EXPECT_EQ(FailureOf([&] { resize.VariantIn(empty.value); }), "Invalid argument");
  VARIANT loop;
  V_VT(&loop) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&loop) = &loop;
  EXPECT_EQ(FailureOf([&] { resize.VariantIn(loop); }), "Invalid argument")
      << "a reference that leads back to itself ends";
}

TEST(ResizeObjectVariantIn, BytesThatAreNoJpegFail) {
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF, 0xD8},
        std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}}) {
    Variant in;
    V_VT(&in.value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&in.value) = ByteArray(bytes, 0);
    TResize resize;
    EXPECT_EQ(FailureOf([&] { resize.VariantIn(in.value); }),
              "VariantIn has failed to read an image.");
    EXPECT_EQ(resize.Width(), 0);
  }
}

TEST_F(ResizeObjectTest, VariantInNeverReadsPastTheArraysData) {
  // The first dimension claims 100000 bytes, but a second dimension of 0 means no data at all.
  SAFEARRAYBOUND bounds[2] = {{100000, 0}, {0, 0}};
  Variant in;
  V_VT(&in.value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&in.value) = SafeArrayCreate(VT_UI1, 2, bounds);
  TResize resize;
  EXPECT_EQ(FailureOf([&] { resize.VariantIn(in.value); }),
            "VariantIn has failed to read an image.");
}

TEST_F(ResizeObjectTest, VariantRoundTripKeepsSizeDpiAndGrayFlag) {
  TResize resize;
  resize.LoadFromFile(Bstr(Photo(50, 20, true)));
  resize.SetDPI(1234);
  Variant out;
  resize.VariantOut(&out.value);
  TResize copy;
  copy.VariantIn(out.value);
  EXPECT_EQ(copy.Width(), 50);
  EXPECT_EQ(copy.Height(), 20);
  EXPECT_EQ(copy.DPI(), 1234);
  EXPECT_EQ(copy.GrayScale(), VARIANT_TRUE);
}

}  // namespace
}  // namespace quorvex
