// The zopt binary end to end: file names and their rules, the information
// and debug files, option sets from the file, the error exits and the
// fatal-signal exits.  Each test runs zopt in its own temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/icode_image.h"
#include "tests/support/tool_run.h"

namespace zor {
namespace {

using test::IcodeImage;
using OptionSets = std::vector<std::pair<uint32_t, std::vector<std::string>>>;

const char kDefectStart[] = "\nThis failure is caused by a defect in the optimizer.";

using Result = test::ToolResult;

// A header, an empty main stream and, when given, an option-set section.
IcodeImage program_image(const OptionSets &sets = {}) {
  IcodeImage img;
  img.header();
  img.end_stream();
  if (!sets.empty()) {
    img.section_here(IcodeImage::OPTIONS);
    for (const auto &[number, texts] : sets)
      img.option_set(number, texts);
    img.end_stream();
  }
  return img;
}

// The header record alone: a reader opened on it waits for the main stream.
std::vector<uint8_t> header_only() {
  IcodeImage img;
  img.header();
  return img.bytes();
}

class ZoptTest : public ::testing::Test {
protected:
  std::string path(const std::string &name) const { return dir_.path(name); }
  bool exists(const std::string &name) const { return dir_.exists(name); }
  std::string read(const std::string &name) const { return dir_.read(name); }
  void write(const std::string &name, const std::vector<uint8_t> &bytes) const {
    dir_.write(name, bytes);
  }
  void write_image(const std::string &name, const OptionSets &sets = {}) const {
    write(name, program_image(sets).bytes());
  }

  // Starts zopt in the test directory with `args` after argv[0].
  pid_t spawn(const std::vector<std::string> &args, const char *argv0 = "zopt") {
    return dir_.spawn(ZOPT_PATH, args, argv0);
  }
  Result wait_for(pid_t pid) { return dir_.wait_for(pid); }
  Result zopt(const std::vector<std::string> &args, const char *argv0 = "zopt") {
    return wait_for(spawn(args, argv0));
  }

  // Starts zopt on a FIFO and returns once zopt has opened it (so its signal
  // handlers are in place); `fifo_fd` is the writing end.
  pid_t spawn_on_fifo(const std::vector<std::string> &args, int *fifo_fd) {
    EXPECT_EQ(mkfifo(path("f.if").c_str(), 0644), 0);
    pid_t pid = spawn(args);
    *fifo_fd = open(path("f.if").c_str(), O_WRONLY);
    EXPECT_GE(*fifo_fd, 0);
    return pid;
  }

