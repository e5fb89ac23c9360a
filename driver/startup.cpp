// driver/startup.cpp - program-wide preparation between set-up and the passes.
//
// These are the driver's entry points into parts that are built later; each
// says what fills it in.  The driver already calls them in their final
// places, so nothing here changes the start-up order when they are filled.
#include "driver/startup.h"

#include "ir/program.h"

namespace zor {

void init_type_tables(PROGRAM &program) {
  // The program context builds the target's basic types when it is created
  // and starts with an empty global chain; the derived-type tables of the
  // type system (pointer, array and function caches) are set up here once
  // the type system has them.
  (void)program;
}

void clear_inliner_run_list() {
  // The per-run list belongs to the inliner (call graph and inlining); it
  // is emptied here once the inliner exists.
}

void setup_inliner(int inline_mode, int level) {
  // The inliner object (the revised inliner, created once with all fields
  // zero) is created here by the call-graph and inlining work, following
  // the inline mode and the level.
  (void)inline_mode;
  (void)level;
}

void create_builtin_functions(PROGRAM &program) {
  // The intrinsics the front end may call are entered into the program's
  // symbol tables here once the built-in function table exists.
  (void)program;
}

} // namespace zor
