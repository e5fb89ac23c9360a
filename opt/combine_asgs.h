// opt/combine_asgs.h - merging adjacent assignments to one location
// (OPT5/combine_asgs).
//
// Two consecutive statements that assign (ASG or a compound assignment) to
// structurally equal targets without side effects, neither a bit-field nor a
// register variable, with right sides free of side effects, become one:
//   t op= c1; t op= c2    ->  t op= (c1 op c2)   integer +, *, &, |, ^ only
//   t = v1;   t op= v2    ->  t = v1 op v2
//   t ?= v1;  t = v2      ->  t = v2
// provided the second right side cannot read the target.  What "cannot
// read" means depends on aliasing: for a private local (a live-variable
// candidate) it is "does not name it"; for any other target the right side
// may read nothing but constants and candidates.
#pragma once

namespace zor {

class BBLK;
struct STLIST;
struct LVA_CANDIDATES;

// Tries to merge `first` with the statement after it in `bb`.  Returns the
// statement that holds the result (one of the two; the other is deleted),
// or null when the pair does not merge.
STLIST *combine_adjacent_asgs(BBLK *bb, STLIST *first, const LVA_CANDIDATES &cands);

// The pass over every block of the current function; true when something
// merged.
bool combine_asgs_to_memory();

} // namespace zor
