// opt/live_ops.h - what the live-variable walks (opt/live.cpp,
// opt/deadasg.cpp) share: the operator classes they distinguish, their depth
// bound and their internal error.
#pragma once

#include <cstdint>
#include <functional>

namespace zor {

class NODE;
class FUNINFO;
struct LVA_CANDIDATES;

// How a walk treats a node.
enum class LvaOp {
  name,        // NAME: a read when the symbol is a candidate
  store,       // ASG
  compound,    // PLUSASG ... SRLASG: read, operand, store
  step,        // PLUSPLUS, MINMIN: read, store, the old value
  quest,       // QUEST(c, COLON(a, b)): c, then a or b
  logical,     // ANDAND, OROR: the right operand runs conditionally
  commaop,     // COMMAOP: left for its effects, then right
  reads_all,   // ASM: may read any local
  plain,       // operands are values, first operand first
  unknown,     // not part of the tree form: an internal error
};

LvaOp lva_op_class(const NODE *n);
bool is_compound_asg(uint32_t op);

// Deeper trees are handled as a whole, every candidate they name taken as
// read: the walks recurse, and the reader accepts trees 10000 levels deep.
constexpr int kLvaMaxDepth = 400;

// "Error in 'local_lva_defs()'" for an operator the walks do not know.
[[noreturn]] void lva_bad_opcode(const NODE *n);

// Calls fn on every tree the function owns: block statements (unreachable
// blocks included), or the statement list before the graph exists, the
// global assertions and the exception table's clean-up trees.
void for_each_function_tree(FUNINFO &fi, const std::function<void(NODE *)> &fn);

// Calls fn(number) for every NAME of a candidate in the tree.
void for_each_candidate_name(const NODE *root, const LVA_CANDIDATES &c,
                             const std::function<void(int)> &fn);

} // namespace zor
