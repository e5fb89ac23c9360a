// driver/startup.h - program-wide preparation between set-up and the passes.
//
// The type tables, the inliner and the built-in functions are prepared once,
// after the command-line set-up and before the pass list is built.
#pragma once

namespace zor {

class PROGRAM;

// Initialises the type tables from the program context and empties the
// chain of global symbols.
void init_type_tables(PROGRAM &program);

// Empties the inliner's per-run list of integrated call sites.
void clear_inliner_run_list();

// Creates the inliner according to the inline mode and the level.
void setup_inliner(int inline_mode, int level);

// Creates the built-in functions (the intrinsics the front end may call).
void create_builtin_functions(PROGRAM &program);

} // namespace zor
