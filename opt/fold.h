// opt/fold.h - integer constants and constant folding (OPT5/fold).
//
// Every rewriting pass makes its ICONs through make_int_constant, which fits
// a 96-bit value to an integer type (cut to the width, sign-extended through
// the extension word for signed types).  fold_constants folds a node whose
// left operand is a constant; the expression simplifier (opt/simplify.h)
// calls it on every such node and is called back for the rewrites that
// follow a fold.  A fold that cannot be done safely (division by zero, the
// negation of the most negative value, a floating-point error) is not done.
#pragma once

#include <cstdint>

#include "ir/node.h"

namespace zor {

class TYPE;

// ------------------------------------------------------- 96-bit constants
//
// Values are two's complement over 96 bits; arithmetic wraps at 96 bits and
// carries from the 64-bit field into the extension word.

// `value` fitted to an integer type: pointers count as the unsigned integer
// of their size.  Any other type is an internal error ("TYPE_IS_INT(type)").
IntConst make_int_constant(IntConst value, TYPE *type);
// As make_int_constant, after mapping a pointer to the unsigned integer of
// its size, bool and wchar_t to unsigned short and char to short (each the
// standard type of the same class and size).
IntConst make_promoted_constant(IntConst value, TYPE *type);

// -1, 0 or 1: the extension word compared as signed, then the 64-bit field
// as unsigned.
int compare_int_constants(const IntConst &a, const IntConst &b);
IntConst ic_add(const IntConst &a, const IntConst &b);
IntConst ic_sub(const IntConst &a, const IntConst &b);
IntConst ic_neg(const IntConst &a);
IntConst ic_mul(const IntConst &a, const IntConst &b);

// True when `t` is an integral or enumeration type (after typedefs and
// qualifiers).
bool is_int_type(const TYPE *t);
// The value of a type's all-ones pattern (-1 for signed types, 2^w - 1 for
// unsigned ones) and its most negative value (signed types only).
IntConst all_ones_of(TYPE *t);
bool is_most_negative(const IntConst &v, TYPE *t);

// ---------------------------------------------------------------- folding

// Folds a node whose left operand is an ICON or FCON (or a MULT of RECIP by
// an FCON): its operands first, then the node by fold_int or fold_float,
// then the identities by 0 and 1 and the reassociations, which go back
// through the simplifier.  Returns the replacement node (the node itself
// when nothing applied); the node is consumed when it is replaced.
NODE *fold_constants(NODE *node);

// fold_constants for a node whose operands are folded already (the
// simplifier, which works bottom-up).
NODE *fold_node(NODE *node);

// Integer and pointer nodes: moves a constant left operand to the right
// (with the operator's swap) or computes the value of constant operands.
NODE *fold_int(NODE *node);
// Floating nodes and float comparisons: integer constant operands become
// constants of the floating type; a constant left operand of a non-constant
// moves right (with the operator's swap); constant operands are computed in
// the extended format and rounded to the node's type, unless the arithmetic
// reports an error; RECIP folds only when exact.
NODE *fold_float(NODE *node);

} // namespace zor
