// Option sets: option words, radix and range rules, the diagnostics that end
// the run, tracing, replay into file sets, value queries and the handlers.
#include "driver/option_set.h"
#include "driver/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "diag/diag.h"
#include "driver/switches.h"
#include "ir/funinfo.h"
#include "ir/symtab.h"

namespace zor {
namespace {

using ::testing::ExitedWithCode;

class OptionSetTest : public ::testing::Test {
protected:
  void SetUp() override {
    diag_reset();
    sw::reset_switches();
    reset_option_variables();
    // Whole messages on one line, so that patterns can span them.
    diag_settings().wrap = false;
  }
  void TearDown() override {
    run.file_options = nullptr;
    run.option_sets.clear();
    currfunc = nullptr;
    sw::reset_switches();
    reset_option_variables();
    diag_reset();
  }

  // Parses `words` (each without its leading "-") as a command line whose
  // remaining words feed the next-argument callback.
  void parse_words(option_set &set, std::deque<std::string> words) {
    words_ = std::move(words);
    set.set_next_argument([this]() -> const char * {
      if (words_.empty())
        return nullptr;
      held_ = words_.front();
      words_.pop_front();
      return held_.c_str();
    });
    while (!words_.empty()) {
      std::string w = words_.front();
      words_.pop_front();
      set.parse(w.c_str() + 1);
    }
  }

  std::deque<std::string> words_;
  std::string held_;
};

long parsed_value(int id, const char *word) {
  option_set set;
  set.parse(word);
  return set.value(id);
}

TEST_F(OptionSetTest, RadixFollowsPrefixAndSuffix) {
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=0x1F"), 31);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=0X1f"), 31);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=017"), 15);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=09"), 9);     // 0 and a non-octal digit
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=0"), 0);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=1Fh"), 31);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=0FFH"), 255);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=17q"), 15);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=17Q"), 15);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=+12"), 12);
  EXPECT_EQ(parsed_value(OPT_INLINE_THRESHOLD, "i=2147483647"), INT32_MAX);
  EXPECT_EQ(parsed_value(OPT_RESERVED_REGISTERS, "-reserved_registers=0xFFFF"), 0xFFFF);
}

TEST_F(OptionSetTest, NumberMustUseTheWholeText) {
  const char *bad[] = {"i=12x", "i=0x", "i=8q", "i=", "i=0x1G", "i=1 2"};
  for (const char *word : bad)
    EXPECT_EXIT(parsed_value(OPT_INLINE_THRESHOLD, word), ExitedWithCode(1),
                "error: argument to option -i \\(.*\\) is out of range\n")
        << word;
}

TEST_F(OptionSetTest, OutOfRangeDiagnosticFollowsTheRange) {
  // A range other than 0..INT32_MAX names its bounds.
  EXPECT_EXIT(parsed_value(OPT_PROGRAM_MODE, "op7"), ExitedWithCode(1),
              "error: argument to option -op \\(7\\) is out of range \\(must be a number from 0 "
              "to 3\n");
  EXPECT_EXIT(parsed_value(OPT_ERROR_LIMIT, "-error_limit=0"), ExitedWithCode(1),
              "from 1 to 2147483647\n");
  EXPECT_EXIT(parsed_value(OPT_RESERVED_REGISTERS, "-reserved_registers=0x10000"),
              ExitedWithCode(1), "must be a number from 0 to 65535\n");
  EXPECT_EXIT(parsed_value(OPT_RESERVED_REGISTERS, "-reserved_registers=-1"), ExitedWithCode(1),
              "must be a number from 0 to 65535\n");
  // 0..INT32_MAX: a "-" is refused as not non-negative, anything else is
  // plainly out of range.
  EXPECT_EXIT(parsed_value(OPT_INLINE_THRESHOLD, "i=-5"), ExitedWithCode(1),
              "error: argument to option -i \\(-5\\) is out of range \\(must be a "
              "non-negative_number\\)\n");
  EXPECT_EXIT(parsed_value(OPT_INLINE_THRESHOLD, "i=2147483648"), ExitedWithCode(1),
              "error: argument to option -i \\(2147483648\\) is out of range\n");
  EXPECT_EXIT(parsed_value(OPT_INFO, "-info=99999999999999999999999"), ExitedWithCode(1),
              "error: argument to option --info \\(9+\\) is out of range\n");
}

