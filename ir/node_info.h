// ir/node_info.h - the optimizer's operator-information table.
//
// `if_node_info[]` holds, for every operator code 0..222, the facts the
// passes and printers need: arity, name, printing precedence, effect class,
// truth-valued flag, the negation / commuted / compound-assignment-base maps,
// the float-comparison outcome set, the dump mnemonic and the infix spelling.
// The table is made from ir/opcodes.def when the program is loaded (every
// arity entry starts at 255 and every map entry at ILLOP, then the assigned
// codes are filled in), so it can be consulted from anywhere without an
// initialization call.  EPVAL (110) belongs to the interchange table only and
// has no entry here.
//
// Passes take operator facts from these lookups, never from a local switch.
// At start-up the driver checks the table against the interchange table of
// the I-code format with validate_if_node_info().
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "icode/interchange_ops.h"
#include "ir/opcodes.h"

namespace zor {

// Effect classes.  Passes treat any non-zero class as "has an effect".
enum EffectClass : uint8_t {
  EFF_NONE = 0,      // no effect
  EFF_ASSIGNS = 1,   // modifies its first operand
  EFF_CONTROL = 2,   // transfers control
  EFF_OTHER = 255,   // other or unknown effects
};

// Outcome bits of a floating comparison: the comparison is true for the
// outcomes in its set.  The same bits are what xf_compare() (ir/xfloat.h)
// returns, so a constant comparison folds to (micro_ops & outcome) != 0.
enum FloatOutcome : uint8_t {
  FO_EQUAL = 1,
  FO_LESS = 2,
  FO_GREATER = 4,
  FO_UNORDERED = 8,
  FO_ALL = 15,
};

struct NodeInfo {
  const char *name = nullptr;    // null for an unassigned code
  const char *infix = nullptr;   // null: the dump mnemonic serves
  uint32_t negate = ILLOP;       // logical complement
  uint32_t commute = ILLOP;      // same result with the operands exchanged
  uint32_t asg_base = ILLOP;     // base operator of a compound assignment
  uint8_t arity = kNoArity;
  uint8_t prec = 0;
  uint8_t effect = EFF_NONE;
  bool truth = false;
  uint8_t micro_ops = 0;         // outcome set of a float comparison, else 0
  char mnemonic[16] = {};        // at least 8 wide, blank-padded
};

extern const std::array<NodeInfo, kNumOps> if_node_info;
// What lookups answer for a code beyond 222: an unassigned entry.
extern const NodeInfo kUnassignedNodeInfo;

inline const NodeInfo &op_info(uint32_t op) {
  return op < kNumOps ? if_node_info[op] : kUnassignedNodeInfo;
}

// Constant-time lookups, all indexed by operator code.
inline uint32_t op_arity(uint32_t op) { return op_info(op).arity; }
inline const char *op_name(uint32_t op) { return op_info(op).name; }
inline bool op_is_assigned(uint32_t op) { return op_info(op).name != nullptr; }
inline uint32_t op_prec(uint32_t op) { return op_info(op).prec; }
inline uint8_t op_effect(uint32_t op) { return op_info(op).effect; }
inline bool op_has_effect(uint32_t op) { return op_info(op).effect != EFF_NONE; }
inline bool op_is_truth(uint32_t op) { return op_info(op).truth; }
// ILLOP when the operator has no such counterpart.
inline uint32_t negate_op(uint32_t op) { return op_info(op).negate; }
inline uint32_t commute_op(uint32_t op) { return op_info(op).commute; }
inline uint32_t asg_base_op(uint32_t op) { return op_info(op).asg_base; }
// A commutative operator is its own commuted form.
inline bool op_is_commutative(uint32_t op) { return op < kNumOps && commute_op(op) == op; }
inline bool is_float_compare(uint32_t op) { return op >= FEQ && op <= FUNO; }

// Outcome set of a float comparison FEQ..FUNO; 0 for any other operator.
inline uint32_t float_op_to_micro_ops(uint32_t op) { return op_info(op).micro_ops; }
// The float comparison true exactly for the outcome set `bits` (0..15);
// 0 gives kFloatAlwaysFalse and 15 kFloatAlwaysTrue.
uint32_t float_micro_ops_to_op(uint32_t bits);

// Dump mnemonic: eight characters or more, blank-padded (" ?ILLOP?" for
// ILLOP, "?NODE?  " for an unassigned code).
inline const char *op_mnemonic(uint32_t op) { return op_info(op).mnemonic; }
// Spelling for C-like printing; operators without one fall back to the
// dump mnemonic.  EPVAL, which has no table entry, spells as its name.
inline const char *op_infix(uint32_t op) {
  if (op == EPVAL)
    return "EPVAL";
  const NodeInfo &e = op_info(op);
  return e.infix ? e.infix : e.mnemonic;
}

// Start-up check of if_node_info[] against the interchange table.
struct OpTableCheck {
  // The table to check (the real one unless a test supplies its own).
  const NodeInfo *info = if_node_info.data();
  // The interchange entry of a code 0..163 (null when there is none).
  std::function<const InterchangeOp *(uint32_t)> interchange = interchange_op;
  // Receives the debug lines, each ending in a newline; leave empty while
  // debug output is off.
  std::function<void(const char *)> debug;
  // Receives the failure lines ("INTERNAL ERROR: if_node_info[] mismatch\n",
  // ...) before `stop` is called.
  FILE *err = stderr;
  // Ends the program after a failure (the driver's terminate_abnormally).
  // Should it return (tests), the check returns false.
  std::function<void()> stop;
};

// Returns true when the tables agree.  On a mismatch prints the failure line
// and calls check.stop.
bool validate_if_node_info(const OpTableCheck &check);

} // namespace zor
