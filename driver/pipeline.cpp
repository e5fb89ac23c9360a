// driver/pipeline.cpp - the pass list and the per-function driver.
//
// Builds the pass list from the pass table (driver/passes.h), picks the
// active order, and drives the functions through their queues: in each
// round every function in the function list runs its passes up to its next
// barrier, then the barrier at which all of them stand runs once.  Each
// pass runs as one step: skip check, log lines, timing and, under --verify
// or debug output, the tree verifier (ir/verify.h) over what the pass may
// have changed.
//
// The state here is the pass manager's process-wide state: the registry,
// the lists, the function list and, per function, its queue and its marks.
// Functions are looked up by their symbol and walked in function-list
// order only.
#include "driver/pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>

#include "cfg/flowgraph.h"
#include "cfg/verify_cfg.h"
#include "driver/options.h"
#include "driver/pass.h"
#include "driver/passes.h"
#include "driver/run.h"
#include "driver/switches.h"
#include "icode/reader.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/program.h"
#include "ir/program_dump.h"
#include "ir/symtab.h"
#include "ir/tree_print.h"
#include "ir/verify.h"
#include "opt/write.h"

namespace zor {

namespace {

// How many tree problems go to the debug log before the run ends.
constexpr size_t kTreeProblemsLogged = 20;

struct FunctionState {
  std::deque<pass *> queue;   // front = next to run
  uint32_t marks = 0;
  FILE *own_debug = nullptr;  // the function's debug file under "debug:split_odb"
  bool has_graph = false;     // its flow graph was built
};

// Direct calls found in the program as read, for the function entries of
// the information file until the call graph exists.
struct CallSummary {
  uint32_t sites = 0;                                          // calls to the function
  std::vector<std::pair<const SYMTAB *, uint32_t>> callees;    // in order of first call
};

struct PipelineState {
  pass_manager passes;
  std::vector<pass *> full;
  std::vector<pass *> active;
  PROGRAM *program = nullptr;
  std::vector<SYMTAB *> function_list;
  std::unordered_map<const SYMTAB *, FunctionState> functions;
  FILE *main_debug = nullptr;   // the debug stream a function's own file replaced
  bool calls_summarized = false;
  std::unordered_map<const SYMTAB *, CallSummary> calls;
};

PipelineState &state() {
  static PipelineState s;
  return s;
}

// An internal consistency check; the expression names the invariant in the
// source and is not printed.
void internal_check(bool ok, const char * /*expression*/) {
  if (!ok)
    terminate_abnormally(nullptr);
}

// ------------------------------------------------------------ pass order

// The C library's reference generator: 0..32767 from a 32-bit state.
class ReferenceRandom {
public:
  explicit ReferenceRandom(uint32_t seed) : next_(seed) {}
  uint32_t next() {
    next_ = next_ * 1103515245u + 12345u;
    return (next_ / 65536u) % 32768u;
  }

private:
  uint32_t next_;
};

void choose_active_list(PipelineState &st) {
  const char *text = nullptr;
  const char *source = nullptr;
  if (run.file_options && run.file_options->given(OPT_PASS_ORDER)) {
    text = run.file_options->text(OPT_PASS_ORDER);
    if (!text)
      text = "";
    source = "command-line option";
  } else if ((text = std::getenv("FORCED_OPT_PASSES")) != nullptr) {
    source = "environment variable";
  }
  if (!text) {
    st.active = st.full;
    debug_printf("Pass list is normal order.\n");
    return;
  }

  const uint32_t n = static_cast<uint32_t>(st.full.size());
  PassOrder order = parse_pass_order(text, n);
  if (order.random) {
    const auto seed = static_cast<uint32_t>(std::time(nullptr)) + static_cast<uint32_t>(getpid());
    order.steps = random_pass_order(n, seed);
  }
  for (uint32_t step : order.steps)
    st.active.push_back(st.full[step]);

  debug_printf("Pass list, from %s, is%s: ", source, order.random ? " (random)" : "");
  if (order.steps.empty())
    debug_printf("<empty>");
  for (uint32_t step : order.steps)
    debug_printf(" %d", static_cast<int>(step));
  debug_printf("\n\n");
}

// -------------------------------------------------------------- logging

long process_clock_ms() { return static_cast<long>(std::clock() * 1000.0 / CLOCKS_PER_SEC); }

bool function_has_flow_graph() { return currfuninfo && currfuninfo->bb_list; }

void list_variable(const SYMTAB *sym) {
  debug_printf("%s:  %s (g%u)\n", sym->name(), type_text(sym->type()).c_str(), sym->index());
}

// The current function's variables, listed around each step once the
// function has a flow graph.
void list_function_variables() {
  if (!run.debug_flag || !currfuninfo || !function_has_flow_graph())
    return;
  for (const SYMTAB *sym : currfuninfo->params)
    list_variable(sym);
  for (const SYMTAB *sym : currfuninfo->locals)
    list_variable(sym);
}

// ------------------------------------------------------------ verifying

void verify_flow_graph(FUNINFO &fi, const pass &p) {
  std::vector<std::string> problems = check_flow_graph(fi, kTreeProblemsLogged);
  if (problems.empty())
    return;
  const char *fn = fi.symbol ? fi.symbol->name() : "<unknown>";
  debug_printf("\n>>>> Flow graph check after step %d '%s' in %s():\n",
               static_cast<int>(p.step()), p.name().c_str(), fn);
  for (const std::string &problem : problems)
    debug_printf("\t%s\n", problem.c_str());
  const std::string message = std::string("Flow graph check after '") + p.name() +
                              "' failed in " + fn + "(): " + problems.front();
  terminate_abnormally(message.c_str());
}

void verify_function(FUNINFO &fi, const pass &p) {
  std::vector<TreeProblem> problems = check_function_trees(fi, kTreeProblemsLogged);
  if (problems.empty()) {
    verify_flow_graph(fi, p);
    return;
  }
  const char *fn = fi.symbol ? fi.symbol->name() : "<unknown>";
  debug_printf("\n>>>> Tree check after step %d '%s' in %s():\n", static_cast<int>(p.step()),
               p.name().c_str(), fn);
  for (const TreeProblem &problem : problems)
    debug_printf("\t%s\n", describe(problem).c_str());
  terminate_abnormally(tree_check_message(problems.front(), p.name().c_str(), fn).c_str());
}

// A function pass can change only the current function; a barrier can
// change any function whose passes have not ended.
void verify_after(const pass &p) {
  if (!option_vars.verify && !run.debug_flag)
    return;
  if (!p.is_barrier()) {
    if (currfuninfo)
      verify_function(*currfuninfo, p);
    return;
  }
  PipelineState &st = state();
  if (!st.program)
    return;
  for (FUNINFO *fi : st.program->functions())
    verify_function(*fi, p);
}

// --------------------------------------------------- function header

const SYMTAB *direct_callee(const NODE *call) {
  const NODE *target = call->left;
  if (target && target->op == UAND && target->left && target->left->op == NAME)
    return target->left->sym();
  return nullptr;
}

void summarize_calls(PipelineState &st) {
  st.calls_summarized = true;
  if (!st.program)
    return;
  std::vector<const NODE *> stack;
  for (FUNINFO *fi : st.program->functions()) {
    CallSummary &caller = st.calls[fi->symbol];
    for_each_statement(*fi, [&](NODE *&tree, SrcPos &) {
      if (tree)
        stack.push_back(tree);
      while (!stack.empty()) {
        const NODE *n = stack.back();
        stack.pop_back();
        if (n->op == CALL || n->op == UCALL) {
          if (const SYMTAB *callee = direct_callee(n)) {
            ++st.calls[callee].sites;
            auto it = std::find_if(caller.callees.begin(), caller.callees.end(),
                                   [&](const auto &c) { return c.first == callee; });
            if (it == caller.callees.end())
              caller.callees.emplace_back(callee, 1);
            else
              ++it->second;
          }
        }
        if (n->op == CSE_DUPE)
          continue;
        for (const NODE *child : {n->right, n->left})
          if (child)
            stack.push_back(child);
      }
    });
  }
}

// The function's entry in the information file.  The call graph (with the
// inliner's size, scope and profile lines) replaces the direct-call summary
// taken from the program as read.
void write_function_entry(PipelineState &st, const SYMTAB *fn) {
  if (!st.calls_summarized)
    summarize_calls(st);
  const CallSummary &summary = st.calls[fn];
  std::fprintf(run.info, "\n%s()", fn->name());
  std::fprintf(run.info, " is called from %d sites in this file.\n", static_cast<int>(summary.sites));
  std::fputs("    It calls these functions:\n", run.info);
  if (summary.callees.empty())
    std::fputs("\t<NONE>\n", run.info);
  for (const auto &[callee, times] : summary.callees)
    std::fprintf(run.info, "\t%s() (%d times)\n", callee->name(), static_cast<int>(times));
}

void write_function_header(PipelineState &st, SYMTAB *fn, FunctionState &fs) {
  st.main_debug = run.debug;
  if (sw::debug("split_odb")) {
    if (fs.own_debug) {
      run.debug = fs.own_debug;
    } else {
      open_debug_file(true, fn->name());
      fs.own_debug = run.debug;
    }
  }
  debug_printf("\n\n==== FUNCTION %s() ====\n", fn->name());
  if (run.debug_flag >= 2 && currfuninfo) {
    for_each_statement(*currfuninfo,
                       [](NODE *&tree, SrcPos &) { debug_printf("%s", tree_dump(tree).c_str()); });
  }
  if (run.info_flag && run.info) {
    std::fprintf(run.info, "\n%s\n", std::string(78, '=').c_str());
    write_function_entry(st, fn);
    std::fflush(run.info);
  }
  if ((fs.marks & FM_REQUEUED) && opt_level() >= 3)
    debug_printf("\n!!! %s() (%s) must be unsuppressed !!!\n\n", fn->name(),
                 type_text(fn->type()).c_str());
}

// Back to the run's debug stream after the function's part of a round.
void leave_function_debug_file(PipelineState &st, FunctionState &fs) {
  if (fs.own_debug && run.debug == fs.own_debug)
    run.debug = st.main_debug;
}

// ---------------------------------------------------------------- rounds

void make_current(PipelineState &st, SYMTAB *fn) {
  currfunc = fn;
  currfuninfo = st.program->funinfo_of(fn);
  internal_check(currfuninfo && currfunc == currfuninfo->symbol, "currfunc == currfuninfo->symbol");
}

void run_function_to_barrier(PipelineState &st, SYMTAB *fn) {
  FunctionState &fs = st.functions[fn];
  make_current(st, fn);
  bool first = true;
  while (!fs.queue.empty() && !fs.queue.front()->is_barrier()) {
    if (first && run.debug_flag)
      write_function_header(st, fn, fs);
    first = false;
    // The flow graph is made once, before the function's first pass.
    if (!fs.has_graph) {
      fs.has_graph = true;
      build_flow_graph();
      dump_flow_graph(*currfuninfo, "flow graph built");
    }
    run_step(*fs.queue.front());
    fs.queue.pop_front();
  }
  leave_function_debug_file(st, fs);
}

bool work_remains(PipelineState &st) {
  for (SYMTAB *fn : st.function_list)
    if (!st.functions[fn].queue.empty())
      return true;
  return false;
}

void run_rounds(PipelineState &st) {
  while (work_remains(st)) {
    // The list may grow while it is walked: a function put back into it
    // runs in this round.
    for (size_t i = 0; i < st.function_list.size(); ++i)
      run_function_to_barrier(st, st.function_list[i]);
    currfunc = nullptr;
    currfuninfo = nullptr;

    pass *barrier = nullptr;
    for (SYMTAB *fn : st.function_list) {
      std::deque<pass *> &queue = st.functions[fn].queue;
      if (queue.empty())
        continue;
      if (!barrier)
        barrier = queue.front();
      internal_check(barrier->is_barrier() && barrier == queue.front(),
                     "barrier_pass == passes.front()");
      queue.pop_front();
    }
    if (barrier)
      run_step(*barrier);
  }
}

// ------------------------------------------------------------ self-tests

// Run with debug output before the program is read.  The value-range
// self-tests belong to value-range propagation, which is not part of this
// optimizer; these check the pipeline's own invariants instead: every registered
// pass sits at the slot of its serial number, the registry holds the table
// in order with the right kinds, and the random order is a permutation.
bool registry_is_numbered(const PipelineState &st) {
  for (uint32_t i = 0; i < st.passes.size(); ++i) {
    const pass *p = st.passes.at(i);
    if (p && p->serial() != i)
      return false;
  }
  return true;
}

bool registry_matches_table(const PipelineState &st) {
  if (st.passes.size() < kPassCount)
    return false;
  for (uint32_t i = 0; i < kPassCount; ++i) {
    const pass *p = st.passes.at(i);
    if (!p || p->name() != pass_table[i].name ||
        p->is_barrier() != (pass_table[i].kind == PassKind::barrier))
      return false;
  }
  return true;
}

bool random_order_is_permutation() {
  std::vector<uint32_t> order = random_pass_order(kPassCount, 1);
  std::sort(order.begin(), order.end());
  for (uint32_t i = 0; i < kPassCount; ++i)
    if (order[i] != i)
      return false;
  return true;
}

void run_self_tests(const PipelineState &st) {
  debug_printf("DVE Unit Test #1\n");
  internal_check(registry_is_numbered(st), "registry_is_numbered()");
  debug_printf("DVE Unit Test #2\n");
  internal_check(registry_matches_table(st), "registry_matches_table()");
  debug_printf("DVE Unit Test #3\n");
  internal_check(random_order_is_permutation(), "random_order_is_permutation()");
}

// --------------------------------------------------------- end of run

void list_global_symbols(const PROGRAM &program) {
  if (!run.debug_flag)
    return;
  debug_printf("\nGlobal symbols\n");
  for (const SYMTAB *sym : program.globals())
    list_variable(sym);
}

// The inliner's report of the function references it integrated, after the
// rounds; it comes with the inliner.
void report_inlined_references() {}

} // namespace

// ----------------------------------------------------------- interface

pass_manager &pipeline_passes() { return state().passes; }
const std::vector<pass *> &active_pass_list() { return state().active; }
const std::vector<SYMTAB *> &function_list() { return state().function_list; }

PassOrder parse_pass_order(const char *text, uint32_t count) {
  PassOrder order;
  std::string items(text ? text : "");
  if (items == "random") {
    order.random = true;
    return order;
  }
  std::replace(items.begin(), items.end(), ',', ' ');
  const char *p = items.c_str();
  for (;;) {
    char *end = nullptr;
    const long step = std::strtol(p, &end, 10);
    if (end == p)
      break;   // the end, or an item that is not a number
    if (step >= 0 && step < static_cast<long>(count))
      order.steps.push_back(static_cast<uint32_t>(step));
    p = end;
  }
  return order;
}

std::vector<uint32_t> random_pass_order(uint32_t n, uint32_t seed) {
  std::vector<uint32_t> order(n, 0);
  ReferenceRandom random(seed);
  for (uint32_t i = 1; i < n; ++i) {
    const uint32_t j = static_cast<uint32_t>(static_cast<uint64_t>(random.next()) * (i + 1) / 32768);
    order[i] = order[j];
    order[j] = i;
  }
  return order;
}

void build_pass_list(bool filtering) {
  PipelineState &st = state();
  for (auto &[fn, fs] : st.functions)
    fs.queue.clear();   // no queue may outlive the passes it points at
  st.full.clear();
  st.active.clear();
  st.passes.clear();
  for (uint32_t step = 0; step < kPassCount; ++step) {
    const PassEntry &e = pass_table[step];
    auto work = [step] { perform_step(step); };
    pass *p = e.kind == PassKind::barrier ? st.passes.create<barrier_pass>(e.name, work)
                                          : st.passes.create<pass>(e.name, work);
    st.full.push_back(p);
  }
  if (filtering)
    choose_active_list(st);
  else
    st.active = st.full;
  if (sw::debug("list_passes"))
    for (const pass *p : st.active)
      debug_printf("%2d:  %s\n", static_cast<int>(p->step()), p->name().c_str());
}

uint32_t function_marks(const SYMTAB *fn) {
  PipelineState &st = state();
  auto it = st.functions.find(fn);
  return it == st.functions.end() ? 0 : it->second.marks;
}

void set_function_marks(const SYMTAB *fn, uint32_t marks) { state().functions[fn].marks |= marks; }

void clear_function_marks(const SYMTAB *fn, uint32_t marks) {
  PipelineState &st = state();
  auto it = st.functions.find(fn);
  if (it != st.functions.end())
    it->second.marks &= ~marks;
}

void unsuppress_function(SYMTAB *fn, const SYMTAB *user) {
  PipelineState &st = state();
  FunctionState &fs = st.functions[fn];
  const bool was_suppressed = fs.marks & FM_SUPPRESSED;
  fs.marks = (fs.marks & ~FM_SUPPRESSED) | FM_NEEDED | FM_REQUEUED;
  if (was_suppressed && run.info_flag && run.info) {
    std::fprintf(run.info, "\nInlineable function %s() was marked for suppression,", fn->name());
    std::fprintf(run.info, "\nbut it cannot be because of a problematic use in %s().\n\n",
                 user ? user->name() : "<unknown>");
  }
  auto &list = st.function_list;
  if (!fs.queue.empty() && std::find(list.begin(), list.end(), fn) == list.end())
    list.push_back(fn);
}

void set_call_graph_order() {
  PipelineState &st = state();
  if (!st.program)
    return;
  std::vector<SYMTAB *> order;
  for (FUNINFO *fi : st.program->functions()) {
    SYMTAB *fn = fi->symbol;
    const uint32_t marks = function_marks(fn);
    if (marks & (FM_REMOVED | FM_NOT_COMPILED))
      continue;
    if ((marks & FM_SUPPRESSED) && !(marks & FM_NEEDED))
      continue;
    order.push_back(fn);
  }
  st.function_list = std::move(order);
}

void run_step(const pass &p) {
  const int step = static_cast<int>(p.step());
  const char *name = p.name().c_str();
  const int32_t skip = sw::debug("skip_pass");
  if (skip > 0 && skip == step) {
    debug_printf("\n\n\t\t\t---------- SKIPPING step %d '%s' ----------\n", step, name);
    return;
  }
  debug_printf("\n\n\t\t\t---------- ENTERING step %d '%s' ----------\n", step, name);
  list_function_variables();
  const long start = process_clock_ms();
  p.perform();
  debug_printf("(%.1f sec for pass.)\n", static_cast<double>(process_clock_ms() - start) / 1000.0);
  debug_printf("\n\n\n\t\t\t---------- EXITING step %d '%s' ----------\n", step, name);
  list_function_variables();
  verify_after(p);
}

void close_function_debug_file(const SYMTAB *fn) {
  PipelineState &st = state();
  auto it = st.functions.find(fn);
  if (it == st.functions.end() || !it->second.own_debug)
    return;
  FunctionState &fs = it->second;
  if (run.debug == fs.own_debug)
    run.debug = st.main_debug;
  if (fs.own_debug != stderr)
    std::fclose(fs.own_debug);
  fs.own_debug = nullptr;
}

void start_function_queues(PROGRAM &program) {
  PipelineState &st = state();
  st.program = &program;
  pass *output = st.passes.create<pass>(kOutputFunctionName, output_function);
  st.function_list.clear();
  for (FUNINFO *fi : program.functions()) {
    FunctionState &fs = st.functions[fi->symbol];
    fs.queue.assign(st.active.begin(), st.active.end());
    fs.queue.push_back(output);
    st.function_list.push_back(fi->symbol);
  }
}

void run_rounds() { run_rounds(state()); }

void finish_program(PROGRAM &program) {
  if (run.writer)
    write_program_data(*run.writer, program);
  list_global_symbols(program);
  if (run.debug_flag && run.debug)
    program.print_interned_stats(run.debug);
}

void run_pipeline(IcodeReader &reader, PROGRAM &program) {
  PipelineState &st = state();
  st.program = &program;
  if (run.debug_flag)
    run_self_tests(st);

  reader.read_all();
  debug_dump_program(program);

  if (program.functions().empty()) {
    analyze_globals();
  } else {
    start_function_queues(program);
    // The machine description is made current here once md/ provides it.
    run_rounds(st);
    report_inlined_references();
  }
  finish_program(program);
}

void reset_pipeline() {
  PipelineState &st = state();
  for (auto &[fn, fs] : st.functions)
    if (fs.own_debug && fs.own_debug != stderr && fs.own_debug != run.debug)
      std::fclose(fs.own_debug);
  st.functions.clear();
  st.function_list.clear();
  st.full.clear();
  st.active.clear();
  st.passes.clear();
  st.program = nullptr;
  st.main_debug = nullptr;
  st.calls_summarized = false;
  st.calls.clear();
}

} // namespace zor
