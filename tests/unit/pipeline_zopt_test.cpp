// Programs through zopt end to end: the bundled example at every level under
// --verify, the debug and information files with their end markers, a file
// without functions, a forced order from the environment, and a level-0 run
// over zopt's own output.  Every output is read back with the project's
// reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/icode_roundtrip.h"

#include "driver/build_stamp.h"
#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/recording_client.h"
#include "tests/support/tool_run.h"

namespace zor {
namespace {

using Result = test::ToolResult;

size_t count_of(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

class PipelineZoptTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::copy_file(ZOR_SOURCE_DIR "/examples/demo.if", path("demo.if"));
  }
  void TearDown() override { unsetenv("FORCED_OPT_PASSES"); }

  std::string path(const std::string &name) const { return dir_.path(name); }
  std::string read(const std::string &name) const { return dir_.read(name); }
  Result zopt(const std::vector<std::string> &args) { return dir_.run(ZOPT_PATH, args, "zopt"); }

  // What the project's reader makes of an output file, one line per
  // callback; empty with a failure when it cannot be read.
  std::string decode(const std::string &name) {
    FILE *f = std::fopen(path(name).c_str(), "rb");
    if (!f) {
      ADD_FAILURE() << name << " missing";
      return "";
    }
    test::RecordingClient client;
    TYPE_PKG types;
    std::string text;
    auto reader = IcodeReader::open(f, client, types);
    if (!reader) {
      ADD_FAILURE() << name << " refused by the reader";
    } else {
      try {
        reader->read_all();
        text = client.joined();
      } catch (const IcodeFatal &e) {
        ADD_FAILURE() << name << ": " << e.what();
      }
    }
    reader.reset();
    std::fclose(f);
    return text;
  }

  test::ToolDir dir_{"zopt_e2e"};
};

TEST_F(PipelineZoptTest, TheExampleAtEveryLevelIsWrittenAndReadsBack) {
  for (const char *level : {"-o0", "-o1", "-o2", "-o3", "-o4"}) {
    Result r = zopt({level, "--verify", "demo.if"});
    EXPECT_EQ(r.code, 0) << level << r.err;
    EXPECT_EQ(r.err, "") << level;
    const std::string text = decode("demo.opt");
    EXPECT_EQ(count_of(text, "function_begin "), 2u) << level << "\n" << text;
    EXPECT_EQ(count_of(text, "\nstatement "), 7u) << level << "\n" << text;
    EXPECT_EQ(count_of(text, "\nfunction_end "), 2u) << level;
  }
}

TEST_F(PipelineZoptTest, DebugAndInformationFilesEndWithTheirMarkers) {
  Result r = zopt({"-o3", "-d1", "--info=1", "demo.if"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kToolTitle) + " Pass 2\n");
  const std::string log = read("demo.odb");
  EXPECT_EQ(count_of(log, "---------- ENTERING step 78 'output function' ----------\n"), 2u);
  EXPECT_EQ(count_of(log, "---------- ENTERING step 3 'analyze globals' ----------\n"), 1u);
  EXPECT_EQ(log.substr(log.size() - 26), "\n== END OF DEBUG OUTPUT==\n");
  const std::string info = read("demo.nfo");
  EXPECT_NE(info.find("\nscale() is called from 1 sites in this file.\n"), std::string::npos)
      << info;
  EXPECT_EQ(info.substr(info.size() - 25), "\n== END OF INFO OUTPUT==\n");
}

TEST_F(PipelineZoptTest, AFileWithoutFunctionsWritesItsGlobals) {
  test::IcodeImage img;
  img.header();
  img.end_stream();
  img.section_here(test::IcodeImage::GLOBALS);
  img.symbol({.name = "lonely"});
  img.end_stream();
  std::ofstream(path("g.if"), std::ios::binary)
      .write(reinterpret_cast<const char *>(img.bytes().data()),
             static_cast<std::streamsize>(img.bytes().size()));
  Result r = zopt({"-d1", "--verify", "g.if"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read("g.odb").find("ENTERING"), std::string::npos);
  EXPECT_NE(read("g.odb").find("\nGlobal symbols\nlonely:  "), std::string::npos);
  EXPECT_NE(decode("g.opt").find("new_symbol lonely "), std::string::npos);
}

TEST_F(PipelineZoptTest, RandomOrderFromTheEnvironment) {
  setenv("FORCED_OPT_PASSES", "random", 1);
  Result r = zopt({"-d1", "--verify", "demo.if"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(read("demo.odb").find("Pass list, from environment variable, is (random): "),
            std::string::npos);
  EXPECT_EQ(count_of(decode("demo.opt"), "function_begin "), 2u);
}

// The decoded lines without the command-line comment record every run
// writes (it decodes as inline assembly outside any function).
std::string without_command_line(const std::string &decoded) {
  std::istringstream in(decoded);
  std::string line, out;
  while (std::getline(in, line))
    if (line.rfind("asm \";\\x09", 0) != 0)
      out += line + "\n";
  return out;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// At level 0 zopt's output, run through zopt again, keeps its
// declarations (the bodies are compared by running them: tests/lit/zopt).
TEST_F(PipelineZoptTest, LevelZeroOverItsOwnOutputKeepsTheDeclarations) {
  ASSERT_EQ(zopt({"-o0", "demo.if"}).code, 0);
  Result r = zopt({"-o0", "demo.opt", "again.opt"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string first = decode("demo.opt");
  ASSERT_NE(first.find("asm \";\\x09zopt -o0 demo.if \""), std::string::npos) << first;
  auto declared = [](const std::string &decoded) {
    std::string out;
    for (const std::string &line : test::declarations(split_lines(decoded)))
      out += line + "\n";
    return out;
  };
  EXPECT_EQ(declared(without_command_line(decode("again.opt"))),
            declared(without_command_line(first)));
}

} // namespace
} // namespace zor