TEST_F(OptionSetTest, ShortAndLongSpellings) {
  option_set set;
  parse_words(set, {"-o", "3", "-op2", "-i", "40", "-d1", "--info=2"});
  EXPECT_EQ(set.value(OPT_LEVEL), 3);
  EXPECT_EQ(set.value(OPT_PROGRAM_MODE), 2);   // "-op2" is not "-o" with "p2"
  EXPECT_EQ(set.value(OPT_INLINE_THRESHOLD), 40);
  EXPECT_EQ(set.value(OPT_DEBUG_OUTPUT), 1);
  EXPECT_EQ(set.value(OPT_INFO), 2);

  option_set other;
  parse_words(other, {"-o2", "-op", "1", "--opt_level", "off", "--size_speed_goal=5"});
  EXPECT_EQ(other.value(OPT_LEVEL), 0);
  EXPECT_EQ(other.state(OPT_LEVEL).count, 2u);
  EXPECT_EQ(other.arg_count(OPT_LEVEL), 1u);   // a scalar keeps its last argument
  EXPECT_EQ(other.value(OPT_PROGRAM_MODE), 1);
  EXPECT_EQ(other.value(OPT_SIZE_SPEED_GOAL), 5);
}

TEST_F(OptionSetTest, MissingParameterAndUnknownOption) {
  EXPECT_EXIT(parsed_value(OPT_INFO, "-info"), ExitedWithCode(1),
              "error: option --info is missing its parameter 'LEVEL'\n");
  EXPECT_EXIT(
      {
        option_set set;
        parse_words(set, {"-o"});
      },
      ExitedWithCode(1), "error: option -o is missing its parameter 'LEVEL'\n");
  EXPECT_EXIT(parsed_value(OPT_LEVEL, "-no_such_option"), ExitedWithCode(1),
              "\n>>>> OPTIMIZER ERROR: Unknown option: --no_such_option\n");
  EXPECT_EXIT(parsed_value(OPT_HELP, "-help=yes"), ExitedWithCode(1),
              "error: bad argument to option --help: should be one of \\{\\}\n");
}

TEST_F(OptionSetTest, EnumeratedChoices) {
  EXPECT_EQ(parsed_value(OPT_VECTOR_TARGET, "-vector_target=simd"), 1);
  EXPECT_EXIT(parsed_value(OPT_VECTOR_TARGET, "-vector_target=avx"), ExitedWithCode(1),
              "error: bad argument to option --vector_target: should be one of \\{none,simd\\}\n");
  EXPECT_EXIT(parsed_value(OPT_LEVEL, "ofast"), ExitedWithCode(1),
              "should be one of \\{0,1,2,3,4,off\\}\n");
  // The level and the goal keep other numbers for their handlers to judge.
  EXPECT_EQ(parsed_value(OPT_LEVEL, "o7"), 7);
  EXPECT_EQ(parsed_value(OPT_SIZE_SPEED_GOAL, "-size_speed_goal=-1"), -1);
  // A deprecated choice is accepted with a warning and left out of the list.
  EXPECT_EXIT(
      {
        parsed_value(OPT_ADVICE_LEVEL, "-advice_level=all");
        std::exit(parsed_value(OPT_ADVICE_LEVEL, "-advice_level=all") == 2 ? 3 : 4);
      },
      ExitedWithCode(3),
      "WARNING: argument 'all' to option '--advice_level' is deprecated and will be removed in "
      "a future release\n");
  EXPECT_EXIT(parsed_value(OPT_ADVICE_LEVEL, "-advice_level=most"), ExitedWithCode(1),
              "\\{off,brief,full\\}\n");
}

