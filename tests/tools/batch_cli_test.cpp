// `quorvex batch`: where the outputs go, which files a folder gives, failures, refusals, the
// parallel run's bytes and the progress line.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "tests/support/test_files.h"
#include "tests/tools/tool_run.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::MakeJpegWithCjpeg;
using testing::Quorvex;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::ToolRun;
using testing::WriteBytes;

class BatchTest : public ::testing::Test {
 protected:
  BatchTest() {
    fs::create_directories(dir.File("in/sub"));
    fs::create_directories(dir.File("out"));
    Add("in/a.jpg", 120, 80);
    Add("in/B.JPEG", 64, 64);
    Add("in/c.txt", 30, 20);
    Add("in/sub/d.jpg", 50, 90);
  }
  void Add(const std::string& name, int width, int height) {
    fs::copy_file(MakeJpegWithCjpeg(dir, "made.jpg", width, height), dir.File(name),
                  fs::copy_options::overwrite_existing);
  }
  std::set<std::string> Outputs() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir.File("out")))
      names.insert(fs::relative(entry.path(), dir.File("out")).string());
    return names;
  }
  ScratchDirectory dir;
};

struct PatternCase {
  std::string pattern;  // @DIR stands for the scratch folder
  std::string output;   // relative to the scratch folder
};
class BatchPatterns : public BatchTest, public ::testing::WithParamInterface<PatternCase> {};
// A missing output folder is made, as mkdir -p would.
TEST_P(BatchPatterns, NameTheOutput) {
  std::string pattern = GetParam().pattern;
  if (pattern.starts_with("@DIR")) pattern.replace(0, 4, dir.path().string());
  const ToolRun run =
      Quorvex(dir, "batch --quiet -o '" + pattern + "' '" + dir.File("in/a.jpg") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(fs::exists(dir.File(GetParam().output)));
}
INSTANTIATE_TEST_SUITE_P(Forms, BatchPatterns,
                         ::testing::Values(PatternCase{"thumbs/%s.jpg", "in/thumbs/a.jpg"},
                                           PatternCase{"@DIR/out/%s_200.jpg", "out/a_200.jpg"},
                                           PatternCase{"%s-%s.jpeg", "in/a-a.jpeg"},
                                           PatternCase{"../out/fixed.jpg", "out/fixed.jpg"}));

TEST_F(BatchTest, AFolderGivesItsJpegFilesAndRecursiveItsSubfolders) {
  const std::string pattern = dir.File("out") + "/%s.jpg";
  ToolRun run = Quorvex(dir, "batch -o '" + pattern + "' '" + dir.File("in") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Outputs(), (std::set<std::string>{"B.jpg", "a.jpg"}));
  EXPECT_TRUE(run.err.starts_with("2 converted, 0 failed in ")) << run.err;
  run = Quorvex(dir, "batch --recursive -o '" + pattern + "' '" + dir.File("in") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Outputs(), (std::set<std::string>{"B.jpg", "a.jpg", "d.jpg"}));
}

TEST_F(BatchTest, AFailingFileLeavesTheOthersAndNoProgressWithoutATerminal) {
  WriteBytes(dir.File("in/bad.jpg"), {'n', 'o'});
  const ToolRun run = Quorvex(dir, "batch --jobs 2 -o '" + dir.File("out") + "/%s.jpg' '" +
                                       dir.File("in") + "' '" + dir.File("in/missing.jpg") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Outputs(), (std::set<std::string>{"B.jpg", "a.jpg"}));
  EXPECT_NE(run.err.find("quorvex: " + dir.File("in/bad.jpg") + ": Invalid file.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("quorvex: " + dir.File("in/missing.jpg") +
                         ": File not found or permission incorrect.\n"),
            std::string::npos);
  EXPECT_NE(run.err.find("2 converted, 2 failed in "), std::string::npos);
  EXPECT_EQ(run.err.find_first_of("\r\033"), std::string::npos);
}

// A second run over the same folders takes none of the first run's outputs as inputs.
struct RerunCase {
  std::string pattern;
  std::string written;  // one output, relative to the scratch folder
};
class BatchReruns : public BatchTest, public ::testing::WithParamInterface<RerunCase> {};
TEST_P(BatchReruns, LeaveTheirOwnOutputs) {
  for (int run = 0; run < 2; ++run) {
    const ToolRun done =
        Quorvex(dir, "batch --recursive -o " + GetParam().pattern + " '" + dir.File("in") + "'");
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(done.err.starts_with("3 converted, 0 failed in ")) << done.err;
  }
  EXPECT_TRUE(fs::exists(dir.File(GetParam().written)));
}
INSTANTIATE_TEST_SUITE_P(Patterns, BatchReruns,
                         ::testing::Values(RerunCase{"thumbs/%s.jpg", "in/sub/thumbs/d.jpg"},
                                           RerunCase{"%s_small.jpg", "in/sub/d_small.jpg"},
                                           RerunCase{"%s/%s.jpeg", "in/sub/d/d.jpeg"}));

TEST_F(BatchTest, SkipExistingLeavesInputsWhoseOutputIsNewer) {
  const std::string run =
      "batch --skip-existing -o '" + dir.File("out") + "/%s.jpg' '" + dir.File("in") + "'";
  ToolRun done = Quorvex(dir, run);
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(done.err.starts_with("2 converted, 0 skipped, 0 failed in ")) << done.err;
  // Every time is set from one the file system gave, and read back: B's output is newer than
  // its input, a.jpg changed after its output was written.
  const std::pair<const char*, std::chrono::hours> plan[] = {{"out/a.jpg", std::chrono::hours(0)},
                                                             {"out/B.jpg", std::chrono::hours(0)},
                                                             {"in/B.JPEG", std::chrono::hours(-1)},
                                                             {"in/a.jpg", std::chrono::hours(1)}};
  const auto written = fs::last_write_time(dir.File("out/a.jpg"));
  for (const auto& [name, offset] : plan) {
    fs::last_write_time(dir.File(name), written + offset);
    ASSERT_EQ(fs::last_write_time(dir.File(name)), written + offset) << name;
  }
  done = Quorvex(dir, run);
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(done.err.starts_with("1 converted, 1 skipped, 0 failed in ")) << done.err;
}

struct RefusalCase {
  std::string arguments;  // @DIR stands for the scratch folder
  std::string message;
};
class BatchRefusals : public BatchTest, public ::testing::WithParamInterface<RefusalCase> {};
TEST_P(BatchRefusals, HappenBeforeAnyWork) {
  std::string arguments = GetParam().arguments, message = GetParam().message;
  for (std::string* text : {&arguments, &message})
    for (size_t at; (at = text->find("@DIR")) != std::string::npos;)
      text->replace(at, 4, dir.path().string());
  const auto before = ReadBytes(dir.File("in/a.jpg"));
  const ToolRun run = Quorvex(dir, "batch " + arguments);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "quorvex: " + message + "\n");
  EXPECT_TRUE(Outputs().empty());
  EXPECT_TRUE(ReadBytes(dir.File("in/a.jpg")) == before);
}
INSTANTIATE_TEST_SUITE_P(
    Outputs, BatchRefusals,
    ::testing::Values(
        RefusalCase{"-o %s.jpg @DIR/out/../in/a.jpg",
                    "@DIR/out/../in/a.jpg would overwrite the input @DIR/out/../in/a.jpg"},
        RefusalCase{"-o ../B.JPEG @DIR/in/sub/d.jpg @DIR/in/B.JPEG",
                    "@DIR/in/sub/../B.JPEG would overwrite the input @DIR/in/B.JPEG"},
        RefusalCase{"-o @DIR/out/%s.jpg @DIR/in/a.jpg @DIR/in/sub/../a.jpg",
                    "@DIR/in/a.jpg and @DIR/in/sub/../a.jpg would both be written to "
                    "@DIR/out/a.jpg"}));

