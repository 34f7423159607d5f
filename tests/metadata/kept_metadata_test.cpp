// Kept metadata through the Resize object, its automation interface and the command line:
// exiftool reads from the output what it reads from the source, less the fields the output
// changes, and validates nothing new; KeepMetadataParts keeps the kinds it lists; files whose
// metadata is hostile load within a bounded memory or are refused with the load's message.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"
#include "tests/metadata/exif_block_builder.h"
#include "tests/metadata/jpeg_fixtures.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using nlohmann::json;
using quorvex::test::Bytes;
using quorvex::test::ExifBlockBuilder;
using quorvex::test::RunAndCapture;
using quorvex::test::Segment;
using quorvex::test::WithSegments;
using quorvex::testing::ReadBytes;
using quorvex::testing::ScratchDirectory;
using quorvex::testing::WriteBytes;

const std::string kData = std::string(QUORVEX_SOURCE_DIR) + "/tests/data/metadata/";
const std::string kCameraFiles = "/usr/share/forensics-samples/original-files/";

struct Bstr {
  explicit Bstr(const std::string& text) : value(Utf8ToNewBstr(text)) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR value;
};

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// What exiftool reads, each tag under its group, numbers as numbers; the groups that describe
// the file rather than its metadata left out.
json Tags(const std::string& file) {
  json tags = json::parse(RunAndCapture("exiftool -j -a -n -G1 -b --ThumbnailImage " +
                                        Quoted(file) + " 2>/dev/null"))
                  .at(0);
  for (auto it = tags.begin(); it != tags.end();) {
    const std::string group = it.key().substr(0, it.key().find(':'));
    const bool described = group == "SourceFile" || group == "File" || group == "System" ||
                           group == "Composite" || group == "ExifTool" || group == "JFIF";
    it = described ? tags.erase(it) : std::next(it);
  }
  return tags;
}

std::set<std::string> Warnings(const std::string& file) {
  std::set<std::string> warnings;
  std::istringstream lines(
      RunAndCapture("exiftool -validate -warning -a -s3 " + Quoted(file) + " 2>/dev/null"));
  for (std::string line; std::getline(lines, line);)
    if (line.find("Warning") == std::string::npos && line.find(" Warnings") == std::string::npos)
      warnings.insert(line);
  return warnings;
}

std::string Saved(TResize& resize, const std::string& out) {
  resize.SaveToFile(Bstr(out).value);
  return out;
}

class KeptMetadataTest : public ::testing::Test {
 protected:
  void SetUp() override { QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kExiftool); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // A small picture with the tags exiftool writes from arguments.
  std::string Tagged(const std::string& name, const std::string& arguments) const {
    WriteBytes(File("plain.jpg"), test::CjpegBytes(64, 48, "-quality 85"));
    EXPECT_EQ(RunAndCapture("exiftool -q -q -m -o " + Quoted(File(name)) + " " + arguments + " " +
                            Quoted(File("plain.jpg")) + " && echo ok"),
              "ok\n");
    std::filesystem::remove(File("plain.jpg"));
    return File(name);
  }

  ScratchDirectory dir_;
};

// The fields an output changes: its size, the rebuilt thumbnail and the resolution it is
// written with.
void DropChanged(json& tags) {
  for (const char* name : {"ExifIFD:ExifImageWidth", "ExifIFD:ExifImageHeight", "IFD0:XResolution",
                           "IFD0:YResolution", "IFD0:ResolutionUnit"})
    tags.erase(name);
  for (auto it = tags.begin(); it != tags.end();)
    it = it.key().starts_with("IFD1:") ? tags.erase(it) : std::next(it);
}

