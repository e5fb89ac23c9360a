// driver/passes.h - the pass table: every step of the pipeline, in order.
//
// One table row per step: its name (the text of the logs, of forced orders
// and of "debug:skip_pass"), its kind, its run condition and its work.  The
// pass list is created from this table in row order, so the row index is
// the step number.  "output function" is not a row: the driver appends it
// to every function's queue as step 78.
//
// Steps 28 to 59 are the loop-restructuring list.  Every entry prepares the
// function's loop structure at level 2 or more, works when the function's
// loops allow it (LoopWork) and rebuilds the flow graph afterwards.
#pragma once

#include <cstdint>

namespace zor {

enum class PassKind : uint8_t {
  per_function,   // runs once for each function, with that function current
  barrier,        // runs once for the whole program, with no current function
};

enum class LoopWork : uint8_t {
  none,            // not an entry of the loop-restructuring list
  always,          // works whatever the loops
  with_loops,      // works only when the function has loops
  without_loops,   // works only when the function has no loops
};

struct PassEntry {
  const char *name;
  PassKind kind;
  bool (*runs)();   // read with the function current; barriers: always
  void (*work)();
  LoopWork loops;
};

constexpr uint32_t kPassCount = 78;
constexpr uint32_t kOutputFunctionStep = kPassCount;
extern const PassEntry pass_table[kPassCount];
extern const char kOutputFunctionName[];   // "output function"

// What the pass of `step` does when it runs: its condition, then (for the
// loop-restructuring list) the loop preparation, its work and the rebuild.
void perform_step(uint32_t step);

// Whether the step would do work for the current function: its condition
// holds, its loop need is met and its work is not empty.
bool pass_acts(uint32_t step);

// Steps the driver calls by name.
void analyze_globals();   // step 3, run on its own for a file without functions
void output_function();   // "output function"

// Facts the run conditions read about the current function.
uint32_t function_block_count();
bool function_has_loops();

// The debug-log line with which a pass announces itself under its own name.
void announce_pass(const char *name);

} // namespace zor