TEST_F(OptionSetTest, CaseInsensitiveNamesWarn) {
  EXPECT_EXIT(std::exit(static_cast<int>(parsed_value(OPT_LEVEL, "-OPT_LEVEL=2")) + 10),
              ExitedWithCode(12),
              "warning: Case insensitivity of options has been deprecated; --OPT_LEVEL must "
              "be written as --opt_level in future releases\n");
  EXPECT_EXIT(std::exit(static_cast<int>(parsed_value(OPT_LEVEL, "O3")) + 10), ExitedWithCode(13),
              "-O must be written as -o");
}

TEST_F(OptionSetTest, ListsCollectItems) {
  option_set set;
  parse_words(set, {"--simd_widths=2,4", "--simd_widths", "8", "--debug_switches=a=1,,b",
                    "--advice_topics=loops,alias"});
  ASSERT_EQ(set.arg_count(OPT_SIMD_WIDTHS), 3u);
  EXPECT_EQ(set.value(OPT_SIMD_WIDTHS, 2), 8);
  ASSERT_EQ(set.arg_count(OPT_DEBUG_SWITCHES), 2u);
  EXPECT_STREQ(set.text(OPT_DEBUG_SWITCHES, 0), "a=1");
  EXPECT_STREQ(set.text(OPT_DEBUG_SWITCHES, 1), "b");
  EXPECT_EQ(set.value(OPT_ADVICE_TOPICS, 1), ADV_ALIAS);
  // One history entry per occurrence, with the whole argument.
  ASSERT_EQ(set.history().size(), 4u);
  EXPECT_EQ(std::string(set.history()[0].arg.c_str()), "2,4");
  EXPECT_EXIT(parsed_value(OPT_SIMD_WIDTHS, "-simd_widths=4,65"), ExitedWithCode(1),
              "from 1 to 64\n");
  EXPECT_EXIT(parsed_value(OPT_ADVICE_TOPICS, "-advice_topics=loops,cache"), ExitedWithCode(1),
              "should be one of \\{loops,alias,vector,inline,globals\\}\n");
}

TEST_F(OptionSetTest, ValueQueries) {
  option_set set;
  parse_words(set, {"--source_name=42abc", "--info_file=x.nfo", "--reserved_registers=1Fh"});
  EXPECT_EQ(set.value(OPT_SOURCE_NAME), 42);   // text converted to a signed number
  EXPECT_EQ(set.value(OPT_INFO_FILE), 0);
  EXPECT_EQ(set.value(OPT_RESERVED_REGISTERS), 0x1F);
  EXPECT_EQ(set.value(OPT_SOURCE_NAME, 1), 0);   // index out of range
  EXPECT_EQ(set.value(OPT_LEVEL), 0);            // not given
  EXPECT_EQ(set.value(-1), 0);
  EXPECT_EQ(set.value(kOptionCount), 0);
  EXPECT_EQ(set.text(OPT_LEVEL), nullptr);
}

TEST_F(OptionSetTest, OnOffPair) {
  option_set set;
  parse_words(set, {"--fp_reassociate"});
  set.set_source("option set 1");
  parse_words(set, {"--no_fp_reassociate"});
  EXPECT_FALSE(set.given(OPT_FP_REASSOCIATE));
  EXPECT_EQ(set.state(OPT_FP_REASSOCIATE).touches, 2u);
  EXPECT_TRUE(set.given(OPT_NO_FP_REASSOCIATE));

  EXPECT_EXIT(
      {
        option_set same;
        same.parse("-no_fp_reassociate");
        same.parse("-fp_reassociate");
      },
      ExitedWithCode(1),
      "error: option --fp_reassociate conflicts with previous option --no_fp_reassociate\n");
}

