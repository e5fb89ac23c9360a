// opt/write.h - the function writer: what "output function" writes.
//
// The writing steps of "output function" and of the end of the run, on top
// of the record writers of icode/writer.h.  Trees get their pre-output
// normalization (wrtree) before they are written.  A function whose FUNINFO
// carries the flag value 64 is not written: all three function steps do
// nothing for it.
#pragma once

namespace zor {

class FUNINFO;
class IcodeWriter;
class NODE;
class PROGRAM;

// Function begin ("I_BF"): the function-begin record, the dependence edges,
// the parameters, body begin ("I_EA"), the locals, the current position
// ("I_EL"), the no-calls byte record and the pending pragmas.  Parameters
// and locals are entered in the writer's local table, which gives them the
// indexes their NAME references carry.
void write_function_begin(IcodeWriter &w, FUNINFO &fi);

// The function body: the statements with their labels, inline assembly and
// pragma records, each tree normalized first.  Until the flow graph exists
// this writes the statement list in order.
void write_function_body(IcodeWriter &w, FUNINFO &fi);

// Function end: the exception-handling table (renumbered, without its root
// entry) and the function-end record.
void write_function_end(IcodeWriter &w, FUNINFO &fi);

// After every function: the pragma records met outside functions, the
// initializers of the globals (the first one ends the main stream) and the
// table of global symbols, whose records the writer writes when it closes.
void write_program_data(IcodeWriter &w, PROGRAM &program);

// The pre-output normalization of one tree, in place: LABEL numbers, NAMEs
// of globals marked referenced (flag 0x8000), ICONs wider than 32 bits to
// LCON, calls of special call targets to MCALL/UMCALL and intrinsic MCALLs
// to ICALL, VRCONV/VSCONV to SCONV, and, when `fi` has profiling state 2,
// EPVAL nodes over the nodes that carry a profile-value index.  An operator
// above 163 is reported ("Error in 'wrtree'") and stops the run.  Returns
// the tree's root, which rule 7 may have replaced.  `fi` is null for
// initializer trees.
NODE *wrtree(NODE *root, const FUNINFO *fi);

} // namespace zor
