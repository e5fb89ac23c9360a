// opt/simplify.h - the expression simplifier (OPT5/simplify).
//
// simplify() rewrites a tree into a simpler equivalent one, bottom-up: it
// canonicalizes node types, hoists comma operands and constant assignments
// out of operators, folds constants (opt/fold.h) and applies the rewrite
// rules of each operator.  Every rule holds for every integer width and
// signedness and for floating values (NaN, signed zeros, rounding), keeps
// every side effect and every volatile access, and leaves control flow to
// the flow-graph passes.  The pass `simp_all_trees` applies it to every
// statement of a function; every pass that rewrites a tree may call it.
#pragma once

#include <cstdint>
#include <functional>

namespace zor {

class FUNINFO;
class NODE;
class TYPE;

// How the value of the tree being simplified is used.
enum class SimpContext : uint8_t {
  value,    // the value is used
  effect,   // only the side effects count (statement roots, comma left parts):
            // an operator that only computes a value gives way to the side
            // effects of its operands
};

// Returns the simplified tree, which replaces `node` (the node may be
// reused or released).  CSE_DUPE, CSE_ORIG and ILLOP nodes are fatal.
NODE *simplify(NODE *node, SimpContext context = SimpContext::value);

// The node itself simplified, its operands being simplified already (what a
// pass calls after rebuilding one node over simplified operands).
NODE *simplify_node(NODE *node, SimpContext context = SimpContext::value);

// `node` as a value of type `type`: the node itself when it has that type,
// else a PCONV (pointer type) or SCONV of it, simplified.
NODE *convert_to_type(NODE *node, TYPE *type);

// The statement trees of a function (the blocks' statements once it has a
// flow graph, else the statement list as read); the callback may replace
// the tree in place.  The pass reaches statements only through this.
void for_each_statement_tree(FUNINFO &fi, const std::function<void(NODE *&)> &fn);

// The pass: simplifies every statement tree of `fi`.  Returns true when a
// tree changed.  Announces itself in the debug log and logs each statement
// it changed.
bool simp_all_trees(FUNINFO &fi);

} // namespace zor