TEST_F(OptionSetTest, ReplayPutsTheCommandLineLast) {
  option_set command_line;
  parse_words(command_line, {"-o2", "--debug_switches=x", "--volatile_lvalues"});
  option_set file;
  file.parse("o4");
  file.parse("i=7");
  file.copy_from(command_line);
  EXPECT_EQ(file.value(OPT_LEVEL), 2);
  EXPECT_EQ(file.value(OPT_INLINE_THRESHOLD), 7);
  EXPECT_TRUE(file.given(OPT_VOLATILE_LVALUES));
  EXPECT_TRUE(file.state(OPT_LEVEL).flags & OF_REPLAYED);
  EXPECT_FALSE(file.state(OPT_INLINE_THRESHOLD).flags & OF_REPLAYED);
  ASSERT_EQ(file.history().size(), 5u);
  EXPECT_EQ(file.history()[2].id, OPT_LEVEL);
  EXPECT_EQ(file.history()[2].number, 2);
}

TEST_F(OptionSetTest, TraceLines) {
  option_set set(true);
  ::testing::internal::CaptureStdout();
  set.parse("-info=0x10");
  set.parse("-volatile_lvalues");
  set.clear(OPT_VOLATILE_LVALUES);
  set.parse("-source_name=s.c");
  set.parse("o=-1");
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "opt option debug: Parsed option id info/5\n"
            "opt option debug: about to parse '0x10' as unsigned, radix 16\n"
            "opt option debug: check 0x0 <= 0x10 <= 0x7FFFFFFF\n"
            "opt option debug: Set    option id info arg to value '16' (1 args)"
            "opt option debug: Set    option id info to state 1\n"
            "opt option debug: Add option id info to history with arg 0x10\n"
            "opt option debug: Parsed option id volatile_lvalues/12\n"
            "opt option debug: Set    option id volatile_lvalues to state 1\n"
            "opt option debug: Add option id volatile_lvalues to history with arg (null)\n"
            "opt option debug: Clear  option id volatile_lvalues to state 0\n"
            "opt option debug: Parsed option id source_name/51\n"
            "opt option debug: Set    option id source_name arg to value 's.c' (1 args)"
            "opt option debug: Set    option id source_name to state 1\n"
            "opt option debug: Add option id source_name to history with arg s.c\n"
            "opt option debug: Parsed option id opt_level/0\n"
            "opt option debug: about to parse '-1' as signed, radix 10\n"
            "opt option debug: Set    option id opt_level arg to value '-1' (1 args)"
            "opt option debug: Set    option id opt_level to state 1\n"
            "opt option debug: Add option id opt_level to history with arg -1\n");
}

TEST_F(OptionSetTest, DumpWords) {
  option_set set;
  parse_words(set, {"-o2", "--volatile_lvalues", "--reserved_registers=255",
                    "--debug_switches=a,b"});
  set.clear(OPT_VOLATILE_LVALUES);
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  set.dump(f);
  std::fclose(f);
  std::string out(buf, len);
  std::free(buf);
  EXPECT_NE(out.find("\n--opt_level               SEEN     ENABLED  ENUMERATED ARG: 2\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n--volatile_lvalues        SEEN     disabled NO ARGS\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n--reserved_registers      SEEN     ENABLED  HEXNUM ARG: 0xFF\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n--debug_switches          SEEN     ENABLED  STRING LIST ARG: a b\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n--info                    not seen disabled NUMBER ARG: <arg not "
                     "provided>\n"),
            std::string::npos);
  // One line per option after the heading.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kOptionCount + 1);
}

TEST_F(OptionSetTest, TableIsConsistent) {
  for (int id = 0; id < kOptionCount; ++id) {
    const OptionDesc &d = option_table[id];
    SCOPED_TRACE(d.name);
    EXPECT_LE(std::strlen(d.name) + 2, 25u);   // fits the dump's name column
    EXPECT_EQ(find_option(d.name, true, false), id);   // names are unique
    EXPECT_EQ(d.kind == OK_NONE, d.param == nullptr);
    EXPECT_TRUE(d.help && *d.help);
    if (d.pair >= 0) {
      EXPECT_EQ(option_table[d.pair].pair, id);
    }
  }
}

