// opt/live.h - live variables of the current function (OPT5/live).
//
// The analysis works on "candidates": scalar, non-volatile locals whose
// address is never taken, so that every access to them is a NAME read or a
// NAME assignment target in the trees.  Each gets a dense candidate number
// (SYMTAB::candidate_number) and every block four bit vectors of that size
// in its data-flow slots: DF_IN (live on entry), DF_OUT (live on exit),
// DF_GEN (read in the block before any assignment) and DF_KILL (assigned in
// the block, on every path through it, before any read).  The vectors stay
// until release_live_variables; a pass that changes the trees or the edges
// afterwards makes them stale.
//
// Evaluation order is the one the trees define: operands left before right,
// an assignment's value before its store, a compound assignment's read of
// its target first; the arms of QUEST and the right operands of ANDAND and
// OROR run conditionally and never count as certain assignments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zor {

class FUNINFO;
class NODE;
class SYMTAB;

// The candidates of one function, by candidate number.
struct LVA_CANDIDATES {
  std::vector<SYMTAB *> syms;

  size_t size() const { return syms.size(); }
  bool empty() const { return syms.empty(); }
  // The candidate number of `s`, or -1.
  int number_of(const SYMTAB *s) const;
  // The candidate number of a NAME node's symbol, or -1 for anything else.
  int number_of_name(const NODE *n) const;
};

// Chooses and numbers the candidates of `fi` (parameters only with
// `with_parameters`, and then only pointer parameters: the steps that
// increment-propagation and inlining leave on them are what dead-assignment
// elimination removes).  Touches no tree and no block.
LVA_CANDIDATES choose_lva_candidates(FUNINFO &fi, bool with_parameters);

// The analysis of the current function.  flag 1 first cleans the statements
// up (statements that are neither assignments nor control statements are
// reduced to their side effects, statement-level COMMAOP chains split);
// flag 0 leaves the trees as they are.  Fills the four vectors of every
// block of the dfn chain and iterates to the fixed point.  With no
// candidate, no vector is made.
LVA_CANDIDATES find_live_variables(int flag, int with_parameters);

// Frees the vectors of every block of `fi`.
void release_live_variables(FUNINFO &fi);

// What remains of a tree whose value nobody uses: its side effects, in
// their order (null when there are none).  Consumes `n`.  Calls, stores,
// control transfers, volatile accesses, divisions and remainders (which may
// trap) are kept whole, and so are conditional operators whose arms have
// effects.
NODE *side_effects_of(NODE *n);

// True when evaluating `n` may change state or trap: has_side_effects, and
// any DIV or MOD.
bool has_effects_or_traps(const NODE *n);

// True when the value of `n` depends on nothing but constants, addresses of
// variables and candidates, and computing it can neither trap nor change
// anything: no store through a pointer and no call can change it, and it is
// the same wherever it is computed between two assignments of those
// candidates.
bool depends_only_on_candidates(const NODE *n, const LVA_CANDIDATES &c);

} // namespace zor
