// How the command line guides its user: exit status 2 and a message that says what was meant for
// every usage error or refusal, 1 with the system's reason when a file cannot be written, and the
// output's format chosen by its name or --format, as an independent tool (file) reads it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_files.h"
#include "tests/tools/tool_run.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::MakeJpegWithCjpeg;
using testing::Quorvex;
using testing::RunCommand;
using testing::ScratchDirectory;
using testing::ToolRun;

class CliGuidance : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::string photo;  // 120x80
  void SetUp() override {
    photo = MakeJpegWithCjpeg(dir, "photo.jpg", 120, 80);
    fs::create_symlink(photo, dir.File("link.jpg"));
  }
  // @IN stands for the photo, @DIR for the scratch folder.
  std::string Expand(std::string text) const {
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"@IN", photo},
                                     std::pair<std::string, std::string>{"@DIR", dir.path()}})
      for (size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    return text;
  }
  std::string MediaType(const std::string& file) {
    const std::string type = RunCommand(dir, "file -b --mime-type '" + file + "'").out;
    return type.substr(0, type.find('\n'));
  }
};

TEST_F(CliGuidance, UsageErrorsAndFailuresSayWhatWasMeant) {
  const struct {
    const char* arguments;
    int status;
    const char* message;  // the first line on standard error
  } cases[] = {
      {"", 2,
       "a command is required: convert, batch, info, serve, register or unregister (quorvex "
       "--help)"},
      {"conver @IN @DIR/o.jpg", 2, "unknown command 'conver'; did you mean 'convert'?"},
      {"convert @IN @DIR/o.jpg 80 --qualty", 2,
       "unknown option '--qualty' for convert; did you mean '--quality'?"},
      {"batch --recursiv -o %s.jpg @DIR", 2,
       "unknown option '--recursiv' for batch; did you mean '--recursive'?"},
      {"convert @IN", 2, "OUT is required"},
      {"convert @IN @DIR/o.jpg extra", 2, "unexpected 'extra' for convert"},
      {"convert @IN @DIR/o.jpg --box 200", 2,
       "--box: expected WIDTHxHEIGHT, like 200x200, not '200'"},
      {"convert @IN @DIR/o.jpg --auto-orient=2", 2, "--auto-orient: expected 1 or 0, not '2'"},
      {"convert @IN @DIR/o.jpg --format gif", 2,
       "--format: expected jpeg, webp, avif, png or auto, not 'gif'"},
      {"batch --jobs 0 -o %s.jpg @IN", 2,
       "--jobs: expected a whole number of 1 or more, like 4, not '0'"},
      {"convert @IN @IN", 2, "quorvex: @IN is the input @IN; --in-place replaces it"},
      {"convert @DIR/link.jpg @IN", 2,
       "quorvex: @IN is the input @DIR/link.jpg; --in-place replaces it"},
      {"convert @IN @DIR/t.gif", 2,
       "quorvex: @DIR/t.gif: the extension names no format quorvex writes (.jpg, .jpeg, .webp, "
       ".avif, .png); --format chooses one"},
      {"batch -o @DIR/%s.tif @IN", 2,
       "quorvex: @DIR/%s.tif: the extension names no format quorvex writes (.jpg, .jpeg, .webp, "
       ".avif, .png); --format chooses one"},
      {"convert @IN @DIR/no/such/o.jpg", 1,
       "quorvex: Cannot write file: @DIR/no/such/o.jpg: No such file or directory"},
      {"convert @IN @DIR", 1, "quorvex: Cannot write file: @DIR: Is a directory"},
      {"convert @IN @DIR/o.jpg --format webp --gray --quality 50", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = Quorvex(dir, Expand(c.arguments));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), Expand(c.message));
  }
}

TEST_F(CliGuidance, TheOutputsNameOrFormatChoosesItsFormat) {
  const struct {
    const char* arguments;
    const char* output;  // the file written; "-" for standard output, kept as out.bin
    const char* mediaType;
  } cases[] = {
      {"convert @IN @DIR/o.jpeg", "o.jpeg", "image/jpeg"},
      {"convert @IN @DIR/o.WebP", "o.WebP", "image/webp"},
      {"convert @IN @DIR/o.avif --box 40x40", "o.avif", "image/avif"},
      {"convert @IN @DIR/o.png --gray", "o.png", "image/png"},
      {"convert @IN @DIR/o.png --format jpeg", "o.png", "image/jpeg"},
      {"convert @IN @DIR/o.gif --format PNG", "o.gif", "image/png"},
      {"convert @IN @DIR/o.webp --format auto", "o.webp", "image/webp"},
      {"convert @IN @DIR/o2.png --format auto --format webp", "o2.png", "image/webp"},
      {"convert @IN @DIR/o3.png --format webp --format auto", "o3.png", "image/png"},
      {"convert @IN - >@DIR/out.bin", "out.bin", "image/jpeg"},
      {"convert @IN - --format webp >@DIR/out.bin", "out.bin", "image/webp"},
      {"batch --quiet -o @DIR/%s-b.avif @IN", "photo-b.avif", "image/avif"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = Quorvex(dir, Expand(c.arguments));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MediaType(dir.File(c.output)), c.mediaType);
  }
  // A device has no extension and takes JPEG bytes, as always.
  EXPECT_EQ(Quorvex(dir, "convert '" + photo + "' /dev/null").status, 0);
}

TEST_F(CliGuidance, InPlaceReplacesTheInput) {
  const ToolRun run = Quorvex(dir, "convert '" + photo + "' '" + photo + "' --in-place --scale 50");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Quorvex(dir, "info '" + photo + "'").out.substr(photo.size(), 7), ": 60x40");
}

}  // namespace
}  // namespace quorvex
