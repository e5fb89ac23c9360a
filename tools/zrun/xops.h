// tools/zrun/xops.h - the cases of zrun's evaluator (CNode::x).
//
// The compiler (load.cpp) picks one case per node from its operator and the
// classes of its result and operands; the evaluator (eval.cpp) implements
// them.  Cases yield integers (and addresses of aggregates) unless their
// name says float (XF_*).
#pragma once

#include <cstdint>

namespace zor::run {

enum XOp : uint16_t {
  X_ERR,          // reports the message of the node's call site name
  X_NOP,          // 0
  // leaves and addresses
  X_ICONST,       // k
  X_GADDR,        // k: an absolute address
  X_FADDR,        // fp + k
  X_ADDK,         // a + k, 16 bits (keeps an uninitialized pointer so)
  X_REG,          // register slot
  X_LOAD,         // load lv from address a
  X_LOADBF,       // bit-field lv at address a
  X_AGG,          // a, an address, as an aggregate value (checked)
  X_PCHK,         // a, a pointer that must have been initialized
  // integer arithmetic, wrapped at l
  X_ADD, X_SUB, X_MUL, X_DIV, X_MOD, X_AND, X_OR, X_XOR, X_SHL, X_SHR,
  X_PADD, X_PSUB, // pointer arithmetic
  X_NEG, X_NOT, X_LNOT, X_ABS, X_SQR,
  // integer comparisons: k is the operands' mask
  X_EQ, X_NE, X_LT_S, X_LE_S, X_GT_S, X_GE_S, X_LT_U, X_LE_U, X_GT_U, X_GE_U,
  X_FCMP,         // float comparison, k: the outcome bits that make it true
  X_ANDAND, X_OROR, X_QUEST, X_COMMAOP,
  X_FTRUTH,       // float a != 0
  // conversions
  X_WRAP,         // integer a to l
  X_TOBOOL,
  X_FTOI,         // float a to integer l (saturating; NaN gives 0)
  X_PMCONV,       // a * k, to l
  X_PVCONV,       // a / k
  // assignments
  X_ASG, X_CASG, X_POST,     // integer lvalue (sub: the base case of CASG/POST)
  X_AASG,                    // aggregate copy: a = destination, b = source
  X_MEMCPY,                  // call->args: destination, source, count
  // calls and intrinsics
  X_CALL,
  X_IDENT,                   // a's value
  X_VA_START,                // the variadic area of the current call
  X_VLA_ALLOC,               // a units of the frame for a variable-length array
  X_ENDLOOP,                 // the loop goes on: 1
  // aggregates
  X_COMPLEX,                 // a, b into the scratch area
  X_CPLXOP,                  // complex arithmetic (sub), conversions
  X_CCMP,                    // complex EQ (k 1) or NE (k 0)
  X_VPACK,                   // call->args into the scratch area
  X_VSPLAT,                  // a in every lane
  X_VOP,                     // lane by lane (sub), conversions (sub X_WRAP)
  // float results
  XF_CONST, XF_REG, XF_LOAD, XF_ITOF, XF_FTOF,
  XF_ADD, XF_SUB, XF_MUL, XF_DIV, XF_NEG, XF_ABS, XF_SQRT, XF_RECIP, XF_SQR,
  XF_QUEST, XF_COMMAOP, XF_ASG, XF_CASG, XF_POST, XF_CALL, XF_IDENT,
  X_COUNT
};

// An uninitialized pointer: outside every 16-bit address.
constexpr int64_t kPoison = int64_t{1} << 32;

// A pointer value that is no address: uninitialized.
inline bool poisoned(int64_t v) { return (static_cast<uint64_t>(v) >> 16) != 0; }

} // namespace zor::run
