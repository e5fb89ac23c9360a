// ir/program_dump.h - the whole program as read, for the debug output.
//
// Types (every type of the package in identifier order, with its full print
// form and, for a type that was rebound, the type that represents it),
// globals, and every function with its parameters, locals and statement
// trees, then the type package's and the interned-symbol table's
// statistics.  Symbol names are shown demangled next to their encoded form.
#pragma once

#include <cstdio>

namespace zor {

class PROGRAM;

void dump_program(const PROGRAM &program, FILE *out);

// The dump into the debug output, when debug output is on (ir_debug_stream);
// the driver calls it right after reading.
void debug_dump_program(const PROGRAM &program);

} // namespace zor
