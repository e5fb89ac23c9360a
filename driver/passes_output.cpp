// driver/passes_output.cpp - "output function", the last step of every queue.
//
// Runs the final steps over the current function in their fixed order, has
// the function writer write it (opt/write.h) unless it is marked as not to
// be compiled, and releases the function's data.  Afterwards neither
// `currfunc` nor `currfuninfo` is set, and the options in force are the
// file-level ones again, which the debug log says.
//
// The steps that belong to subsystems still to be built are empty functions
// naming what they will do.  The flow graph is cleaned up (simpcfg) and its
// labels numbered just before the blocks are written.  The steps that no subsystem takes on (the final
// clean-ups, optimize_SWITCH_cases, allocate_regs, rotate_loops,
// straighten_traces_in_cfg) do the least that keeps the trees valid, which
// is nothing: the statement list as the passes left it is a valid body for
// the writer.
#include <cstdio>

#include "cfg/flowgraph.h"
#include "driver/options.h"
#include "driver/passes.h"
#include "driver/pipeline.h"
#include "driver/run.h"
#include "driver/switches.h"
#include "ir/funinfo.h"
#include "ir/symtab.h"
#include "opt/combine_asgs.h"
#include "opt/deadasg.h"
#include "opt/write.h"

namespace zor {

namespace {

// Left undone: the last tree simplifications before writing (no subsystem
// takes them on; the trees stay as the passes left them).
void final_cleanup() {}
// Left undone: reordering and pruning of switch case lists.
void optimize_SWITCH_cases() {}
// Left undone: the clean-up after the switch cases.
void further_cleanup() {}
// Left undone: the optimizer's own register allocation; the code generator
// allocates every variable itself.
void allocate_regs() {}
// The blocks go out along the dfn chain as the passes left it: the writer
// needs no other layout.
void prepare_blocks_for_output() {}
// A fresh numbering: each block's first label takes the block's dfn (the
// writer numbers any further labels above the block count).
void prepare_labels_for_output() { renumber_cfg(); }
// The flow-graph clean-up before the blocks are written (with the
// rewrites that need loops when loops were built).
void final_simpcfg() {
  FUNINFO &fi = *currfuninfo;
  simpcfg(fi.bb_list->loop != nullptr, 0);
}
// Left undone: moving loop tests to the bottom of loops.
void rotate_loops() {}
// Left undone: trace straightening of the block order.
void straighten_traces_in_cfg() {}
void disclose_vector_operations() {}   // exposes vector operations as their tree form
void lower_disclosed_vectors() {}      // lowers the disclosed vector operations for output
void disguise_vector_operations() {}   // hides vector operations behind their call form again

// Releases the function's blocks, loops and label records, then its
// remaining trees (the exception table's clean-up trees and assertions).
void release_function_data(FUNINFO &fi) {
  fi.release_flow_graph();
  fi.release_statements();
}

// Per-function symbol data (scopes, pass data on the locals) is kept by the
// symbol tables; nothing of it outlives the function today.
void release_function_symbol_data() {}

} // namespace

void output_function() {
  FUNINFO *fi = currfuninfo;
  SYMTAB *fn = currfunc;
  if (!fi || !fn)
    terminate_abnormally(nullptr);   // "output function" runs with a current function

  final_cleanup();
  combine_asgs_to_memory();   // opt/combine_asgs.h
  optimize_SWITCH_cases();
  further_cleanup();
  allocate_regs();
  elim_dead_assigns(0, 0);    // opt/deadasg.h

  if (!(function_marks(fn) & FM_NOT_COMPILED) && run.writer) {
    IcodeWriter &w = *run.writer;
    write_function_begin(w, *fi);
    prepare_blocks_for_output();
    prepare_labels_for_output();
    final_simpcfg();
    rotate_loops();
    if (!sw::disable("trace_straighten"))
      straighten_traces_in_cfg();
    disclose_vector_operations();
    lower_disclosed_vectors();
    disguise_vector_operations();
    write_function_body(w, *fi);
    disclose_vector_operations();
    write_function_end(w, *fi);
  }

  release_function_data(*fi);
  currfuninfo = nullptr;
  release_function_symbol_data();
  currfunc = nullptr;
  if (run.debug_flag)
    debug_printf("[Restoring options --> -o%d -i%d --opt_for_speed=%d]\n", opt_level(),
                 auto_inline_threshold(), opt_for_speed());
  close_function_debug_file(fn);
}

} // namespace zor
