// driver/pipeline.cpp - the pass list and the per-function driver.
//
// What runs today: the whole program is read, and each function is made
// current in the order the reader delivered it and handed to "output
// function".  The ordered list of named passes, the barriers, the forced
// orders and the per-pass logging come with the pass manager; "output
// function" writes the function once the writer can.
#include "driver/pipeline.h"

#include "driver/run.h"
#include "icode/reader.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/tree_print.h"

namespace zor {

void build_pass_list(bool /*filtering*/) {
  // The pass table and the active order are built by the pass manager.
}

// "output function": releases the function's data.  Writing its records is
// the writer's part of the step.
static void output_function(FUNINFO &fi) { fi.release_statements(); }

// The function as read, one statement per line, into the debug output.
static void log_function(const FUNINFO &fi) {
  debug_printf("\n==== FUNCTION %s() (%zu statements)\n", fi.symbol->name(),
               fi.statements.size());
  for (const STMT &s : fi.statements) {
    if (s.pos.valid())
      debug_printf("; line %u\n", s.pos.line);
    debug_printf("%s", tree_dump(s.tree).c_str());
  }
}

void run_pipeline(IcodeReader &reader, PROGRAM &program) {
  reader.read_all();
  for (FUNINFO *fi : program.functions()) {
    currfunc = fi->symbol;
    currfuninfo = fi;
    if (run.debug_flag)
      log_function(*fi);
    output_function(*fi);
    currfuninfo = nullptr;
    currfunc = nullptr;
  }
}

} // namespace zor
