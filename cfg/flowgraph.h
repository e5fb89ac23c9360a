// cfg/flowgraph.h - building, renumbering and reshaping the flow graph.
//
// build_flow_graph turns the current function's statement list into basic
// blocks (cfg/bblk.h).  It first brings the branches into the optimizer's
// form: a CBRANCH(c, L), which jumps to L when c is false, becomes
// IF(c, COMMA(LABEL fall, LABEL L)), where `fall` is the statement after it
// (a BRANCH there is absorbed, otherwise a fresh label is defined); an
// ENDLOOP(NOP, LABEL top) becomes IF(ENDLOOP, COMMA(LABEL top, LABEL fall)).
// The writer turns both back (opt/write.cpp).
//
// Every pass that changes edges calls renumber_cfg(), which recomputes the
// depth-first order, `dfn`, `prev`, predecessor lists and the block count
// and deletes blocks that became unreachable.
#pragma once

#include "cfg/bblk.h"
#include "ir/funinfo.h"

namespace zor {

// Builds the graph of the current function; its statement list is empty
// afterwards.  Called once per function, before its first pass.
void build_flow_graph();
void renumber_cfg();
// Inserts a block on every critical edge (force: also on the edges that
// loop structure makes harmless).
void split_critical_edges(bool force);
// Inserts a new block between `from` and `to` and returns it.
BBLK *split_edge(BBLK *from, BBLK *to);
// The control-flow clean-up; true when it changed something.
bool simpcfg(bool quest_is_ok, int flag);
// Turns a tail-recursive self-call at the end of `bb` into a jump; true
// when it did.
bool remove_tail_recursion(BBLK *bb);

// Rebuilds `bb`'s successor list from the LABEL leaves of its last
// statement (right operand before left, so an IF's successors are T1, T2).
void compute_successors(BBLK *bb);

// The blocks along the dfn chain, and along the creation chain.
#define FOR_EACH_BLOCK(bb, fi) for (BBLK *bb = (fi).bb_list; bb; bb = bb->next)
#define FOR_EACH_BLOCK_ALL(bb, fi) for (BBLK *bb = (fi).bb_list; bb; bb = bb->all_next)

// Calls fn(tree, pos) for every statement of `fi`: the blocks along the
// creation chain once the function has a flow graph, else the statement
// list as read.  `fn` may replace the tree through the reference.
template <class Fn> void for_each_statement(FUNINFO &fi, Fn &&fn) {
  if (fi.bb_list) {
    FOR_EACH_BLOCK_ALL(bb, fi)
      for (STLIST *s = bb->statements; s; s = s->rest)
        fn(s->first, s->pos);
    return;
  }
  for (STMT &s : fi.statements)
    fn(s.tree, s.pos);
}

// The debug dump of the blocks (at debug level 2 and above): one heading per block in dfn order with
// uon, dfn, labels, predecessors, successors and loop depth, then its
// statements.
void dump_flow_graph(FUNINFO &fi, const char *title);

} // namespace zor