TEST_F(KeptMetadataTest, ExiftoolReadsTheSameTagsAndValidatesNothingNew) {
  const std::string caption(40000, 'c');
  WriteBytes(File("caption.txt"), Bytes(caption.begin(), caption.end()));
  std::vector<std::string> sources = {
      kData + "exif_intel.jpg",
      kData + "exif_motorola.jpg",
      kData + "iptc.jpg",
      kData + "combined.jpg",
      kData + "icc_big.jpg",
      // The envelope record, the character set, record version 4, Urgency 0, digital creation
      // date and time, a time with its zone, UTF-8 text.
      Tagged("iptc_all.jpg",
             "-IPTC:CodedCharacterSet=UTF8 -IPTC:EnvelopeRecordVersion=4 -IPTC:Destination=desk "
             "-IPTC:ApplicationRecordVersion=4 -IPTC:Urgency=0 -IPTC:DigitalCreationDate=20210203 "
             "-IPTC:DigitalCreationTime=040506+0100 -IPTC:TimeCreated=12:34:56+02:00 "
             "'-IPTC:City=Café Zürich' -IPTC:Keywords=eins -IPTC:Keywords=zwei"),
      // Tags the system has no name for, a 4096-character text, the interoperability directory.
      Tagged("exif_unknown.jpg",
             "-LensMake=Lens -LensModel='L 50' '-LensInfo=24 70 2.8 4' -BodySerialNumber=B1 "
             "-LensSerialNumber=L1 -SensitivityType=2 -RecommendedExposureIndex=200 "
             "-OffsetTime=+01:00 -OffsetTimeOriginal=+01:00 -InteropIndex=R98 "
             "-ImageDescription=" +
                 std::string(4096, 'd') + " -Make=Quux -XResolution=72 -YResolution=72"),
      // Only the main directory: no EXIF directory may appear.
      Tagged("ifd0_only.jpg", "-Make=Quux -Model=Q -XResolution=72 -YResolution=72"),
      // A caption long enough for the extended length form.
      Tagged("long_caption.jpg", "'-IPTC:Caption-Abstract<=" + File("caption.txt") +
                                     "' -IPTC:City=Town -IPTC:Keywords=k -m"),
  };
  for (const char* name : {"pic1/IMG_1054.JPG", "pic1/IMG_20200827_231612.jpg"})
    if (std::filesystem::exists(kCameraFiles + name)) sources.push_back(kCameraFiles + name);

  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    TResize resize;
    resize.SetKeepMetadata(VARIANT_TRUE);
    resize.LoadFromFile(Bstr(source).value);
    resize.ResizeBox(40, 40);
    resize.SetDPI(96);
    const std::string out = Saved(resize, File("out.jpg"));
    json from = Tags(source), to = Tags(out);
    EXPECT_EQ(to.contains("IFD1:ThumbnailLength"), from.contains("IFD1:ThumbnailLength"));
    EXPECT_EQ(from.contains("ExifIFD:ExifImageWidth"), to.contains("ExifIFD:ExifImageWidth"));
    EXPECT_EQ(to.value("ExifIFD:ExifImageWidth", 40), 40);
    EXPECT_EQ(to.value("IFD0:XResolution", 96), 96);
    DropChanged(from);
    DropChanged(to);
    EXPECT_EQ(to, from) << "difference: " << json::diff(from, to).dump();
    const std::set<std::string> before = Warnings(source), after = Warnings(out);
    for (const std::string& warning : after) EXPECT_TRUE(before.contains(warning)) << warning;
  }
}

