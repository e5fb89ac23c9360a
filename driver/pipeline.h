// driver/pipeline.h - the pass list and the per-function driver.
//
// The pipeline is the pass table of driver/passes.h, created once per run
// into a pass_manager (driver/pass.h).  The active list is that table in
// order, or a forced order from the option --pass_order or the environment
// variable "FORCED_OPT_PASSES".  Every function gets a queue: a copy of the
// active list followed by "output function".  In rounds, each function in the
// function list runs its queue up to its next barrier; when all stand at the
// same barrier, it runs once for the whole program.
//
// The driver also keeps the functions' pipeline marks (removed, suppressed,
// needed, re-queued, not to be compiled) until the per-function record
// carries them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor {

class IcodeReader;
class PROGRAM;
class SYMTAB;
class pass;
class pass_manager;

// Builds the ordered pass list; with filtering on, the active list follows a
// forced pass order when one is given.  Lists the active passes under the
// switch "debug:list_passes".
void build_pass_list(bool filtering);

// Reads the whole program through `reader` into `program` and runs every
// function through its pass queue, writing each function at its end; then
// writes what the program holds besides its functions.
void run_pipeline(IcodeReader &reader, PROGRAM &program);

// The driver's steps after the program is read, in the order run_pipeline
// takes them (open to tests).  The queues: "output function" is created as
// the next step, and every function of the program gets a copy of the active
// list followed by it; the function list is the program's function order.
void start_function_queues(PROGRAM &program);
// Rounds until no function in the function list has passes left.
void run_rounds();
// After the rounds: the program's data besides its functions (initializers,
// pragmas), the listing of the global symbols and the symbol statistics.
void finish_program(PROGRAM &program);

// The registry and the lists of the run (valid after build_pass_list).
pass_manager &pipeline_passes();
const std::vector<pass *> &active_pass_list();

// ---------------------------------------------------------- forced orders

// A forced pass order: "random", or step numbers separated by commas or
// blanks, read until the first item that is not a number.  Numbers may
// repeat and steps may be left out; numbers outside 0..count-1 are left out.
struct PassOrder {
  bool random = false;
  std::vector<uint32_t> steps;
};
PassOrder parse_pass_order(const char *text, uint32_t count);

// The order of "random": a permutation of 0..n-1 drawn from the C library's
// reference generator seeded with `seed` (the run seeds it with the time
// plus the process number).
std::vector<uint32_t> random_pass_order(uint32_t n, uint32_t seed);

// ------------------------------------------------------- function marks

enum FunctionMark : uint32_t {
  FM_REMOVED = 0x01,          // removed from the program: never made current again
  FM_SUPPRESSED = 0x02,       // every call was inlined: left out of the call-graph order
  FM_NEEDED = 0x04,           // a use needs the function: never left out
  FM_REQUEUED = 0x08,         // put back into the function list after being suppressed
  FM_NOT_COMPILED = 0x10,     // runs its passes but is not written
  FM_KEEP_BITFIELDS = 0x20,   // excluded from "expand bitfields"
  FM_CSU_RETURN_TEMP = 0x40,  // returns a structure through a temporary
};

uint32_t function_marks(const SYMTAB *fn);
void set_function_marks(const SYMTAB *fn, uint32_t marks);
void clear_function_marks(const SYMTAB *fn, uint32_t marks);

// A use of `fn` found while working on `user` needs the function after all:
// clears its suppression, marks it needed and re-queued, tells the
// information file when it was suppressed, and appends it to the function
// list (once) so that the current round runs its remaining passes.
void unsuppress_function(SYMTAB *fn, const SYMTAB *user);

// ------------------------------------------------------ steps and state

// The functions to process, in processing order.
const std::vector<SYMTAB *> &function_list();

// "set call-graph order": rebuilds the function list in call-graph order,
// leaving out removed functions, suppressed ones not marked needed and
// those not to be compiled.  Until the call graph exists, call-graph order
// is the order in which the reader delivered the functions.
void set_call_graph_order();

// Runs `p` as one step: the skip check, the ENTERING and EXITING lines, the
// variable listing, the timing line and, under --verify or debug output,
// the tree check of what the pass may have changed.
void run_step(const pass &p);

// The last act of "output function": closes the function's own debug file
// (switch "debug:split_odb") and returns to the run's debug stream.
void close_function_debug_file(const SYMTAB *fn);

// Forgets the pass list, the queues and the marks (tests).
void reset_pipeline();

} // namespace zor