  bool wait_for_file(const std::string &name) const {
    for (int i = 0; i < 500; ++i) {
      if (exists(name))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  test::ToolDir dir_{"zopt_driver"};
};

TEST_F(ZoptTest, NoFileNamePrintsUsage) {
  Result r = zopt({"-o2"}, "bin/zopt");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Usage: bin/zopt [-options] filename\n");
}

TEST_F(ZoptTest, HelpListsTheOptionsAfterTheFixedLines) {
  Result r = zopt({"--help", "ignored.if"}, "/opt/tools/bin/zopt");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("Usage: zopt [-options] filename\n\n"
                        "This tool is designed to be invoked by the compiler.\n",
                        0),
            0u);
  EXPECT_NE(r.out.find("--opt_level=LEVEL, -o LEVEL"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(ZoptTest, OneNameDerivesTheOtherNames) {
  write_image("a.if");
  Result r = zopt({"a.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(exists("a.opt"));
  EXPECT_FALSE(exists("a.nfo"));   // level 1 without debug output
  EXPECT_FALSE(exists("a.odb"));

  r = zopt({"-d", "1", "a.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(exists("a.nfo"));
  EXPECT_TRUE(exists("a.odb"));

  write_image("plain");
  EXPECT_EQ(zopt({"plain"}).code, 0);
  EXPECT_TRUE(exists("plain.opt"));

  write_image("a.b.if");
  EXPECT_EQ(zopt({"a.b.if"}).code, 0);
  EXPECT_TRUE(exists("a.b.opt"));

  std::filesystem::create_directory(path("dir.x"));
  write_image("dir.x/file");
  EXPECT_EQ(zopt({"-d1", "dir.x/file"}).code, 0);
  EXPECT_TRUE(exists("dir.x/file.opt"));
  EXPECT_TRUE(exists("dir.x/file.nfo"));
  EXPECT_TRUE(exists("dir.x/file.odb"));
  EXPECT_FALSE(exists("dir.opt"));
}

TEST_F(ZoptTest, SecondNameIsTheOutputThirdIsIgnoredMoreAreGarbage) {
  write_image("a.if");
  Result r = zopt({"a.if", "out.bin"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(exists("out.bin"));
  EXPECT_FALSE(exists("a.opt"));

  r = zopt({"a.if", "o1", "o2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(exists("o1"));
  EXPECT_FALSE(exists("o2"));

  r = zopt({"a.if", "o1", "o2", "o3", "-o2", "o4"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "\n>>>> OPTIMIZER ERROR: Unexpected options: a.if o1 o3\n"
            "\n>>>> OPTIMIZER ERROR: Unexpected options: a.if o1 o4\n"
            "\n>>>> OPTIMIZER ERROR: Garbage on command line\n\n");
}

TEST_F(ZoptTest, InputErrors) {
  Result r = zopt({"missing.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "\n>> Cannot Open Input icode File, missing.if : No such file or directory, "
            "Aborting\n");
  EXPECT_FALSE(exists("missing.opt"));

  write("bad.if", {'n', 'o', 't', ' ', 'i', 'c', 'o', 'd', 'e'});
  r = zopt({"bad.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "\n>> Error when opening input icode file : bad.if, Aborting\n");
  EXPECT_FALSE(exists("bad.opt"));

  write_image("a.if");
  r = zopt({"a.if", "no/such/dir/out.opt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "\n>> Cannot Open Output icode File, no/such/dir/out.opt : No such file or "
            "directory, Aborting\n");
}

TEST_F(ZoptTest, InvalidLevelOrGoalTerminatesAbnormally) {
  write_image("a.if");
  Result r = zopt({"-o7", "a.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("--opt_level given invalid value: 7\n"
                        "\n>>>> Optimizer terminated abnormally\n" +
                            std::string(kDefectStart),
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find("\"--preproc_with_comment\""), std::string::npos);
  EXPECT_FALSE(exists("a.opt"));

  r = zopt({"--size_speed_goal=6", "a.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("--size_speed_goal given invalid value:  6\n", 0), 0u) << r.err;

  // An unknown word is refused at once by the option parser.
  r = zopt({"-oboth", "a.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error: bad argument to option -o: should be one of {0,1,2,3,4,off}"),
            std::string::npos)
      << r.err;

  // With "debug:abort" the failure aborts for the debugger.
  r = zopt({"--debug_switches=abort", "-o9", "a.if"});
  EXPECT_EQ(r.signal, SIGABRT);
}

TEST_F(ZoptTest, InformationFileNeedsLevelThreeOrDebugOutput) {
  write_image("a.if");
  EXPECT_EQ(zopt({"-o2", "--info=1", "a.if"}).code, 0);
  EXPECT_FALSE(exists("a.nfo"));

  EXPECT_EQ(zopt({"-o3", "--info=1", "a.if"}).code, 0);
  ASSERT_TRUE(exists("a.nfo"));
  std::string info = read("a.nfo");
  EXPECT_EQ(info.substr(0, 48), "ZOR Optimizer                           Version ");
  size_t line2 = info.find('\n') + 1;
  EXPECT_EQ(info.substr(line2, 14), "Build Number 1");
  EXPECT_EQ(info.find('\n', line2) - line2, 13u + 1 + 4 + 1 + 8 + 1 + 5 + 1 + 3 + 1 + 4);
  EXPECT_EQ(info.substr(info.size() - 25), "\n== END OF INFO OUTPUT==\n");

  std::filesystem::remove(path("a.nfo"));
  Result r = zopt({"-o2", "-d", "1", "--info_file=report.txt", "a.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(exists("report.txt"));
  EXPECT_FALSE(exists("a.nfo"));
  EXPECT_TRUE(exists("a.odb"));

  r = zopt({"-o3", "--info=1", "--info_file=no/dir/x.nfo", "a.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "\n>> Cannot Open Info File, no/dir/x.nfo : No such file or directory, Aborting\n");
}

TEST_F(ZoptTest, DebugOutputRecordsTheCommandLineAndTheOptionSets) {
  write_image("a.if", {{0, {"-o2", "--volatile_lvalues"}}, {4, {"-i9"}}});
  Result r = zopt({"-d1", "--size_speed_goal=3", "a.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err,
            "\n\t*** Optimizing code size, not speed ***\n\n"
            "\n>>>> Warning: All non-auto lvalues are considered VOLATILE.\n\n");
  std::string log = read("a.odb");
  const std::string expected =
      "\n>>>> Warning: All non-auto lvalues are considered VOLATILE.\n\n"
      ";\tzopt -d1 --size_speed_goal=3 a.if \n"
      "Option set 0 (file-level options):\n\t-o2\n\t--volatile_lvalues\n"
      "Option set 4:\n\t-i9\n\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.size() - 26), "\n== END OF DEBUG OUTPUT==\n");

  // Ignoring the file's options leaves their texts out of the listing.
  r = zopt({"-d1", "--ignore_file_options", "a.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  log = read("a.odb");
  EXPECT_NE(log.find("Option set 0 (file-level options):\nOption set 4:\n\n"), std::string::npos)
      << log;
}

TEST_F(ZoptTest, FileOptionsComeBeforeTheCommandLine) {
  write_image("a.if", {{0, {"-o3", "--info=2"}}});
  EXPECT_EQ(zopt({"a.if"}).code, 0);
  EXPECT_TRUE(exists("a.nfo"));   // level 3 from the file

  std::filesystem::remove(path("a.nfo"));
  std::filesystem::remove(path("a.opt"));
  Result r = zopt({"--dump_options", "-o2", "a.if"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("\n--opt_level               SEEN     ENABLED  ENUMERATED ARG: 2\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\n--info                    SEEN     ENABLED  NUMBER ARG: 2\n"),
            std::string::npos);
  EXPECT_FALSE(exists("a.opt"));   // the dump ends the run before any output

  EXPECT_EQ(zopt({"-o2", "a.if"}).code, 0);
  EXPECT_FALSE(exists("a.nfo"));

  write_image("b.if", {{0, {"--vector_target=avx"}}});
  r = zopt({"b.if"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error: bad argument to option --vector_target"), std::string::npos);
  EXPECT_EQ(zopt({"--ignore_file_options", "b.if"}).code, 0);
}

// After set-up the program context receives what the reader decodes.
TEST_F(ZoptTest, ReadsAProgramThroughTheProgramContext) {
  IcodeImage img;
  img.header();
  img.begin(TAG_FUNC_BEGIN).pos(1, 1, 2).uleb(0).end();
  img.begin(TAG_FUNC_END).pos(1, 9, 1).end();
  img.end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("m.c").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  img.symbol({.name = "main", .file = 1, .line = 1, .column = 5});
  img.end_stream();
  write("m.if", img.bytes());
  Result r = zopt({"m.if"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(ZoptTest, InterruptExitsWithoutDeletingTheOutput) {
  int fd = -1;
  pid_t pid = spawn_on_fifo({"f.if"}, &fd);
  std::vector<uint8_t> header = header_only();
  ASSERT_EQ(::write(fd, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  // The output file exists once the reader waits for the main stream.
  ASSERT_TRUE(wait_for_file("f.opt"));
  kill(pid, SIGINT);
  Result r = wait_for(pid);
  close(fd);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "[zopt forced exit]\n");
  EXPECT_TRUE(exists("f.opt"));
}

TEST_F(ZoptTest, TerminateSignal) {
  int fd = -1;
  pid_t pid = spawn_on_fifo({"f.if"}, &fd);
  kill(pid, SIGTERM);
  Result r = wait_for(pid);
  close(fd);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "[zopt received a terminate signal]\n");
}

TEST_F(ZoptTest, FaultSignalReportsAnInternalError) {
  int fd = -1;
  pid_t pid = spawn_on_fifo({"-d1", "-o3", "--info=1", "f.if"}, &fd);
  std::vector<uint8_t> header = header_only();
  ASSERT_EQ(::write(fd, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  ASSERT_TRUE(wait_for_file("f.opt"));
  kill(pid, SIGSEGV);
  Result r = wait_for(pid);
  close(fd);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err.rfind("\nINTERNAL ERROR: zopt experienced a segmentation fault\n"
                        "                  while processing function <unknown> file f.if\n\n" +
                            std::string(kDefectStart),
                        0),
            0u)
      << r.err;
  EXPECT_NE(read("f.odb").find("\n>>>> Optimizer terminated by signal: SIGSEGV.\n"),
            std::string::npos);
  EXPECT_NE(read("f.nfo").find("\n>>>> Optimizer terminated by signal: SIGSEGV.\n"),
            std::string::npos);
}

} // namespace
} // namespace zor
