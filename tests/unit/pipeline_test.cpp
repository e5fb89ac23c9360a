// The pass pipeline in-process: the registry and its numbering, the pass
// table's run conditions, the active list (normal order, forced orders with
// repeats, gaps, junk, "random", an empty list) and the per-function driver
// over the bundled example (rounds and barriers, skip_pass, the suppressed
// and re-queued functions, split_odb, the information file, the internal
// checks and the tree verifier after a pass).
#include "driver/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/build_stamp.h"
#include "driver/option_set.h"
#include "driver/options.h"
#include "driver/pass.h"
#include "driver/passes.h"
#include "driver/run.h"
#include "driver/switches.h"
#include "icode/reader.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "tests/support/icode_image.h"

namespace zor {
namespace {

using ::testing::ExitedWithCode;

const char kDemo[] = ZOR_SOURCE_DIR "/examples/demo.if";

std::string slurp(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t count_of(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// "a a+1 ... b"
std::string steps(int a, int b) {
  std::string s;
  for (int i = a; i <= b; ++i)
    s += (s.empty() ? "" : " ") + std::to_string(i);
  return s;
}

// The log as tokens: "[f]" for a function header, the step number of each
// ENTERING line and "-N" for a skipped step.
std::string trace(const std::string &log) {
  static const std::regex header(R"(^==== FUNCTION (\S+)\(\) ====$)");
  static const std::regex step(R"(---------- (ENTERING|SKIPPING) step (\d+) ')");
  std::string out;
  std::istringstream in(log);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    std::string token;
    if (std::regex_search(line, m, header))
      token = "[" + m[1].str() + "]";
    else if (std::regex_search(line, m, step))
      token = (m[1] == "SKIPPING" ? "-" : "") + m[2].str();
    if (!token.empty())
      out += (out.empty() ? "" : " ") + token;
  }
  return out;
}

// ------------------------------------------------------------ registry

TEST(PassRegistry, SerialNumbersAreRegistrySlots) {
  pass_manager pm;
  pass *a = pm.create("a", nullptr);
  barrier_pass *b = pm.create<barrier_pass>("b", nullptr);
  EXPECT_EQ(a->step(), 0u);
  EXPECT_EQ(b->step(), 1u);
  EXPECT_FALSE(a->is_barrier());
  EXPECT_TRUE(b->is_barrier());
  EXPECT_EQ(pm.at(1), b);
  EXPECT_EQ(pm.at(2), nullptr);
  {
    pass local(&pm, "local", nullptr);
    EXPECT_EQ(local.step(), 2u);
    EXPECT_EQ(pm.at(2), &local);
  }
  // A destroyed pass leaves its slot empty; numbers are never reused.
  EXPECT_EQ(pm.size(), 3u);
  EXPECT_EQ(pm.at(2), nullptr);
  EXPECT_EQ(pm.create("next", nullptr)->step(), 3u);

  pm.clear();
  EXPECT_EQ(pm.size(), 0u);
  EXPECT_EQ(pm.create("again", nullptr)->step(), 0u);

  pass orphan(nullptr, "orphan", nullptr);
  EXPECT_EQ(orphan.serial(), kNoSerial);
}

TEST(PassRegistryDeathTest, APassOutlivingItsSlotIsAnInternalFailure) {
  EXPECT_EXIT(
      {
        pass_manager pm;
        pass *late = new pass(&pm, "late", nullptr);
        pm.clear();
        delete late;
      },
      ExitedWithCode(1), "invalid vector<T> subscript");
}

// The barriers split the run into the whole-program phase and pass 2.
TEST(PassTable, BarriersAreStepsThreeToTen) {
  for (uint32_t step = 0; step < kPassCount; ++step)
    EXPECT_EQ(pass_table[step].kind == PassKind::barrier, step >= 3 && step <= 10) << step;
  for (uint32_t step = 0; step < kPassCount; ++step)
    EXPECT_EQ(pass_table[step].loops != LoopWork::none, step >= 28 && step <= 59) << step;
}

// ---------------------------------------------------------- pass orders

TEST(PassOrderText, NumbersUntilTheFirstItemThatIsNotOne) {
  EXPECT_EQ(parse_pass_order("3, 0 0,junk 5", 78).steps, (std::vector<uint32_t>{3, 0, 0}));
  EXPECT_EQ(parse_pass_order("5,,7\t9", 78).steps, (std::vector<uint32_t>{5, 7, 9}));
  // Outside 0..77: left out, and the reading goes on.
  EXPECT_EQ(parse_pass_order("77 78 -1 100000000000 0", 78).steps,
            (std::vector<uint32_t>{77, 0}));
  EXPECT_TRUE(parse_pass_order("", 78).steps.empty());
  EXPECT_TRUE(parse_pass_order("junk 1 2", 78).steps.empty());
  EXPECT_FALSE(parse_pass_order("1 2", 78).random);
  PassOrder random = parse_pass_order("random", 78);
  EXPECT_TRUE(random.random);
  EXPECT_TRUE(random.steps.empty());
}

TEST(PassOrderText, RandomIsAPermutationDrawnFromTheSeed) {
  for (uint32_t n : {0u, 1u, 2u, 3u, 78u}) {
    for (uint32_t seed = 0; seed < 40; ++seed) {
      std::vector<uint32_t> order = random_pass_order(n, seed);
      std::sort(order.begin(), order.end());
      std::vector<uint32_t> all(n);
      std::iota(all.begin(), all.end(), 0u);
      EXPECT_EQ(order, all) << "n " << n << " seed " << seed;
    }
  }
  // The exact shuffle of the reference generator.
  EXPECT_EQ(random_pass_order(6, 1), (std::vector<uint32_t>{2, 3, 4, 1, 0, 5}));
  EXPECT_EQ(random_pass_order(6, 12345), (std::vector<uint32_t>{4, 1, 3, 5, 2, 0}));
  EXPECT_EQ(random_pass_order(78, 9), random_pass_order(78, 9));
  EXPECT_NE(random_pass_order(78, 9), random_pass_order(78, 10));
}

// ------------------------------------------------------------- fixture

class PipelineTest : public ::testing::Test {
protected:
  void SetUp() override {
    unsetenv("FORCED_OPT_PASSES");
    char tmpl[] = "/tmp/zopt_pipeline_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::snprintf(run.input_name, sizeof run.input_name, "%s/demo.if", dir_.c_str());
    log_name_ = dir_ + "/demo.odb";
    run.debug = std::fopen(log_name_.c_str(), "w");
    ASSERT_NE(run.debug, nullptr);
    run.debug_flag = 1;
    sw::reset_switches();
    reset_option_variables();
    reset_pipeline();
  }

  void TearDown() override {
    reset_pipeline();
    reader_.reset();
    program_.reset();
    if (file_)
      std::fclose(file_);
    for (FILE *f : {run.debug, run.info})
      if (f && f != stderr)
        std::fclose(f);
    run.debug = run.info = nullptr;
    run.debug_flag = run.info_flag = 0;
    run.input_name[0] = '\0';
    run.file_options = nullptr;
    currfunc = nullptr;
    currfuninfo = nullptr;
    sw::reset_switches();
    reset_option_variables();
    unsetenv("FORCED_OPT_PASSES");
    std::filesystem::remove_all(dir_);
  }

  std::string log() {
    std::fflush(run.debug);
    return slurp(log_name_);
  }

  // The file-level option set from option words without their "-".
  void options(std::initializer_list<const char *> words) {
    options_ = std::make_unique<option_set>();
    for (const char *w : words)
      options_->parse(w);
    run.file_options = options_.get();
  }

  void open_program(const std::vector<uint8_t> *image = nullptr) {
    reader_.reset();
    if (file_)
      std::fclose(file_);
    file_ = nullptr;
    if (image) {
      memfile_ = std::make_unique<test::MemFile>(*image);
    } else {
      file_ = std::fopen(kDemo, "rb");
      ASSERT_NE(file_, nullptr);
    }
    program_ = std::make_unique<PROGRAM>();
    reader_ = IcodeReader::open(image ? memfile_->get() : file_, *program_, program_->types());
    ASSERT_TRUE(reader_);
  }

  // The whole driver over the example (or `image`).
  void run_program(const std::vector<uint8_t> *image = nullptr) {
    open_program(image);
    run_pipeline(*reader_, *program_);
  }

  // The example read, with the queues started: marks can be set before
  // the rounds run.
  void start_demo() {
    open_program();
    reader_->read_all();
    start_function_queues(*program_);
  }

  FUNINFO &fn(size_t i) { return *program_->functions()[i]; }   // 0 scale, 1 main

  void make_current(size_t i) {
    currfuninfo = &fn(i);
    currfunc = currfuninfo->symbol;
  }

  std::set<uint32_t> acting_steps() {
    std::set<uint32_t> acting;
    for (uint32_t step = 0; step < kPassCount; ++step)
      if (pass_acts(step))
        acting.insert(step);
    return acting;
  }

  std::string dir_;
  std::string log_name_;
  std::unique_ptr<option_set> options_;
  std::unique_ptr<test::MemFile> memfile_;
  FILE *file_ = nullptr;
  std::unique_ptr<PROGRAM> program_;
  std::unique_ptr<IcodeReader> reader_;
};

// ---------------------------------------------------------- active list

TEST_F(PipelineTest, ListPassesGivesTheSeventyEightStepsInOrder) {
  sw::parse_switch_list("debug", "list_passes");
  build_pass_list(true);
  const std::string text = log();
  EXPECT_EQ(text.rfind("Pass list is normal order.\n 0:  pass 1 fcp/eda\n 1:  pass 1 fast_CP(4,0)\n", 0),
            0u)
      << text;
  EXPECT_EQ(count_of(text, ":  "), 78u);
  EXPECT_NE(text.find("\n 9:  pass 2 header\n10:  set call-graph order\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 14), "77:  late LIR\n");
  EXPECT_EQ(active_pass_list().size(), 78u);
}

TEST_F(PipelineTest, ForcedOrderFromTheEnvironmentWithRepeatsGapsAndJunk) {
  setenv("FORCED_OPT_PASSES", "3, 0 0,junk 5", 1);
  sw::parse_switch_list("debug", "list_passes");
  build_pass_list(true);
  EXPECT_EQ(log(),
            "Pass list, from environment variable, is:  3 0 0\n\n"
            " 3:  analyze globals\n 0:  pass 1 fcp/eda\n 0:  pass 1 fcp/eda\n");
  ASSERT_EQ(active_pass_list().size(), 3u);
  EXPECT_EQ(active_pass_list()[1], active_pass_list()[2]);
}

TEST_F(PipelineTest, TheOptionWinsOverTheEnvironmentAndBadNumbersAreLeftOut) {
  setenv("FORCED_OPT_PASSES", "1", 1);
  options({"-pass_order=7 200 -1 2"});
  build_pass_list(true);
  EXPECT_EQ(log(), "Pass list, from command-line option, is:  7 2\n\n");
  ASSERT_EQ(active_pass_list().size(), 2u);
  EXPECT_EQ(active_pass_list()[0]->name(), "dump_call_graph_debug");
}

TEST_F(PipelineTest, RandomOrderIsAPermutationOfTheSteps) {
  setenv("FORCED_OPT_PASSES", "random", 1);
  build_pass_list(true);
  const std::string text = log();
  const std::string head = "Pass list, from environment variable, is (random): ";
  ASSERT_EQ(text.rfind(head, 0), 0u) << text;
  std::istringstream numbers(text.substr(head.size()));
  std::vector<uint32_t> listed;
  for (uint32_t n; numbers >> n;)
    listed.push_back(n);
  std::vector<uint32_t> active;
  for (const pass *p : active_pass_list())
    active.push_back(p->step());
  EXPECT_EQ(listed, active);
  std::sort(listed.begin(), listed.end());
  std::vector<uint32_t> all(78);
  std::iota(all.begin(), all.end(), 0u);
  EXPECT_EQ(listed, all);
}

TEST_F(PipelineTest, FilteringOffIgnoresTheForcedOrder) {
  setenv("FORCED_OPT_PASSES", "1 2", 1);
  build_pass_list(false);
  EXPECT_EQ(log(), "");
  EXPECT_EQ(active_pass_list().size(), 78u);
}

// --------------------------------------------------------------- rounds

TEST_F(PipelineTest, TwoFunctionsMeetAtTheBarriersInOrder) {
  options({"o2"});
  build_pass_list(true);
  testing::internal::CaptureStdout();
  run_program();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string text = log();
  EXPECT_EQ(trace(text), "[scale] 0 1 2 [main] 0 1 2 " + steps(3, 10) + " [scale] " +
                             steps(11, 78) + " [main] " + steps(11, 78));
  EXPECT_EQ(out, std::string(kToolTitle) + " Pass 2\n");
  EXPECT_EQ(text.rfind("Pass list is normal order.\n", 0), 0u);
  EXPECT_NE(text.find("DVE Unit Test #1\nDVE Unit Test #2\nDVE Unit Test #3\n"), std::string::npos);
  EXPECT_NE(text.find("\n\n\t\t\t---------- ENTERING step 11 'pass 2 inits' ----------\n"
                      "\n\n\t\t\t---------- ENTERING 'simpcfg' ----------\n"
                      "(0.0 sec for pass.)\n"
                      "\n\n\n\t\t\t---------- EXITING step 11 'pass 2 inits' ----------\n"),
            std::string::npos);
  EXPECT_NE(text.find("~~~#MAIN#1 do_int_MVP=0 scale()\n"), std::string::npos);
  EXPECT_EQ(count_of(text, "[Restoring options --> -o2 -i20 --opt_for_speed=4]\n"), 2u);
  EXPECT_NE(text.find("\nGlobal symbols\ncounter:  "), std::string::npos);
  // Both functions were released by "output function".
  EXPECT_TRUE(fn(0).statements.empty());
  EXPECT_TRUE(fn(1).statements.empty());
  EXPECT_EQ(currfunc, nullptr);
  EXPECT_EQ(currfuninfo, nullptr);
}

TEST_F(PipelineTest, SkipPassIsLoggedOncePerFunction) {
  sw::parse_switch_list("debug", "skip_pass=13");
  build_pass_list(true);
  run_program();
  const std::string t = trace(log());
  EXPECT_EQ(count_of(t, " -13 "), 2u) << t;
  EXPECT_EQ(count_of(t, " 13 "), 0u);
  EXPECT_NE(log().find("\n\n\t\t\t---------- SKIPPING step 13 'CPS' ----------\n"),
            std::string::npos);
}

TEST_F(PipelineTest, SkippingABarrierIsLoggedOnceAndStepZeroIsNeverSkipped) {
  sw::parse_switch_list("debug", "skip_pass=5");
  build_pass_list(true);
  run_program();
  EXPECT_EQ(count_of(trace(log()), "-5"), 1u);

  reset_pipeline();
  sw::parse_switch_list("debug", "skip_pass=0");
  setenv("FORCED_OPT_PASSES", "0", 1);
  std::fclose(run.debug);
  run.debug = std::fopen(log_name_.c_str(), "w");
  build_pass_list(true);
  run_program();
  EXPECT_EQ(trace(log()), "[scale] 0 78 [main] 0 78");
}

TEST_F(PipelineTest, ForcedOrdersDriveTheQueues) {
  // Repeats run twice; a barrier first runs before any function step.
  setenv("FORCED_OPT_PASSES", "3 0 0 1", 1);
  build_pass_list(true);
  run_program();
  EXPECT_EQ(trace(log()), "3 [scale] 0 0 1 78 [main] 0 0 1 78");
}

TEST_F(PipelineTest, AnEmptyListRunsOnlyOutputFunction) {
  setenv("FORCED_OPT_PASSES", "none", 1);
  build_pass_list(true);
  run_program();
  const std::string text = log();
  EXPECT_EQ(text.rfind("Pass list, from environment variable, is: <empty>\n\n", 0), 0u) << text;
  EXPECT_EQ(trace(text), "[scale] 78 [main] 78");
  EXPECT_NE(text.find("ENTERING step 78 'output function'"), std::string::npos);
}

TEST_F(PipelineTest, AFileWithoutFunctionsRunsOnlyAnalyzeGlobals) {
  test::IcodeImage img;
  img.header();
  img.end_stream();
  build_pass_list(true);
  std::vector<uint8_t> bytes = img.bytes();
  run_program(&bytes);
  const std::string text = log();
  EXPECT_EQ(trace(text), "");
  EXPECT_NE(text.find("\nGlobal symbols\n"), std::string::npos);
}

// ------------------------------------------------------ run conditions

TEST_F(PipelineTest, LevelZeroActsOnlyOnTheListedSteps) {
  options({"o0"});
  build_pass_list(true);
  open_program();
  reader_->read_all();
  make_current(1);
  std::set<uint32_t> expected{1, 15, 25, 56, 61};
  for (uint32_t step = 3; step <= 12; ++step)
    expected.insert(step);
  EXPECT_EQ(acting_steps(), expected);

  // Steps with conditions of their own act at any level.
  option_vars.lir_form = true;
  EXPECT_TRUE(pass_acts(14));
  option_vars.lir_form = false;
  sw::parse_switch_list("debug", "lir,lir_late");   // the debug kind turns nothing on
  EXPECT_FALSE(pass_acts(14));
  EXPECT_FALSE(pass_acts(77));
  sw::parse_switch_list("enable", "lir");
  EXPECT_TRUE(pass_acts(14));
  EXPECT_TRUE(pass_acts(77));
  fn(1).profiling_state = 2;
  EXPECT_TRUE(pass_acts(26));
  set_function_marks(currfunc, FM_CSU_RETURN_TEMP);
  EXPECT_TRUE(pass_acts(70));
  expected.insert({14, 26, 70, 77});
  EXPECT_EQ(acting_steps(), expected);
}

TEST_F(PipelineTest, LevelTwoConditionsFollowBlocksLoopsSpeedAndSwitches) {
  options({"o2"});
  build_pass_list(true);
  open_program();
  reader_->read_all();

  make_current(1);   // main: four blocks and a backward branch
  EXPECT_EQ(function_block_count(), 4u);
  EXPECT_TRUE(function_has_loops());
  std::set<uint32_t> main_acts = acting_steps();
  make_current(0);   // scale: one block, no loop
  EXPECT_EQ(function_block_count(), 1u);
  EXPECT_FALSE(function_has_loops());
  std::set<uint32_t> scale_acts = acting_steps();

  for (uint32_t step : {62u, 63u, 64u, 66u, 67u, 34u, 44u, 53u}) {
    EXPECT_TRUE(main_acts.count(step)) << step;
    EXPECT_FALSE(scale_acts.count(step)) << step;
  }
  EXPECT_FALSE(main_acts.count(55));   // value_propagation: only without loops
  EXPECT_TRUE(scale_acts.count(55));
  for (uint32_t step : {13u, 18u, 27u, 45u, 60u, 16u, 36u, 41u, 65u})
    EXPECT_FALSE(main_acts.count(step)) << step;

  options({"o2", "-size_speed_goal=5"});
  EXPECT_TRUE(pass_acts(13));
  sw::parse_switch_list("disable", "cps");
  EXPECT_FALSE(pass_acts(13));

  option_vars.simd_active = true;
  EXPECT_TRUE(pass_acts(18));
  EXPECT_TRUE(pass_acts(27));
  EXPECT_TRUE(pass_acts(60));
  options({"o2", "-size_speed_goal=1"});
  EXPECT_FALSE(pass_acts(27));
  EXPECT_TRUE(pass_acts(60));

  make_current(1);
  EXPECT_FALSE(pass_acts(45));
  sw::parse_switch_list("enable", "fusion");
  EXPECT_TRUE(pass_acts(45));
}

// ------------------------------------------- marks and re-queued functions

TEST_F(PipelineTest, SuppressedFunctionsWaitUntilAUseNeedsThem) {
  options({"o3"});
  build_pass_list(true);
  start_demo();
  SYMTAB *scale = fn(0).symbol;
  SYMTAB *main_fn = fn(1).symbol;
  set_function_marks(scale, FM_SUPPRESSED);
  run_rounds();
  EXPECT_EQ(trace(log()), "[scale] 0 1 2 [main] 0 1 2 " + steps(3, 10) + " [main] " + steps(11, 78));
  EXPECT_EQ(function_list(), std::vector<SYMTAB *>{main_fn});
  EXPECT_NE(fn(0).bb_list, nullptr);   // not written, not released

  run.info = std::fopen((dir_ + "/demo.nfo").c_str(), "w");
  run.info_flag = 1;
  unsuppress_function(scale, main_fn);
  unsuppress_function(scale, main_fn);   // appended once; told once
  EXPECT_EQ(function_list(), (std::vector<SYMTAB *>{main_fn, scale}));
  EXPECT_EQ(function_marks(scale), FM_NEEDED | FM_REQUEUED);

  const size_t before = log().size();
  run_rounds();
  const std::string text = log().substr(before);
  EXPECT_EQ(trace(text), "[scale] " + steps(11, 78));
  EXPECT_NE(text.find("\n!!! scale() ("), std::string::npos);
  EXPECT_NE(text.find(") must be unsuppressed !!!\n\n"), std::string::npos);
  std::fflush(run.info);
  const std::string info = slurp(dir_ + "/demo.nfo");
  EXPECT_EQ(count_of(info, "\nInlineable function scale() was marked for suppression,"
                           "\nbut it cannot be because of a problematic use in main().\n\n"),
            1u);
  EXPECT_TRUE(fn(0).statements.empty());
}

TEST_F(PipelineTest, CallGraphOrderLeavesOutRemovedAndUncompiledFunctions) {
  build_pass_list(true);
  start_demo();
  set_function_marks(fn(0).symbol, FM_SUPPRESSED | FM_NEEDED);   // needed: kept
  set_function_marks(fn(1).symbol, FM_NOT_COMPILED);
  run_rounds();
  EXPECT_EQ(function_list(), std::vector<SYMTAB *>{fn(0).symbol});
  clear_function_marks(fn(1).symbol, FM_NOT_COMPILED);
  EXPECT_EQ(function_marks(fn(1).symbol), 0u);
}

// ------------------------------------------------- per-function outputs

TEST_F(PipelineTest, SplitOdbGivesEachFunctionItsOwnLog) {
  sw::parse_switch_list("debug", "split_odb");
  build_pass_list(true);
  run_program();
  const std::string main_log = log();
  const std::string scale_log = slurp(dir_ + "/demo.scale.odb");
  EXPECT_EQ(count_of(main_log, ">>>> SWITCHING LOG TO " + dir_ + "/demo.scale.odb\n"), 1u);
  EXPECT_EQ(count_of(main_log, ">>>> SWITCHING LOG TO " + dir_ + "/demo.main.odb\n"), 1u);
  EXPECT_EQ(trace(main_log), steps(3, 10));
  EXPECT_EQ(trace(scale_log), "[scale] 0 1 2 [scale] " + steps(11, 78));
  EXPECT_NE(scale_log.find("[Restoring options --> -o1 -i0 --opt_for_speed=4]\n"),
            std::string::npos);
  // The EXITING line of "output function" goes to the run's log again.
  EXPECT_NE(main_log.find("EXITING step 78 'output function'"), std::string::npos);
}

TEST_F(PipelineTest, InformationFileGetsAnEntryPerFunctionHeader) {
  run.info = std::fopen((dir_ + "/demo.nfo").c_str(), "w");
  run.info_flag = 1;
  setenv("FORCED_OPT_PASSES", "1", 1);
  build_pass_list(true);
  run_program();
  std::fflush(run.info);
  const std::string rule = "\n" + std::string(78, '=') + "\n";
  EXPECT_EQ(slurp(dir_ + "/demo.nfo"),
            rule + "\nscale() is called from 1 sites in this file.\n"
                   "    It calls these functions:\n\t<NONE>\n" +
                rule + "\nmain() is called from 0 sites in this file.\n"
                       "    It calls these functions:\n\tscale() (1 times)\n");
}

// ------------------------------------------------------ internal checks

TEST_F(PipelineTest, ACurrentFunctionWhoseRecordNamesAnotherSymbolIsAnInternalFailure) {
  build_pass_list(true);
  start_demo();
  SYMTAB *main_fn = fn(1).symbol;
  fn(1).symbol = fn(0).symbol;
  EXPECT_EXIT(run_rounds(), ExitedWithCode(1),
              "Optimizer terminated abnormally\n>>>>    in function main\\(\\)\n");
  fn(1).symbol = main_fn;
}

TEST_F(PipelineTest, VerifierAfterAPassNamesThePass) {
  option_vars.verify = true;
  run.debug_flag = 0;
  open_program();
  reader_->read_all();
  make_current(1);
  pass_manager pm;
  pass breaker(&pm, "breaker", [this] {
    NODE *asg = fn(1).statements[0].tree;   // counter = scale(4)
    asg->right->right = asg->left;          // the argument shares the NAME
  });
  EXPECT_EXIT(run_step(breaker), ExitedWithCode(1),
              "Tree check after 'breaker' failed in main\\(\\): statement 1 \\(root.R.R\\): "
              "found NAME reached a second time");

  // Without --verify and debug output nothing is checked.
  option_vars.verify = false;
  pass harmless(&pm, "harmless", nullptr);
  run_step(harmless);
}

} // namespace
} // namespace zor
