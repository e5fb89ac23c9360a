// opt/deadasg.h - dead-assignment elimination (OPT5/deadasg).
//
// elim_dead_assigns deletes the assignments to live-variable candidates
// (opt/live.h) whose value no path reads, keeping the side effects of their
// right sides; an assignment inside an expression gives way to its value.
// It offers every remaining statement to the adjacent-assignment merger
// (opt/combine_asgs.h), may sink assignments towards their uses, and drops
// the locals left without any reference from FUNINFO::locals.  Needs the
// flow graph; keeps its edges (simpcfg runs when a block became a bare
// BRANCH and loops are not built yet).  Releases the live-variable vectors.
#pragma once

namespace zor {

// The pass over the current function.  delay: also run delay_assignments;
// fixup: in blocks where a compound assignment to a variable occurs inside
// an expression, lift z = (x op= e) into x op= e; z = x.  True when a
// statement changed.
bool elim_dead_assigns(int delay, int fixup);

// Sinks each assignment to a candidate down to just before the first later
// statement that reads or writes the variable, within its block or along a
// chain of blocks each entered only from the one before; with no such
// statement it ends before the last block's final branch.  Only
// assignments whose value depends on nothing but constants and candidates
// move, and never past a statement that assigns one of those candidates.
// True when a block it moved statements out of now begins with a BRANCH.
bool delay_assignments();

} // namespace zor