TEST_F(OptionSetTest, HandlersSetTheVariables) {
  option_set set;
  parse_words(set, {"--fp_mode=fast", "--debug_switches=skip_pass=13,SIMD",
                    "--enable_switches=lir", "--debug_categories=3,x,7b", "--inline_mode=2",
                    "--no_wrap_diagnostics", "--fp_reassociate", "--advice_topics=vector",
                    "--simd_widths=2,0x4"});
  diag_settings().wrap = true;
  apply_option_set(set);
  EXPECT_TRUE(option_vars.fp_ignore_nans);
  EXPECT_TRUE(option_vars.fp_ignore_signed_zeros);
  EXPECT_EQ(sw::debug("skip_pass"), 13);
  EXPECT_EQ(sw::debug("SIMD"), 1);
  EXPECT_EQ(sw::enable("lir"), 1);
  EXPECT_EQ(sw::debug("lir"), 0);
  EXPECT_TRUE(option_vars.debug_category[3]);
  EXPECT_TRUE(option_vars.debug_category[7]);
  EXPECT_FALSE(option_vars.debug_category[0]);
  EXPECT_EQ(option_vars.inline_mode, 2);
  EXPECT_FALSE(diag_settings().wrap);
  EXPECT_TRUE(option_vars.fp_reassociate);
  EXPECT_EQ(option_vars.advice_topics, static_cast<uint32_t>(ADV_VECTOR));
  EXPECT_EQ(option_vars.simd_widths, (std::vector<long>{2, 4}));
  EXPECT_EQ(option_vars.unroll_size_limit, 195);
  EXPECT_EQ(option_vars.advice_level, 2);

  reset_option_variables();
  EXPECT_TRUE(diag_settings().wrap);
  EXPECT_FALSE(option_vars.fp_ignore_nans);
}

TEST_F(OptionSetTest, InvalidLevelAndGoalEndTheRunAbnormally) {
  EXPECT_EXIT(
      {
        option_set set;
        set.parse("o7");
        apply_option_set(set);
      },
      ExitedWithCode(1),
      "--opt_level given invalid value: 7\n\n>>>> Optimizer terminated abnormally\n");
  EXPECT_EXIT(
      {
        option_set set;
        set.parse("-size_speed_goal=9");
        apply_option_set(set);
      },
      ExitedWithCode(1), "--size_speed_goal given invalid value:  9\n");
}

TEST_F(OptionSetTest, QueriesReadTheCurrentFunctionsSet) {
  EXPECT_EQ(opt_level(), 1);   // before set-up: the defaults
  EXPECT_EQ(opt_for_speed(), 4);
  EXPECT_EQ(auto_inline_threshold(), 0);

  auto file = std::make_unique<option_set>();
  file->parse("o2");
  auto fn_set = std::make_unique<option_set>();
  fn_set->parse("o0");
  fn_set->parse("-size_speed_goal=1");
  fn_set->parse("i=5");
  run.file_options = file.get();
  run.option_sets[0] = std::move(file);
  run.option_sets[3] = std::move(fn_set);

  EXPECT_EQ(opt_level(), 2);
  EXPECT_EQ(auto_inline_threshold(), 20);
  SYMTAB fn;
  fn.option_set_number = 3;
  currfunc = &fn;
  EXPECT_EQ(opt_level(), 0);
  EXPECT_EQ(opt_for_speed(), 1);
  EXPECT_EQ(auto_inline_threshold(), 5);
  fn.option_set_number = 9;   // no such set: the file-level one
  EXPECT_EQ(opt_level(), 2);
}

TEST_F(OptionSetTest, HelpStartsWithTheFixedLines) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  print_help(f, "/usr/lib/tools/zopt");
  std::fclose(f);
  std::string out(buf, len);
  std::free(buf);
  EXPECT_EQ(out.rfind("Usage: zopt [-options] filename\n\n"
                      "This tool is designed to be invoked by the compiler.\n",
                      0),
            0u);
  for (int id = 0; id < kOptionCount; ++id)
    EXPECT_NE(out.find(option_table[id].help), std::string::npos) << option_table[id].name;
}

} // namespace
} // namespace zor
