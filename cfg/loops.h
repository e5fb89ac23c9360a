// cfg/loops.h - natural loops and the loop hierarchy of a function.
//
// build_loop_hierarchy finds the natural loops from the back edges of the
// dfn order, nests them under a root loop that stands for the whole
// function, numbers them (the root gets the number of loops + 1) and sets
// each block's `loop` and `loop_depth`.  A back edge is accepted when its
// target H is a loop header: H dominates the source, and H is the only
// block of the loop entered from outside it.  Any other back edge makes the
// graph irreducible: then only the root loop is built, flagged so.  So does
// a back edge whose source already lies in a loop found before (a block
// that closes two loops): each loop has a tail of its own.
//
// Loops are numbered in the order found: headers from the last dfn to the
// first, and the back edges into one header by their sources' dfn, so inner
// loops come before the loops around them.  Member lists and `fi.loops`
// (root last) are owned by the tree and freed with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icode/position.h"

namespace zor {

class BBLK;
class FUNINFO;
struct EDGE;

struct LOOPINFO {
  LOOPINFO *parent = nullptr;     // null for the root
  // The loop's own blocks plus the header of each directly nested loop,
  // which stands for that loop; sorted by dfn after the build.
  EDGE *members = nullptr;
  BBLK *preheader = nullptr;
  BBLK *header = nullptr;
  BBLK *tail = nullptr;           // source of the back edge that made it
  SrcPos first_pos, last_pos;     // source range of its blocks
  uint16_t number = 0;
  int16_t depth = 0;
  bool irreducible = false;       // root only

  LOOPINFO() = default;
  LOOPINFO(const LOOPINFO &) = delete;
  LOOPINFO &operator=(const LOOPINFO &) = delete;
  ~LOOPINFO();
};

// (Re)builds dominators and the loop tree of the current function.
void build_loop_hierarchy();
// Builds the loop tree of `fi` (what build_loop_hierarchy does after its
// trace header); frees an earlier tree first.
void build_loops(FUNINFO &fi);
// Frees the loop tree of `fi` and clears every block's loop pointer.
void free_loops(FUNINFO &fi);
// Sorts every member list by dfn again; for use after a renumbering when
// blocks were added to loops (split_edge, add_preheader).
void sort_loop_members(FUNINFO &fi);
// The pre-header of `loop`, made when it has none that qualifies: the one
// block outside the loop that leads to its header, when that block has no
// other successor.  A new block goes before the header in both chains,
// takes over the outside edges into the header, joins the parent loop, and
// the graph is renumbered.  Null for the root loop.  The loop must belong
// to the current function.
BBLK *add_preheader(LOOPINFO *loop);
// The loop tree's inconsistencies (for the flow-graph verifier): a block
// whose `loop` does not list it (or its loop's header) as a member, a depth
// that disagrees with its loop, a member list not sorted by dfn.
std::vector<std::string> check_loops(FUNINFO &fi);
// True when `bb` lies in `loop` or in a loop nested in it.
bool loop_contains(const LOOPINFO *loop, const BBLK *bb);

} // namespace zor
