// Run state routines: the stem rule, the debug file and its switching, the
// debug log guard, abnormal termination and the end-of-run markers.
#include "driver/run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/switches.h"
#include "ir/funinfo.h"
#include "ir/symtab.h"

namespace zor {
namespace {

using ::testing::ExitedWithCode;

std::string slurp(const std::string &name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RunTest : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zopt_run_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::snprintf(run.input_name, sizeof run.input_name, "%s/in.if", dir_.c_str());
  }
  void TearDown() override {
    for (FILE *f : {run.debug, run.info})
      if (f && f != stderr)
        std::fclose(f);
    run.debug = run.info = nullptr;
    run.debug_flag = run.info_flag = 0;
    run.input_name[0] = run.output_name[0] = '\0';
    currfunc = nullptr;
    currfuninfo = nullptr;
    sw::reset_switches();
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
};

TEST(StripExtensionTest, CutsAtTheLastDotOfTheLastComponent) {
  EXPECT_EQ(strip_extension("a.if"), "a");
  EXPECT_EQ(strip_extension("a.b.if"), "a.b");
  EXPECT_EQ(strip_extension("noext"), "noext");
  EXPECT_EQ(strip_extension("dir.x/file"), "dir.x/file");
  EXPECT_EQ(strip_extension("dir.x\\file"), "dir.x\\file");
  EXPECT_EQ(strip_extension("dir.x/file.if"), "dir.x/file");
  EXPECT_EQ(strip_extension(".if"), "");
}

TEST_F(RunTest, DebugFileOpensOnceAndSwitchesWithASuffix) {
  open_debug_file(true);
  ASSERT_NE(run.debug, nullptr);
  FILE *first = run.debug;
  open_debug_file(true);   // already open, no suffix: nothing happens
  EXPECT_EQ(run.debug, first);

  open_debug_file(false, "main");
  EXPECT_NE(run.debug, first);
  std::fclose(first);
  EXPECT_EQ(slurp(dir_ + "/in.odb"), ">>>> SWITCHING LOG TO " + dir_ + "/in.main.odb\n");
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/in.main.odb"));

  // The name before ".odb" is cut to 250 characters.
  FILE *second = run.debug;
  run.debug = nullptr;
  std::fclose(second);
  std::string suffix(300, 's');
  std::string stem = dir_ + "/in." + suffix;
  open_debug_file(false, suffix.c_str());
  EXPECT_NE(run.debug, stderr);
  std::string expected = stem.substr(0, 250) + ".odb";
  EXPECT_TRUE(std::filesystem::exists(expected)) << expected;
}

TEST_F(RunTest, DebugFileFailure) {
  std::snprintf(run.input_name, sizeof run.input_name, "%s/no/dir/in.if", dir_.c_str());
  std::string name = dir_ + "/no/dir/in.odb";
  EXPECT_EXIT(open_debug_file(true), ExitedWithCode(1),
              "\n>> Cannot Open Debug File, " + name +
                  " : No such file or directory, Aborting\n");
  // Not fatal: the debug output falls back to standard error.
  ::testing::internal::CaptureStderr();
  open_debug_file(false);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(run.debug, stderr);
  EXPECT_EQ(err, "\n>> Cannot Open Debug File, " + name +
                     " : No such file or directory, Aborting\n");
}

TEST_F(RunTest, DebugLogIsWrittenOnlyWhileTheFlagIsSet) {
  run.debug = std::tmpfile();
  debug_printf("hidden %d\n", 1);
  run.debug_flag = 2;
  debug_printf("shown %s\n", "x");
  std::rewind(run.debug);
  char buf[64] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, run.debug);
  EXPECT_EQ(std::string(buf, n), "shown x\n");
}

TEST_F(RunTest, FailedDebugWriteTerminates) {
  EXPECT_EXIT(
      {
        run.debug = std::fopen("/dev/full", "w");
        run.debug_flag = 1;
        debug_printf("%s\n", "x");
      },
      ExitedWithCode(1), "\n>>>> Optimizer terminated abnormally\n");
}

TEST_F(RunTest, AbnormalTermination) {
  std::string out = dir_ + "/in.opt";
  std::snprintf(run.output_name, sizeof run.output_name, "%s", out.c_str());
  std::ofstream(out) << "partial";
  std::string log = dir_ + "/log.odb";
  SYMTAB fn;
  fn.name_text = "compute";
  FUNINFO fi;
  fi.file_name = "m.c";
  EXPECT_EXIT(
      {
        run.debug = std::fopen(log.c_str(), "w");
        run.debug_flag = 1;
        currfunc = &fn;
        currfuninfo = &fi;
        terminate_abnormally("ERROR - OUT OF MEMORY");
      },
      ExitedWithCode(1),
      "^\n>>>> Optimizer terminated abnormally\n>>>>    in function compute\\(\\)\n"
      ">>>>    in file \"m.c\"\n\n>>>> ERROR - OUT OF MEMORY.\n\nThis failure is caused by a "
      "defect in the optimizer.");
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(slurp(log),
            "\n>>>> Optimizer terminated abnormally.\n\n>>>> ERROR - OUT OF MEMORY.\n");

  // No message, no current function: only the fixed lines.
  EXPECT_EXIT(terminate_abnormally(nullptr), ExitedWithCode(1),
              "^\n>>>> Optimizer terminated abnormally\n\nThis failure");
  // The switch "debug:abort" aborts instead.
  EXPECT_DEATH(
      {
        sw::parse_switch_list("debug", "abort");
        terminate_abnormally(nullptr);
      },
      "Optimizer terminated abnormally");
}

TEST_F(RunTest, EndOfRunMarkers) {
  std::string log = dir_ + "/a.odb", info = dir_ + "/a.nfo";
  run.debug = std::fopen(log.c_str(), "w");
  run.info = std::fopen(info.c_str(), "w");
  run.debug_flag = 1;
  run.info_flag = 1;
  finish_outputs();
  EXPECT_EQ(slurp(log), "\n== END OF DEBUG OUTPUT==\n");
  EXPECT_EQ(slurp(info), "\n== END OF INFO OUTPUT==\n");

  // Nothing is written for an output that is off.
  std::fclose(run.debug);
  std::fclose(run.info);
  run.debug = std::fopen(log.c_str(), "w");
  run.info = std::fopen(info.c_str(), "w");
  run.info_flag = 0;
  finish_outputs();
  EXPECT_EQ(slurp(info), "");
}

TEST(SignalNamesTest, NamesAndDescriptions) {
  EXPECT_STREQ(signal_name(SIGSEGV), "SIGSEGV");
  EXPECT_STREQ(signal_name(SIGTERM), "SIGTERM");
  EXPECT_STREQ(signal_name(SIGHUP), "<unknown>");
  EXPECT_STREQ(signal_description(SIGILL), "executed an illegal instruction");
  EXPECT_STREQ(signal_description(SIGABRT), "had an internal inconsistency and aborted");
  EXPECT_STREQ(signal_description(SIGHUP), "experienced a fatal internal fault");
}

} // namespace
} // namespace zor
