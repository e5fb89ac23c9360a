// driver/passes.cpp - the pass table and the work of each step.
//
// The table is the pipeline: one row per step with its name, kind, run
// condition and work.  A pass whose subsystem is still to be built has its
// work function here, empty, with a line naming what it will do; it takes
// its real work when that subsystem lands.  Passes that no subsystem of
// this optimizer takes on do nothing, which keeps the trees valid for every
// pass after them; their comments say what they leave undone.  Steps whose row says
// "nothing" run the empty function `nothing`.
#include "driver/passes.h"

#include "cfg/flowgraph.h"
#include "cfg/loops.h"
#include "opt/deadasg.h"
#include "opt/simplify.h"

#include <cstdio>
#include <unordered_map>
#include <vector>

#include "driver/build_stamp.h"
#include "driver/options.h"
#include "driver/pipeline.h"
#include "driver/run.h"
#include "driver/switches.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/symtab.h"

namespace zor {

const char kOutputFunctionName[] = "output function";

void announce_pass(const char *name) {
  debug_printf("\n\n\t\t\t---------- ENTERING '%s' ----------\n", name);
}

// ------------------------------------------------- facts about the function

// The blocks of the last numbering; for a function still in statement-list
// form, those the list would be cut into: a block starts at the first statement, at a label definition
// that follows a statement, and after a statement that transfers control.
uint32_t function_block_count() {
  if (!currfuninfo)
    return 0;
  if (currfuninfo->bb_list)
    return currfuninfo->bb_count;
  uint32_t blocks = 0;
  bool leader = true;      // the next statement starts a block
  bool in_labels = false;  // a block was started by labels and is still empty
  for (const STMT &s : currfuninfo->statements) {
    if (!s.tree)
      continue;
    if (s.tree->op == LABELDEF) {
      if (!in_labels)
        ++blocks;
      in_labels = true;
      leader = false;
      continue;
    }
    if (leader && !in_labels)
      ++blocks;
    in_labels = false;
    leader = op_effect(s.tree->op) == EFF_CONTROL;
  }
  return blocks;
}

// A function has loops when its flow graph has a retreating edge; in
// statement-list form, when a statement refers to a label defined at or
// before it (a backward branch).
bool function_has_loops() {
  if (!currfuninfo)
    return false;
  if (currfuninfo->bb_list) {
    // A retreating edge of the dfn order closes a cycle.
    FOR_EACH_BLOCK(bb, *currfuninfo)
      for (EDGE *e = bb->successors; e; e = e->rest)
        if (e->bb->dfn <= bb->dfn)
          return true;
    return false;
  }
  std::unordered_map<uint32_t, size_t> defined;
  std::vector<const NODE *> stack;
  const auto &stmts = currfuninfo->statements;
  for (size_t i = 0; i < stmts.size(); ++i) {
    const NODE *root = stmts[i].tree;
    if (!root)
      continue;
    if (root->op == LABELDEF) {
      defined.emplace(root->label_number(), i);
      continue;
    }
    stack.assign(1, root);
    while (!stack.empty()) {
      const NODE *n = stack.back();
      stack.pop_back();
      if (n->op == LABEL && defined.count(n->label_number()))
        return true;
      if (n->op == CSE_DUPE)
        continue;
      for (const NODE *child : {n->left, n->right})
        if (child)
          stack.push_back(child);
    }
  }
  return false;
}

namespace {

// The reader marks a function whose FIELD selects a member with its flag
// byte set: a bit-field.
bool function_uses_bitfields() { return currfuninfo && (currfuninfo->flags & FI_FIELD_FLAGGED); }

// Profile data: a profiling state, or the profile-counter branch the reader
// took out of the function's first statement.
bool function_has_profile_data() {
  return currfuninfo && (currfuninfo->profiling_state != 0 || currfuninfo->profiling_branch);
}

bool current_function_marked(uint32_t mark) { return currfunc && (function_marks(currfunc) & mark); }

// ------------------------------------------------------------ conditions

bool always() { return true; }
bool level1() { return opt_level() >= 1; }
bool level2() { return opt_level() >= 2; }
bool level2_blocks2() { return level2() && function_block_count() >= 2; }
bool cps_wanted() { return level2() && opt_for_speed() == 5 && !sw::disable("cps"); }
bool early_lir_wanted() {
  return option_vars.lir_form || sw::enable("lir_early") || sw::enable("lir");
}
bool late_lir_wanted() { return sw::enable("lir_late") || sw::enable("lir"); }
bool simd_level2() { return option_vars.simd_active && level2(); }
bool vectorize_wanted() { return simd_level2() && opt_for_speed() >= 2; }
bool bitfields_wanted() {
  return level1() && function_uses_bitfields() && !current_function_marked(FM_KEEP_BITFIELDS);
}
bool profile_wanted() { return function_has_profile_data(); }
bool csu_temp_wanted() { return current_function_marked(FM_CSU_RETURN_TEMP); }
bool fusion_wanted() { return level2() && sw::enable("fusion"); }

// ------------------------------------------------------------------ work

void nothing() {}

// Fast constant and copy propagation ends by simplifying every tree and,
// when a test became constant, cleaning the flow graph up.  The
// propagation before it comes with its own subsystem; until then each
// fast_CP step does this last part.
void fast_cp_simplification() {
  FUNINFO &fi = *currfuninfo;
  if (simp_all_trees(fi) && fi.bb_list)
    simpcfg(fi.bb_list->loop != nullptr, 0);
}
void pass1_fcp_eda() {   // fast_CP(4, 0), then elim_dead_assigns
  fast_cp_simplification();
  elim_dead_assigns(0, 0);
}
void fast_cp_4_0() { fast_cp_simplification(); }         // fast_CP(4, 0)
void early_fast_cp_4_1() { fast_cp_simplification(); }   // fast_CP(4, 1)
void fast_cp_0_1() { fast_cp_simplification(); }         // fast_CP(0, 1)
void late_fast_cp_4_1() { fast_cp_simplification(); }    // fast_CP(4, 1)
void lcp() {}                 // local copy propagation
void global_cp() {}           // global data-flow annotation with assertion-driven test folding, then copy propagation

// Value-range propagation is not part of this optimizer; doing nothing
// leaves the trees as they are.  Left undone: the ranges it would record.
void value_propagation() {}
void value_propagation_for_simd() {}   // value-range propagation, then loop normalisation and re-annotation for the vectorizer

// Whole-program phase.
void detect_recursion() {}                 // builds the call graph, computes the recursion sets
void do_interprocedural_propagation() {}   // builds the call graph, interprocedural constant propagation
void auto_inline_call_sites() {}           // the inlining waves
void dump_call_graph_debug() {}            // call-graph dump (GDL file) and the "%3d: %s\n" listing in call-graph order
// The clustered global symbols: this target keeps no clusters, so there is
// nothing to collect.  Left undone: cluster bookkeeping for "expand cluster refs".
void collect_clustered_symbols() {}

void pass2_header() {
  if (run.info)
    std::fflush(run.info);
  if (run.debug)
    std::fflush(run.debug);
  if (run.debug_flag) {
    std::printf("%s Pass 2\n", kToolTitle);
    std::fflush(stdout);
  }
}

// Per-function set-up: the lexical scope tree, instrumentation calls,
// vector-operation preparation, beta_convert of the interprocedural
// constants, and the flow graph (simpcfg).
// The per-function set-up of pass 2.  Its other parts come with their
// subsystems: the lexical scope tree, instrumentation calls, the vector
// preparation and the application of interprocedural constants; what is
// done here is the clean-up of the freshly built flow graph.
void pass2_inits() {
  if (currfuninfo && currfuninfo->bb_list)
    simpcfg(false, 0);
}

// Passes that no subsystem takes on.  Each does nothing, which
// keeps the trees valid; what each leaves undone is its name.
void stack_sharing() {}              // left undone: shared stack slots for disjoint locals
void straighten_cond_paths() { announce_pass("straighten_cond_paths"); }   // left undone: path splitting
void explode_auto_structs() {}       // left undone: splitting local structures into members
void clone_ssa_nasserts() {}         // left undone: assertion statements cloned into SSA
void ssa_cp() {}                     // left undone: SSA constant propagation
void ssa_eda() {}                    // left undone: SSA dead-assignment elimination
void ssa_rp_benign_loads() {}        // left undone: register promotion moving non-faulting loads
void expand_bitfields() { announce_pass("expand_bitfields"); }   // left undone: word operations for bit-fields
void add_loop_annotation_from_profile() { announce_pass("add_loop_annotation_from_profile"); }   // left undone: loop annotations from counts
void late_points_to() {}             // left undone: points-to analysis
void late_rename_symbols() {}        // left undone: symbol renaming
void merge_symbols() {}              // left undone: symbol merging
void csu_returning_temp() {}         // left undone: the structure-return temporary's treatment
void superblocks() {}                // left undone: superblock formation and tail duplication
void subrange() {}                   // left undone: subrange analysis
void convert_sti_to_cinit() { announce_pass("convert_sti_to_cinit"); }   // left undone: static-init code into data

void intraprocedural_mvp() {
  // Intraprocedural value propagation is switched off (0).
  debug_printf("~~~#MAIN#1 do_int_MVP=%d %s()\n", 0, currfunc ? currfunc->name() : "");
}

void early_lir() {}               // to LIR form, the early LIR pass list (its SSA pass when asked), back to trees
void late_lir() {}                // the late LIR pass list
void cd_vectorizations() {}       // SIMD vectorization of loops, at most 10 rounds
void cd_ilp() {}                  // same-iteration parallelism (ILP pairing)
void global_cse() {}              // global partial-redundancy elimination and its clean-ups
void lcse() {}                    // local common-subexpression elimination
void propagate_increments() {}    // increment propagation

// The loop-restructuring list.
void forward_substitution() {}            // forward substitution in loops
void ssa_hoist() {}                       // SSA hoisting of loop invariants
void ssa_nasserts() {}                    // assertions in SSA form
void ssa_propagate() {}                   // SSA propagation
void ssa_deadasg() {}                     // SSA dead-assignment elimination
void ssa_reg_promote() {}                 // SSA register promotion
void loop_assertions() {}                 // loop assertions
void undeltafy() {}                       // undoing delta induction variables
void collapse_loops() {}                  // collapsing loop nests
void circular_addressing() {}             // circular-buffer addressing
void loop_if_interchange() {}             // moving invariant tests out of loops
void cd_unroll_by_request() {}            // unrolling by request
void unroll_and_jam() {}                  // unroll-and-jam of loop nests
void loop_fusion() {}                     // fusion of adjacent loops
void pt_info() {}                         // points-to information
void explode_arrays() {}                  // splitting small arrays into scalars
void alias_advice() {}                    // alias advice for the loops
void reduction_interleaving() {}          // prepares and releases the vectorizer region
void value_propagation_no_loops() {}      // value-range propagation (not part of this optimizer: left undone)
void divs_by_icons() {}                   // division and remainder by constants
void ssa_propagate_vector() {}            // SSA propagation of vector values
void ssa_reg_promote_with_simpcfg() {}    // SSA register promotion, then simpcfg

// The loop structure (dominators, loops) is prepared before and the flow
// graph rebuilt after every loop entry at level 2 or more.
void prepare_loop_structure() {
  if (currfuninfo && currfuninfo->bb_list)
    build_loop_hierarchy();
}
// The numbering (and with it the dominators, which rebuild on their next
// query) after the entry's edge changes.  The loop tree belongs to the
// entry that prepared it: the next entry prepares its own, and the passes
// between entries see a graph without loops.
void rebuild_flow_graph() {
  if (currfuninfo && currfuninfo->bb_list) {
    free_loops(*currfuninfo);
    renumber_cfg();
  }
}

void set_call_graph_order_step() { set_call_graph_order(); }
void analyze_globals_step() { analyze_globals(); }

using K = PassKind;
using L = LoopWork;
constexpr K F = K::per_function;
constexpr K B = K::barrier;

} // namespace

// Whole-program analysis of global variables: unmodified ones become
// constant, and the usage reports are written.
void analyze_globals() {}

const PassEntry pass_table[kPassCount] = {
    {"pass 1 fcp/eda", F, level2, pass1_fcp_eda, L::none},                         // 0
    {"pass 1 fast_CP(4,0)", F, always, fast_cp_4_0, L::none},                      // 1
    {"value propagation for pass 1", F, level2, value_propagation, L::none},       // 2
    {"analyze globals", B, always, analyze_globals_step, L::none},                 // 3
    {"detect_recursion", B, always, detect_recursion, L::none},                    // 4
    {"do_interprocedural_propagation", B, always, do_interprocedural_propagation, L::none},
    {"auto_inline_call_sites", B, always, auto_inline_call_sites, L::none},        // 6
    {"dump_call_graph_debug", B, always, dump_call_graph_debug, L::none},          // 7
    {"collect_clustered_symbols", B, always, collect_clustered_symbols, L::none},  // 8
    {"pass 2 header", B, always, pass2_header, L::none},                           // 9
    {"set call-graph order", B, always, set_call_graph_order_step, L::none},       // 10
    {"pass 2 inits", F, always, pass2_inits, L::none},                             // 11
    {"stack sharing", F, always, stack_sharing, L::none},                          // 12
    {"CPS", F, cps_wanted, straighten_cond_paths, L::none},                        // 13
    {"early LIR", F, early_lir_wanted, early_lir, L::none},                        // 14
    {"early fast_CP(4,1)", F, always, early_fast_cp_4_1, L::none},                 // 15
    {"MVP global assertions", F, always, nothing, L::none},                        // 16
    {"intraprocedural MVP", F, level2, intraprocedural_mvp, L::none},              // 17
    {"value propagation for SIMD", F, simd_level2, value_propagation_for_simd, L::none},
    {"explode auto structs", F, level2, explode_auto_structs, L::none},            // 19
    {"non-DD clone SSA NASSERTs", F, level2, clone_ssa_nasserts, L::none},         // 20
    {"non-DD SSA CP", F, level2, ssa_cp, L::none},                                 // 21
    {"non-DD SSA EDA", F, level2, ssa_eda, L::none},                               // 22
    {"SSA RP with benign loads", F, level2, ssa_rp_benign_loads, L::none},         // 23
    {"expand bitfields", F, bitfields_wanted, expand_bitfields, L::none},          // 24
    {"fast_CP(0,1)", F, always, fast_cp_0_1, L::none},                             // 25
    {"add profile loop annotations", F, profile_wanted, add_loop_annotation_from_profile, L::none},
    {"CD vectorizations", F, vectorize_wanted, cd_vectorizations, L::none},        // 27
    // The loop-restructuring list.
    {"forward_substitution", F, level2, forward_substitution, L::always},          // 28
    {"SSA_hoist", F, level2, ssa_hoist, L::always},                                // 29
    {"SSA_NASSERTs", F, level2, ssa_nasserts, L::always},                          // 30
    {"SSA_propagate", F, level2, ssa_propagate, L::always},                        // 31
    {"SSA_deadasg", F, level2, ssa_deadasg, L::always},                            // 32
    {"SSA_reg_promote", F, level2, ssa_reg_promote, L::always},                    // 33
    {"loop_assertions", F, level2, loop_assertions, L::with_loops},                // 34
    {"undeltafy", F, level2, undeltafy, L::with_loops},                            // 35
    {"add_downcounters", F, level2, nothing, L::with_loops},                       // 36
    {"collapse_loops", F, level2, collapse_loops, L::with_loops},                  // 37
    {"circular_addressing", F, level2, circular_addressing, L::with_loops},        // 38
    {"loop_if_interchange", F, level2, loop_if_interchange, L::with_loops},        // 39
    {"cd_unroll_by_request", F, level2, cd_unroll_by_request, L::with_loops},      // 40
    {"DMAC_conversion", F, level2, nothing, L::with_loops},                        // 41
    {"cd_unroll_completely_for_speed", F, level2, nothing, L::with_loops},         // 42
    {"unroll_completely_for_SP", F, level2, nothing, L::with_loops},               // 43
    {"unroll_and_jam", F, level2, unroll_and_jam, L::with_loops},                  // 44
    {"loop fusion", F, fusion_wanted, loop_fusion, L::with_loops},                 // 45
    {"runtime_alias_predication", F, level2, nothing, L::with_loops},              // 46
    {"peel_and_unroll", F, level2, nothing, L::with_loops},                        // 47
    {"cd_unroll_for_speed", F, level2, nothing, L::with_loops},                    // 48
    {"PT_info", F, level2, pt_info, L::with_loops},                                // 49
    {"explode_arrays", F, level2, explode_arrays, L::always},                      // 50
    {"unroll_for_SP", F, level2, nothing, L::with_loops},                          // 51
    {"simplify_useless_loop_clones", F, level2, nothing, L::with_loops},           // 52
    {"alias_advice", F, level2, alias_advice, L::with_loops},                      // 53
    {"reduction_interleaving", F, level2, reduction_interleaving, L::with_loops},  // 54
    {"value_propagation", F, level2, value_propagation_no_loops, L::without_loops},
    {"DIVs_by_ICONs", F, always, divs_by_icons, L::always},                        // 56
    {"SSA_propagate_vector", F, level2, ssa_propagate_vector, L::always},          // 57
    {"SSA_deadasg", F, level2, ssa_deadasg, L::always},                            // 58
    {"SSA_reg_promote_with_simpcfg", F, level2, ssa_reg_promote_with_simpcfg, L::always},
    // After the loop-restructuring list.
    {"CD ILP", F, simd_level2, cd_ilp, L::none},                                   // 60
    {"late fast_CP(4,1)", F, always, late_fast_cp_4_1, L::none},                   // 61
    {"global CP", F, level2_blocks2, global_cp, L::none},                          // 62
    {"late points-to", F, level2_blocks2, late_points_to, L::none},                // 63
    {"global CSE", F, level2_blocks2, global_cse, L::none},                        // 64
    {"Norra rotate loops", F, always, nothing, L::none},                           // 65
    {"late rename symbols", F, level2_blocks2, late_rename_symbols, L::none},      // 66
    {"merge symbols", F, level2_blocks2, merge_symbols, L::none},                  // 67
    {"DD restructuring", F, always, nothing, L::none},                             // 68
    {"expand cluster refs", F, always, nothing, L::none},                          // 69
    {"CSU returning temp", F, csu_temp_wanted, csu_returning_temp, L::none},       // 70
    {"superblocks", F, level1, superblocks, L::none},                              // 71
    {"subrange", F, level1, subrange, L::none},                                    // 72
    {"lcp", F, level1, lcp, L::none},                                              // 73
    {"sti-to-cinit", F, level2, convert_sti_to_cinit, L::none},                    // 74
    {"lcse", F, level1, lcse, L::none},                                            // 75
    {"propagate increments", F, level1, propagate_increments, L::none},            // 76
    {"late LIR", F, late_lir_wanted, late_lir, L::none},                           // 77
};

namespace {

bool loop_need_met(LoopWork need) {
  switch (need) {
  case LoopWork::none:
  case LoopWork::always:
    return true;
  case LoopWork::with_loops:
    return function_has_loops();
  case LoopWork::without_loops:
    return !function_has_loops();
  }
  return false;
}

} // namespace

void perform_step(uint32_t step) {
  const PassEntry &e = pass_table[step];
  if (!e.runs())
    return;
  if (e.loops == LoopWork::none) {
    e.work();
    return;
  }
  // "DIVs_by_ICONs" runs at every level but prepares the loops only from
  // level 2 on, like every other entry of the list.
  const bool prepare = level2();
  if (prepare)
    prepare_loop_structure();
  if (loop_need_met(e.loops))
    e.work();
  if (prepare)
    rebuild_flow_graph();
}

bool pass_acts(uint32_t step) {
  const PassEntry &e = pass_table[step];
  return e.runs() && e.work != nothing && loop_need_met(e.loops);
}

} // namespace zor
