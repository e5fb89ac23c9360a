// ir/opcodes.h - operator codes of expression trees.
//
// The same codes are used inside the optimizer and in I-code files.  Codes
// 0..163 may appear in a file; 164..222 exist only inside the optimizer.
// Code 222 (ILLOP) marks an illegal operator and is the answer of the
// operator maps when no operator applies.  The facts about each code live in
// ir/opcodes.def and are served by ir/node_info.h.
#pragma once

#include <cstdint>

namespace zor {

enum Op : uint32_t {
#define OPCODE(name, code, arity, prec, effect, truth, file, info) name = code,
#include "ir/opcodes.def"
#undef OPCODE
};

constexpr uint32_t kNumOps = 223;          // codes 0..222
constexpr uint32_t kMaxFileOp = 163;       // highest code allowed in a file
constexpr uint32_t kNoArity = 255;         // arity entry of "no fixed arity"

// Pseudo-codes of float_micro_ops_to_op for the empty and the full outcome
// set: a comparison that is always false, or always true.  Not operators.
constexpr uint32_t kFloatAlwaysFalse = 65536;
constexpr uint32_t kFloatAlwaysTrue = 65537;

} // namespace zor