// KeepMetadataParts through the automation interface, as scripts set it.
TEST_F(KeptMetadataTest, KeepMetadataPartsKeepsTheKindsItLists) {
  const std::string source =
      Tagged("all.jpg",
             "-Make=Quux -Orientation#=6 -GPSLatitude=48.1 -GPSLatitudeRef=N "
             "-IPTC:Keywords=alpha -XMP-dc:Rights=Mine -XMP-tiff:Orientation#=6 "
             "-XMP-exif:GPSLatitude=48.1N '-ICC_Profile<=" +
                 kData + "icc.icc'");
  struct Case {
    const char* list;
    bool keepMetadata;
    const char* normalised;
    bool exif, gps, iptc, xmp, xmpGps, icc;
  } cases[] = {
      {"", true, "", true, true, true, true, true, true},
      {"", false, "", false, false, false, false, false, false},
      {"icc, IPTC ,exif", false, "exif,iptc,icc", true, false, true, false, false, true},
      {"xmp,exif", true, "exif,xmp", true, false, false, true, false, false},
      {"gps", false, "gps", false, true, false, false, false, false},
      {"xmp,gps", false, "gps,xmp", false, true, false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    // A counted object, as the factory makes it, reached only through its interface.
    TComPtr<IResize3> face;
    ASSERT_EQ((new TResize)->ObjQueryInterface(IID_IResize3, face.PutVoid()), S_OK);
    ASSERT_EQ(face->put_KeepMetadata(c.keepMetadata ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    ASSERT_EQ(face->put_KeepMetadataParts(Bstr(c.list).value), S_OK);
    ASSERT_EQ(face->put_KeepMetadataParts(Bstr("exif,faces").value), E_UNEXPECTED);
    BSTR list = nullptr;
    ASSERT_EQ(face->get_KeepMetadataParts(&list), S_OK);
    EXPECT_EQ(BstrToUtf8(list), c.normalised);
    SysFreeString(list);
    ASSERT_EQ(face->put_AutoOrient(VARIANT_TRUE), S_OK);
    ASSERT_EQ(face->LoadFromFile(Bstr(source).value), S_OK);
    ASSERT_EQ(face->SaveToFile(Bstr(File("parts.jpg")).value), S_OK);
    const json tags = Tags(File("parts.jpg"));
    EXPECT_EQ(tags.contains("IFD0:Make"), c.exif);
    EXPECT_EQ(tags.value("IFD0:Orientation", 1), 1);
    EXPECT_EQ(tags.contains("GPS:GPSLatitude"), c.gps);
    EXPECT_EQ(tags.contains("IPTC:Keywords"), c.iptc);
    EXPECT_EQ(tags.contains("XMP-dc:Rights"), c.xmp);
    EXPECT_EQ(tags.value("XMP-tiff:Orientation", 1), 1);
    EXPECT_EQ(tags.contains("XMP-exif:GPSLatitude"), c.xmpGps);
    EXPECT_EQ(tags.contains("ICC_Profile:ProfileDescription"), c.icc);
  }
}

// Peak memory (KiB) and exit status of the command line on a file, and what it printed.
struct ToolRun {
  long PeakKib = 0;
  int Status = -1;
  std::string Errors;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& errors) {
  ToolRun run;
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv;
    std::string tool = QUORVEX_TOOL;
    argv.push_back(tool.data());
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen(errors.c_str(), "w", stderr))
      ::_exit(127);
    ::execv(tool.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) == child && WIFEXITED(status))
    run.Status = WEXITSTATUS(status);
  run.PeakKib = usage.ru_maxrss;
  const Bytes text = ReadBytes(errors);
  run.Errors.assign(text.begin(), text.end());
  return run;
}

// One of the hostile files of the review, made here, and what the object makes of it.
struct Hostile {
  const char* name;
  Bytes (*make)();
  int orientation;  // Orientation after the load
  bool readBack;    // exiftool reads the output (not for thousands of keywords)
  bool exifKept;    // the kept EXIF block is in the output, with its thumbnail if it had one
  bool iccKept;     // a profile is in the output
  bool thumbnail;   // the source has a thumbnail
};

Bytes Picture() {
  return test::CjpegBytes(48, 32, "-quality 80");
}

Bytes Exif(const ExifBlockBuilder& b, const std::vector<test::RawEntry>& main,
           const std::vector<test::RawEntry>& exif = {},
           const std::vector<test::RawEntry>& gps = {}) {
  return Segment(0xE1, b.Build(main, exif, gps));
}

// About 2,600 entries of the main directory sharing one 32 KiB value area, its EXIF and GPS
// pointers leading back to it, in three APP1 segments.
Bytes SharedValueArea() {
  ExifBlockBuilder b(false);
  const uint16_t tags[] = {0x011A, 0x011B, 0x010E, 0x0110, 0x0131, 0x013B, 0x8298, 0x9C9B};
  constexpr uint32_t kEntries = 2600, kArea = 32768;
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
  b.PutWord(payload, kEntries + 2);
  const uint32_t area = 8 + 2 + 12 * (kEntries + 2) + 4;
  for (uint32_t i = 0; i < kEntries; ++i) {
    b.PutWord(payload, tags[i % std::size(tags)]);
    b.PutWord(payload, i % 2 == 0 ? 10 : 7);  // SRATIONAL, UNDEFINED
    b.PutLong(payload, 4096);
    b.PutLong(payload, area);
  }
  for (const uint16_t pointer : {0x8769, 0x8825}) {
    b.PutWord(payload, pointer);
    b.PutWord(payload, 4);
    b.PutLong(payload, 1);
    b.PutLong(payload, 8);
  }
  b.PutLong(payload, 0);
  payload.resize(payload.size() + kArea, 0x41);
  const Bytes segment = Segment(0xE1, payload);
  return WithSegments(Picture(), [&] {
    Bytes three;
    for (int i = 0; i < 3; ++i) three.insert(three.end(), segment.begin(), segment.end());
    return three;
  }());
}

// 250 APP13 segments full of empty keywords.
Bytes EmptyKeywords() {
  Bytes iptc;
  while (iptc.size() < 65000) iptc.insert(iptc.end(), {0x1C, 0x02, 0x19, 0x00, 0x00});
  Bytes block = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};
  const uint32_t size = static_cast<uint32_t>(iptc.size());
  block.insert(block.end(), {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                             static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
  block.insert(block.end(), iptc.begin(), iptc.end());
  Bytes payload = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
  payload.insert(payload.end(), block.begin(), block.end());
  Bytes segments;
  const Bytes one = Segment(0xED, payload);
  for (int i = 0; i < 250; ++i) segments.insert(segments.end(), one.begin(), one.end());
  return WithSegments(Picture(), segments);
}

// YCbCrPositioning as the text "X" and Orientation as a rational.
Bytes OddTypes() {
  ExifBlockBuilder b(false);
  return WithSegments(Picture(), Exif(b, {{0x010F, 2, 5, b.Text(std::string("Quux", 5))},
                                          {0x0112, 5, 1, b.Rationals({{6, 1}})},
                                          {0x0213, 2, 2, b.Text(std::string("X", 2))}}));
}

Bytes IccChunks(std::initializer_list<std::pair<uint8_t, uint8_t>> chunks) {
  const Bytes profile = ReadBytes(kData + "icc.icc");
  Bytes segments;
  for (const auto& [sequence, count] : chunks) {
    Bytes payload = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, sequence, count};
    payload.insert(payload.end(), profile.begin(), profile.begin() + 200);
    const Bytes segment = Segment(0xE2, payload);
    segments.insert(segments.end(), segment.begin(), segment.end());
  }
  return WithSegments(Picture(), segments);
}

Bytes TwoOfThreeChunks() {
  return IccChunks({{1, 3}, {2, 3}});
}

Bytes OneChunkTwice() {
  return IccChunks({{1, 1}, {1, 1}});
}

// Orientation 6 only inside the GPS directory.
Bytes OrientationInGps() {
  ExifBlockBuilder b(false);
  return WithSegments(Picture(),
                      Exif(b, {{0x010F, 2, 5, b.Text(std::string("Quux", 5))}}, {},
                           {{0x0000, 1, 4, {2, 3, 0, 0}}, {0x0112, 3, 1, b.Words({6})}}));
}

// Orientation 3 in the first EXIF segment, 6 in the second.
Bytes TwoExifSegments() {
  ExifBlockBuilder b(true);
  Bytes segments = Exif(b, {{0x0112, 3, 1, b.Words({3})}});
  const Bytes second = Exif(b, {{0x0112, 3, 1, b.Words({6})}});
  segments.insert(segments.end(), second.begin(), second.end());
  return WithSegments(Picture(), segments);
}

// Fill bytes before an EXIF segment that carries a thumbnail.
Bytes FillBeforeExif() {
  ExifBlockBuilder b(false);
  const Bytes thumbnail = test::CjpegBytes(8, 8, "-quality 50");
  // Main directory with Make, pointing at a thumbnail directory.
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
  b.PutWord(payload, 1);
  payload.insert(payload.end(), {0x0F, 0x01, 2, 0, 4, 0, 0, 0, 'Q', 'u', 'x', 0});
  b.PutLong(payload, 26);  // the thumbnail directory right after
  b.PutWord(payload, 3);
  const uint32_t picture = 26 + 2 + 3 * 12 + 4;
  for (const auto& [tag, type, value] : {std::tuple{0x0103, 3, 6u},
                                         {0x0201, 4, picture},
                                         {0x0202, 4, static_cast<uint32_t>(thumbnail.size())}}) {
    b.PutWord(payload, static_cast<uint16_t>(tag));
    b.PutWord(payload, static_cast<uint16_t>(type));
    b.PutLong(payload, 1);
    b.PutLong(payload, value);
  }
  b.PutLong(payload, 0);
  payload.insert(payload.end(), thumbnail.begin(), thumbnail.end());
  Bytes fill = {0xFF, 0xFF, 0xFF};
  const Bytes segment = Segment(0xE1, payload);
  // The fill bytes take the place of the first marker's own 0xFF ... 0xFF run.
  fill.insert(fill.end(), segment.begin() + 1, segment.end());
  return WithSegments(Picture(), fill);
}

class HostileMetadata : public KeptMetadataTest, public ::testing::WithParamInterface<Hostile> {};

// Bounds generous enough for any machine, far below what the files cost before: 200 MiB.
constexpr long kPeakKib = 200 * 1024;

TEST_P(HostileMetadata, LoadsAndKeepsWithinBoundsThroughTheObjectAndTheCommandLine) {
  const Hostile& h = GetParam();
  const std::string source = File(std::string(h.name) + ".jpg");
  WriteBytes(source, h.make());

  TResize resize;
  resize.SetKeepMetadata(VARIANT_TRUE);
  resize.SetAutoOrient(VARIANT_TRUE);
  resize.LoadFromFile(Bstr(source).value);
  EXPECT_EQ(resize.Orientation(), h.orientation);
  const std::string out = Saved(resize, File("out.jpg"));
  if (h.readBack) {
    const json tags = Tags(out);
    EXPECT_EQ(tags.contains("IFD0:Make"), h.exifKept);
    EXPECT_EQ(tags.contains("ICC_Profile:ProfileDescription"), h.iccKept);
    EXPECT_EQ(tags.contains("IFD1:ThumbnailLength"), h.thumbnail);
  }

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"info", "--json", source},
        std::vector<std::string>{"convert", "--keep-metadata", source, File("cli.jpg")}}) {
    SCOPED_TRACE(arguments[0]);
    const ToolRun run = RunTool(arguments, File("errors.txt"));
    EXPECT_EQ(run.Status, 0) << run.Errors;
    EXPECT_LT(run.PeakKib, kPeakKib);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileMetadata,
    ::testing::Values(Hostile{"SharedValueArea", SharedValueArea, 1, true, false, false, false},
                      Hostile{"EmptyKeywords", EmptyKeywords, 1, false, false, false, false},
                      Hostile{"OddTypes", OddTypes, 1, true, true, false, false},
                      Hostile{"TwoOfThreeChunks", TwoOfThreeChunks, 1, true, false, false, false},
                      Hostile{"OneChunkTwice", OneChunkTwice, 1, true, false, false, false},
                      Hostile{"OrientationInGps", OrientationInGps, 1, true, true, false, false},
                      Hostile{"TwoExifSegments", TwoExifSegments, 3, true, false, false, false},
                      Hostile{"FillBeforeExif", FillBeforeExif, 1, true, true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex
