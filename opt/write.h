// opt/write.h - the function writer: what "output function" writes.
//
// The writing steps of "output function" and of the end of the run, on top
// of the record writers of icode/writer.h.  Trees get their pre-output
// normalization (wrtree) before they are written.
#pragma once

namespace zor {

class FUNINFO;
class IcodeWriter;
class PROGRAM;

// Function begin ("I_BF"): the function-begin record, the dependence edges,
// the parameters, body begin, the locals, the current position, the
// no-calls byte record and the pending pragmas.
void write_function_begin(IcodeWriter &w, FUNINFO &fi);

// The function body: the statements with their labels, inline assembly and
// pragmas.  Until the flow graph exists this writes the statement list in
// order.
void write_function_body(IcodeWriter &w, FUNINFO &fi);

// Function end ("I_EF"): the exception-handling table and the function-end
// record.
void write_function_end(IcodeWriter &w, FUNINFO &fi);

// After every function: the initializers of the globals and the pragma
// records met outside functions.  The global-symbol section itself is
// written when the writer is closed.
void write_program_data(IcodeWriter &w, PROGRAM &program);

} // namespace zor