TEST_F(BatchTest, AnOutputHardLinkedToAnInputIsRefused) {
  fs::create_directories(dir.File("out"));
  fs::create_hard_link(dir.File("in/a.jpg"), dir.File("out/a.jpg"));
  const auto before = ReadBytes(dir.File("in/a.jpg"));
  const ToolRun run =
      Quorvex(dir, "batch -o '" + dir.File("out") + "/%s.jpg' '" + dir.File("in/a.jpg") + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "quorvex: " + dir.File("out/a.jpg") + " would overwrite the input " +
                         dir.File("in/a.jpg") + "\n");
  EXPECT_TRUE(ReadBytes(dir.File("in/a.jpg")) == before);
}

TEST_F(BatchTest, ParallelOutputEqualsSerialAndConvert) {
  const std::string files = "'" + dir.File("in") + "'";
  const std::string steps = "--box 40x40 --rotate 30 --quality 70";
  fs::create_directories(dir.File("out/serial"));
  fs::create_directories(dir.File("out/parallel"));
  ToolRun run = Quorvex(dir, "batch --recursive --jobs 1 " + steps + " -o '" +
                                 dir.File("out/serial") + "/%s.jpg' " + files);
  ASSERT_EQ(run.status, 0) << run.err;
  run = Quorvex(dir, "batch --recursive --jobs 3 " + steps + " -o '" + dir.File("out/parallel") +
                         "/%s.jpg' " + files);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const auto& [name, input] : {std::pair<std::string, std::string>{"a", "in/a.jpg"},
                                    {"B", "in/B.JPEG"},
                                    {"d", "in/sub/d.jpg"}}) {
    const ToolRun alone = Quorvex(dir, "convert '" + dir.File(input) + "' - " + steps);
    const auto serial = ReadBytes(dir.File("out/serial/" + name + ".jpg"));
    EXPECT_TRUE(ReadBytes(dir.File("out/parallel/" + name + ".jpg")) == serial);
    EXPECT_TRUE(std::string(serial.begin(), serial.end()) == alone.out) << name;
  }
}

TEST_F(BatchTest, ATerminalSeesTheProgressLine) {
  // script gives the tool a pseudo-terminal and copies what it writes to standard output.
  const ToolRun run = testing::RunCommand(dir, "script -qec \"" + std::string(QUORVEX_TOOL) +
                                                   " batch --recursive -o " + dir.File("out") +
                                                   "/%s.jpg " + dir.File("in") + "\" /dev/null");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\r\033[K3/3 files, "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" files/s, "), std::string::npos);
  EXPECT_NE(run.out.find("\r\033[K3 converted, 0 failed in "), std::string::npos);
}

}  // namespace
}  // namespace quorvex
