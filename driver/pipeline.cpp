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
#include "ir/program.h"

namespace zor {

void build_pass_list(bool /*filtering*/) {
  // The pass table and the active order are built by the pass manager.
}

// "output function": releases the function's data.  Writing its records is
// the writer's part of the step.
static void output_function(FUNINFO &fi) { fi.release_statements(); }

void run_pipeline(IcodeReader &reader, PROGRAM &program) {
  reader.read_all();
  for (FUNINFO *fi : program.functions()) {
    currfunc = fi->symbol;
    currfuninfo = fi;
    output_function(*fi);
    currfuninfo = nullptr;
    currfunc = nullptr;
  }
}

} // namespace zor
