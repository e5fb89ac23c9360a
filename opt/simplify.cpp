// opt/simplify.cpp - the expression simplifier (OPT5/simplify) and the pass
// `simp_all_trees`.
//
// Trees are simplified bottom-up without recursion over their depth: each
// node is simplified once its operands are.  A node goes through the steps
// of simplify_node until none changes it: canonical type, hoisting of comma
// operands and constant assignments, constant folding (opt/fold.h), then the
// rewrite rules of its operator, one function per operator family below.
// Every rule is an identity for all integer widths and signednesses and for
// every floating value, including NaNs, signed zeros and overflow; a rule
// that drops an operand keeps that operand's side effects in front of its
// result, and volatile accesses count as side effects.  Conditional branches
// with constant conditions are left to the flow-graph clean-up.
#include "opt/simplify.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cfg/flowgraph.h"
#include "driver/passes.h"
#include "driver/run.h"
#include "ir/funinfo.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_equal.h"
#include "ir/tree_print.h"
#include "ir/type.h"
#include "opt/fold.h"

namespace zor {

namespace {

// A rule that keeps rewriting its own result is a defect; this bound stops
// the loop instead of hanging the run.
constexpr int kMaxRestarts = 64;

constexpr const char kBadOpcode[] = "\n\n   !!! Bad opcode in simplifier (%d) %s !!!\n";

// Per-run state: how many rewrites happened (simp_all_trees reports
// whether anything changed).
struct Simp {
  uint32_t rewrites = 0;
};

NODE *simplify_node_in(NODE *n, SimpContext ctx, Simp &s);

[[noreturn]] void bad_opcode(const NODE *n) {
  const char *name = op_name(n->op) ? op_name(n->op) : "";
  std::fprintf(stderr, kBadOpcode, static_cast<int>(n->op), name);
  debug_printf(kBadOpcode, static_cast<int>(n->op), name);
  terminate_abnormally(nullptr);
}

void check_opcode(const NODE *n) {
  if (n->op == CSE_DUPE || n->op == CSE_ORIG || n->op == ILLOP)
    bad_opcode(n);
}

// ------------------------------------------------------------ type facts

TYPE *canon(TYPE *t) { return t ? t->normalized() : nullptr; }
bool same_type(TYPE *a, TYPE *b) { return a == b || (a && b && canon(a) == canon(b)); }
bool is_ptr(const TYPE *t) { return t && t->is_pointer(); }
bool is_flt(const TYPE *t) { return t && t->is_floating(); }
bool is_int(const TYPE *t) { return is_int_type(t); }
bool is_bool(const TYPE *t) {
  if (!t || !t->is_integral())
    return false;
  return t->getr()->subkind == IK_BOOL;
}
uint32_t width(const TYPE *t) { return int_width_of(t); }

// --------------------------------------------------------- node matchers

bool is_icon(const NODE *n) { return n && n->op == ICON; }
bool is_icon_of(const NODE *n, int64_t v) { return is_icon(n) && n->icon == IntConst::from_signed(v); }
bool is_zero(const NODE *n) { return is_icon(n) && n->icon.is_zero(); }
bool is_all_ones(const NODE *n, TYPE *t) { return is_icon(n) && n->icon == all_ones_of(t); }
const XFLOAT *fcon(const NODE *n) { return n && n->op == FCON ? n->fval() : nullptr; }
bool is_fcon(const NODE *n, double v) {
  const XFLOAT *f = fcon(n);
  return f && f->identical(XFLOAT::from_double(v));
}
bool is_truth(const NODE *n) { return n && op_is_truth(n->op); }
bool pure(const NODE *n) { return !has_side_effects(n); }

// --------------------------------------------------------- node surgery

NODE *take_left(NODE *n) { return std::exchange(n->left, nullptr); }
NODE *take_right(NODE *n) { return std::exchange(n->right, nullptr); }

// `keep` (an operand detached from n) replaces n, converted to n's type.
NODE *reduce_to(NODE *n, NODE *keep) {
  TYPE *t = n->type;
  erase_tree(n);
  return t ? convert_to_type(keep, t) : keep;
}
NODE *reduce_to_left(NODE *n) { return reduce_to(n, take_left(n)); }
NODE *reduce_to_right(NODE *n) { return reduce_to(n, take_right(n)); }

NODE *icon_of(TYPE *t, IntConst v) {
  NODE *k = new_node(ICON, t);
  k->icon = make_int_constant(v, t);
  return k;
}
NODE *icon_of(TYPE *t, int64_t v) { return icon_of(t, IntConst::from_signed(v)); }

// `result` in place of `dropped`: dropped is released when it has no side
// effects, else evaluated first, COMMAOP(dropped, result).
NODE *after_effects_of(NODE *dropped, NODE *result) {
  if (!dropped)
    return result;
  if (pure(dropped)) {
    erase_tree(dropped);
    return result;
  }
  return make_node(COMMAOP, dropped, result, result->type);
}

// n is replaced by the constant `v` of its type; its operands survive only
// through their side effects (left before right).
NODE *constant_keeping_effects(NODE *n, IntConst v) {
  NODE *l = take_left(n), *r = take_right(n);
  NODE *k = icon_of(n->type, v);
  erase_tree(n);
  return after_effects_of(l, after_effects_of(r, k));
}
NODE *constant_keeping_effects(NODE *n, int64_t v) {
  return constant_keeping_effects(n, IntConst::from_signed(v));
}

NODE *remake(uint32_t op, NODE *l, NODE *r, TYPE *t, Simp &s) {
  return simplify_node_in(make_node(op, l, r, t), SimpContext::value, s);
}

// The truth value (0 or 1 of type t) of y, or null when y's type has no
// comparison with zero here.
NODE *as_truth(NODE *y, TYPE *t, Simp &s) {
  if (is_truth(y)) {
    y->type = t;
    return y;
  }
  if (is_int(y->type))
    return remake(NEQ, y, icon_of(y->type, 0), t, s);
  if (is_flt(y->type)) {
    NODE *zero = new_node(FCON, y->type);
    zero->set_fval(XFLOAT::zero());
    return remake(FNEQN, y, zero, t, s);   // a NaN is true
  }
  return nullptr;
}

// ------------------------------------------------------ step 2: hoisting

bool hoist_exempt(uint32_t op) {
  switch (op) {
  case COLON: case ANDAND: case OROR: case RETURN: case SWITCH: case COMMA: case PCOMMA:
  case COMMAOP: case LOOP: case ENDLOOP: case ARGREF: case STARG: case ACONV: case CBRANCH:
  case SIMDHI: case SIMDLO: case IF: case SSA_DEF: case SSA_CHI:
    return true;
  default:
    // A statement that transfers control must stay a statement root.
    return op_effect(op) == EFF_CONTROL;
  }
}

bool assigns_constant(const NODE *n) {
  return n && n->op == ASG && n->right && (n->right->op == ICON || n->right->op == FCON);
}

// op(COMMAOP(a, b), c) -> COMMAOP(a, op(b, c)), likewise for the right
// operand; op(ASG(x, k), c) -> COMMAOP(ASG(x, k), op(k, c)).
NODE *hoist_operands(NODE *n, Simp &s) {
  if (hoist_exempt(n->op))
    return n;
  for (NODE **slot : {&n->left, &n->right}) {
    NODE *operand = *slot;
    if (!operand)
      continue;
    if (operand->op == COMMAOP) {
      *slot = take_right(operand);
      operand->right = simplify_node_in(n, SimpContext::value, s);
      operand->type = operand->right->type;
      return operand;
    }
    const bool right = slot == &n->right;
    if (assigns_constant(operand) && !(right && (n->op == ASG || n->op == INITLOOP))) {
      *slot = convert_to_type(copy_node(operand->right, false, true), operand->type);
      NODE *inner = simplify_node_in(n, SimpContext::value, s);
      return make_node(COMMAOP, operand, inner, inner->type);
    }
  }
  return n;
}

// -------------------------------------------------- step 5: rewrite rules

// (x op c1) op c2 -> x op (c1 op c2) for the associative integer operators,
// and (x - c1) + c2 -> x + (c2 - c1); all types equal, so the constant
// arithmetic wraps like the operations it replaces.
NODE *reassociate(NODE *n) {
  NODE *l = n->left, *k2 = n->right;
  if (!is_icon(k2) || !l || !l->right || !is_icon(l->right))
    return n;
  if (!same_type(l->type, n->type) || !same_type(l->right->type, k2->type))
    return n;
  IntConst c1 = l->right->icon, c2 = k2->icon, c;
  if (l->op == n->op) {
    switch (n->op) {
    case PLUS: c = ic_add(c1, c2); break;
    case MULT: c = ic_mul(c1, c2); break;
    case ANDB: c = IntConst::from_i128(c1.to_i128() & c2.to_i128()); break;
    case ORB: c = IntConst::from_i128(c1.to_i128() | c2.to_i128()); break;
    case XORB: c = IntConst::from_i128(c1.to_i128() ^ c2.to_i128()); break;
    default: return n;
    }
  } else if (n->op == PLUS && l->op == MINUS) {
    c = ic_sub(c2, c1);
  } else {
    return n;
  }
  k2->icon = make_int_constant(c, k2->type);
  n->left = take_left(l);
  erase_tree(l);
  return n;
}

// x + -y -> x - y and x - -y -> x + y: exact for every type (IEEE defines
// subtraction as the addition of the negated operand).
NODE *absorb_negation(NODE *n, uint32_t new_op, Simp &s) {
  NODE *neg = take_right(n);
  NODE *y = take_left(neg);
  erase_tree(neg);
  TYPE *t = n->type;
  NODE *x = take_left(n);
  erase_tree(n);
  return remake(new_op, x, y, t, s);
}

bool negated_operand(const NODE *n) {
  return n->right && n->right->op == UMINUS && n->right->left && same_type(n->right->type, n->type);
}

NODE *rule_plus(NODE *n, Simp &s) {
  TYPE *t = n->type;
  if (negated_operand(n))
    return absorb_negation(n, MINUS, s);
  if (is_int(t) || is_ptr(t)) {
    if (is_zero(n->right))
      return reduce_to_left(n);
    return reassociate(n);
  }
  if (is_flt(t) && is_fcon(n->right, -0.0))   // x + -0 is x, also for x = -0
    return reduce_to_left(n);
  return n;
}

NODE *rule_minus(NODE *n, Simp &s) {
  TYPE *t = n->type;
  if (negated_operand(n))
    return absorb_negation(n, PLUS, s);
  if (is_int(t) || is_ptr(t)) {
    if (is_zero(n->right))
      return reduce_to_left(n);
    if (trees_equal(n->left, n->right) && pure(n->left) && is_int(t))
      return constant_keeping_effects(n, 0);
    if (is_icon(n->right) && is_int(t) && same_type(n->right->type, t)) {
      // x - c -> x + (-c), so that constants reassociate.
      n->right->icon = make_int_constant(ic_neg(n->right->icon), t);
      n->op = PLUS;
      return n;
    }
    return n;
  }
  // x - +0 is x (-0 - +0 is -0); x - x is not 0 for NaNs and infinities.
  if (is_flt(t) && is_fcon(n->right, 0.0))
    return reduce_to_left(n);
  return n;
}

NODE *rule_mult(NODE *n, Simp &s) {
  TYPE *t = n->type;
  if (n->left->op == UMINUS && n->right->op == UMINUS && same_type(n->left->type, t) &&
      same_type(n->right->type, t)) {   // -a * -b -> a * b, exact
    NODE *a = take_left(n->left), *b = take_left(n->right);
    TYPE *type = n->type;
    erase_tree(n);
    return remake(MULT, a, b, type, s);
  }
  if (is_int(t)) {
    if (is_zero(n->right))
      return constant_keeping_effects(n, 0);
    if (is_icon_of(n->right, 1))
      return reduce_to_left(n);
    if (is_all_ones(n->right, t)) {   // x * -1 is -x modulo the width
      TYPE *type = n->type;
      NODE *x = take_left(n);
      erase_tree(n);
      return remake(UMINUS, x, nullptr, type, s);
    }
    return reassociate(n);
  }
  // Floats: x * 1 is x and x * -1 is -x exactly; x * 0 is not 0 (NaN,
  // infinity, sign of zero).
  if (is_flt(t) && (is_fcon(n->right, 1.0) || is_fcon(n->right, -1.0))) {
    bool negate = is_fcon(n->right, -1.0);
    TYPE *type = n->type;
    NODE *x = take_left(n);
    erase_tree(n);
    return negate ? remake(UMINUS, x, nullptr, type, s) : convert_to_type(x, type);
  }
  return n;
}

NODE *rule_div(NODE *n, Simp &s) {
  TYPE *t = n->type;
  bool by_one = is_int(t) ? is_icon_of(n->right, 1) : is_fcon(n->right, 1.0);
  bool by_minus_one = is_int(t) ? is_icon_of(n->right, -1) && int_type_is_signed(t)
                                : is_fcon(n->right, -1.0);
  if (!is_int(t) && !is_flt(t))
    return n;
  if (by_one)
    return reduce_to_left(n);
  if (by_minus_one) {   // the most negative value wraps to itself either way
    NODE *x = take_left(n);
    erase_tree(n);
    return remake(UMINUS, x, nullptr, t, s);
  }
  return n;
}

NODE *rule_mod(NODE *n) {
  TYPE *t = n->type;
  if (is_int(t) && (is_icon_of(n->right, 1) || (is_icon_of(n->right, -1) && int_type_is_signed(t))))
    return constant_keeping_effects(n, 0);
  return n;
}

// SLL and SRL.  x << 0 stays as written; a count at or beyond the width
// gives 0 (and the sign fill for a signed SRL, which stays).
NODE *rule_shift(NODE *n) {
  TYPE *t = n->type;
  if (!is_int(t))
    return n;
  if (n->op == SRL && is_zero(n->right))
    return reduce_to_left(n);
  if (is_zero(n->left))
    return constant_keeping_effects(n, 0);
  if (is_icon(n->right) && !n->right->icon.is_negative() &&
      compare_int_constants(n->right->icon, IntConst::from_signed(width(t))) >= 0 &&
      (n->op == SLL || !int_type_is_signed(t)))
    return constant_keeping_effects(n, 0);
  return n;
}

// ANDB, ORB, XORB.
NODE *rule_bitwise(NODE *n, Simp &s) {
  TYPE *t = n->type;
  if (!is_int(t))
    return n;
  const bool zero = is_zero(n->right), ones = is_all_ones(n->right, t);
  const bool same = trees_equal(n->left, n->right) && pure(n->left);
  switch (n->op) {
  case ANDB:
    if (zero)
      return constant_keeping_effects(n, 0);
    if (ones || same)
      return reduce_to_left(n);
    break;
  case ORB:
    if (ones)
      return constant_keeping_effects(n, all_ones_of(t));
    if (zero || same)
      return reduce_to_left(n);
    break;
  case XORB:
    if (zero)
      return reduce_to_left(n);
    if (same)
      return constant_keeping_effects(n, 0);
    if (ones) {
      NODE *x = take_left(n);
      erase_tree(n);
      return remake(NOTB, x, nullptr, t, s);
    }
    break;
  default:
    break;
  }
  return reassociate(n);
}

// UMINUS, ABS, NOTB, SQRT, SQR: -(-x) -> x, ~~x -> x, |(|x|)| -> |x|,
// |-x| -> |x| (exact for floats; wraps alike for integers).
NODE *rule_unary(NODE *n, Simp &s) {
  NODE *x = n->left;
  if (!x || !same_type(x->type, n->type))
    return n;
  if ((n->op == UMINUS || n->op == NOTB) && x->op == n->op && (is_int(n->type) || is_flt(n->type)))
    return reduce_to(n, take_left(x));
  if (n->op == ABS && x->op == ABS)
    return reduce_to_left(n);
  if (n->op == ABS && x->op == UMINUS) {
    NODE *inner = take_left(x);
    TYPE *t = n->type;
    erase_tree(n);
    return remake(ABS, inner, nullptr, t, s);
  }
  return n;
}

// !cmp -> the negated comparison (the float negations add or drop the
// unordered outcome, so they hold for NaNs); !!t -> t for a truth value.
NODE *rule_exclaim(NODE *n) {
  NODE *x = n->left;
  if (!x || !is_int(n->type))
    return n;
  if (is_truth(x) && negate_op(x->op) != ILLOP) {
    x->op = negate_op(x->op);
    x->type = n->type;
    n->left = nullptr;
    erase_tree(n);
    return x;
  }
  if (x->op == EXCLAIM && is_truth(x->left) && same_type(x->left->type, n->type)) {
    NODE *t = take_left(x);
    erase_tree(n);
    return t;
  }
  return n;
}

// The outcome of comparing a value with itself: equal, or unordered for a
// NaN.  Integer comparisons never see the unordered outcome.
std::optional<bool> self_comparison(uint32_t op) {
  uint32_t bits = is_float_compare(op) ? float_op_to_micro_ops(op) : 0;
  if (!is_float_compare(op)) {
    switch (op) {
    case EQ: case LE: case GE: case ULE: case UGE: return true;
    case NEQ: case LT: case GT: case ULT: case UGT: return false;
    default: return std::nullopt;
    }
  }
  uint32_t both = FO_EQUAL | FO_UNORDERED;
  if ((bits & both) == both)
    return true;
  if ((bits & both) == 0)
    return false;
  return std::nullopt;   // FEQ, FUNO and the like depend on NaN-ness
}

NODE *rule_compare(NODE *n) {
  TYPE *t = n->type;
  if (!is_int(t) || !n->left || !n->right)
    return n;
  if (trees_equal(n->left, n->right) && pure(n->left))
    if (std::optional<bool> v = self_comparison(n->op))
      return constant_keeping_effects(n, *v ? 1 : 0);
  if (is_zero(n->right)) {
    switch (n->op) {
    case ULT: return constant_keeping_effects(n, 0);   // nothing is below 0
    case UGE: return constant_keeping_effects(n, 1);
    case ULE: n->op = EQ; return n;
    case UGT: n->op = NEQ; return n;
    case NEQ:   // cmp != 0 -> cmp; a truth value is 0 or 1 in any integer type
      if (is_truth(n->left)) {
        NODE *c = take_left(n);
        c->type = t;
        erase_tree(n);
        return c;
      }
      break;
    case EQ:   // cmp == 0 -> !cmp
      if (is_truth(n->left) && negate_op(n->left->op) != ILLOP) {
        NODE *c = take_left(n);
        c->op = negate_op(c->op);
        c->type = t;
        erase_tree(n);
        return c;
      }
      break;
    default:
      break;
    }
  }
  return n;
}

// ANDAND and OROR with a constant operand.  A right operand not evaluated
// in C is dropped with its effects; an evaluated one keeps them.
NODE *rule_logical(NODE *n, Simp &s) {
  TYPE *t = n->type;
  if (!is_int(t))
    return n;
  const bool is_and = n->op == ANDAND;
  if (is_icon(n->left)) {
    const bool decides = n->left->icon.is_zero() == is_and;   // 0 && y, 1 || y
    if (decides) {
      NODE *k = icon_of(t, is_and ? 0 : 1);
      erase_tree(n);
      return k;
    }
    NODE *y = n->right;
    if (!is_truth(y) && !is_int(y->type) && !is_flt(y->type))
      return n;
    take_right(n);
    erase_tree(n);
    return as_truth(y, t, s);
  }
  if (is_icon(n->right)) {
    const bool decides = n->right->icon.is_zero() == is_and;   // x && 0, x || 1
    if (decides)
      return constant_keeping_effects(n, is_and ? 0 : 1);
    NODE *x = n->left;
    if (!is_truth(x) && !is_int(x->type) && !is_flt(x->type))
      return n;
    take_left(n);
    erase_tree(n);
    return as_truth(x, t, s);
  }
  return n;
}

// QUEST(c, COLON(a, b)).
NODE *rule_quest(NODE *n) {
  NODE *c = n->left, *colon = n->right;
  if (!c || !colon || colon->op != COLON || !colon->left || !colon->right)
    return n;
  if (is_icon(c)) {   // only the chosen branch is evaluated
    NODE *keep = c->icon.is_zero() ? take_right(colon) : take_left(colon);
    return reduce_to(n, keep);
  }
  if (c->op == EXCLAIM && c->left) {
    n->left = take_left(c);
    erase_tree(c);
    std::swap(colon->left, colon->right);
    return n;
  }
  if (trees_equal(colon->left, colon->right) && pure(colon->left)) {
    NODE *cond = take_left(n);
    NODE *a = take_left(colon);
    TYPE *t = n->type;
    erase_tree(n);
    return after_effects_of(cond, t ? convert_to_type(a, t) : a);
  }
  return n;
}

NODE *rule_commaop(NODE *n) {
  if (n->left && n->right && pure(n->left))
    return reduce_to_right(n);
  return n;
}

// The integer value of a constant converted to integer type t: bool tests
// for non-zero, other types cut and extend.
NODE *int_constant_conversion(NODE *n) {
  TYPE *t = n->type;
  NODE *x = n->left;
  if (is_icon(x)) {
    IntConst v = is_bool(t) ? IntConst::from_signed(x->icon.is_zero() ? 0 : 1) : x->icon;
    NODE *k = icon_of(t, v);
    erase_tree(n);
    return k;
  }
  const XFLOAT *f = fcon(x);
  if (!f || f->is_nan())
    return n;
  if (is_bool(t)) {
    NODE *k = icon_of(t, f->is_zero() ? 0 : 1);
    erase_tree(n);
    return k;
  }
  // Out of the type's range the conversion has no defined value: not folded.
  __int128 v;
  if (!xf_to_int(*f, v) || fit_int_to_type(v, t).to_i128() != v)
    return n;
  NODE *k = icon_of(t, IntConst::from_i128(v));
  erase_tree(n);
  return k;
}

NODE *float_constant_conversion(NODE *n) {
  TYPE *t = n->type;
  NODE *x = n->left;
  XPrecision p = xprec_for_size(t->getr()->size);
  XFLOAT v;
  if (is_icon(x)) {
    v = xf_from_int(x->icon.to_i128(), p);
  } else if (const XFLOAT *f = fcon(x)) {
    v = f->rounded(p);
    if (v.is_inf() && f->is_finite())
      return n;   // overflow: the target's conversion traps or saturates
  } else {
    return n;
  }
  NODE *k = new_node(FCON, t);
  k->set_fval(v);
  erase_tree(n);
  return k;
}

// Every value of integral type `from` is a value of `to`.
bool int_widening(TYPE *from, TYPE *to) {
  if (is_bool(from))
    return !is_bool(to);
  const bool fs = int_type_is_signed(from), ts = int_type_is_signed(to);
  const uint32_t fw = width(from), tw = width(to);
  return fs == ts ? tw >= fw : (!fs && ts && tw > fw);
}

// SCONV(t1, SCONV(t2, x)) -> SCONV(t1, x) when the inner conversion loses
// nothing the outer one keeps: integers that widen into t2, or t1 no wider
// than t2 (the outer conversion reads only bits the inner one kept);
// floating values that widen into t2.
bool inner_conversion_redundant(TYPE *t1, TYPE *t2, TYPE *t0) {
  if (is_int(t0) && is_int(t2) && is_int(t1) && !is_bool(t1) && !is_bool(t2))
    return int_widening(t0, t2) || width(t1) <= width(t2);
  if (is_int(t0) && is_int(t2) && is_bool(t1))
    return int_widening(t0, t2);
  if (is_flt(t0) && is_flt(t2) && is_flt(t1))
    return t2->getr()->size >= t0->getr()->size;
  return false;
}

NODE *rule_sconv(NODE *n) {
  NODE *x = n->left;
  TYPE *t = n->type;
  if (!x || !t)
    return n;
  if (same_type(x->type, t))
    return reduce_to_left(n);
  if (is_icon(x) || fcon(x)) {
    if (is_int(t))
      return int_constant_conversion(n);
    if (is_flt(t))
      return float_constant_conversion(n);
    return n;
  }
  if (x->op == SCONV && x->left && inner_conversion_redundant(t, x->type, x->left->type)) {
    n->left = take_left(x);
    erase_tree(x);
    return n;
  }
  return n;
}

// PCONV to the same type goes; pointer-to-pointer conversions of one size
// collapse (every pointer is a unit address).
NODE *rule_pconv(NODE *n) {
  NODE *x = n->left;
  if (!x || !n->type)
    return n;
  if (same_type(x->type, n->type))
    return reduce_to_left(n);
  if (x->op == PCONV && x->left && is_ptr(n->type) && is_ptr(x->type) && is_ptr(x->left->type) &&
      n->type->getr()->size == x->type->getr()->size &&
      x->type->getr()->size == x->left->type->getr()->size) {
    n->left = take_left(x);
    erase_tree(x);
    return n;
  }
  return n;
}

// *&x -> x and &*p -> p when the types agree.
NODE *rule_address(NODE *n) {
  NODE *x = n->left;
  const uint32_t inverse = n->op == UMULT ? UAND : UMULT;
  if (n->op != ARGREF && x && x->op == inverse && x->left && same_type(x->left->type, n->type)) {
    NODE *inner = take_left(x);
    erase_tree(n);
    return inner;
  }
  return n;
}

// x op= k where k is op's neutral element: the value is x and nothing is
// stored, when reading x has no effect.
NODE *rule_compound_asg(NODE *n) {
  const uint32_t base = asg_base_op(n->op);
  if (!is_int(n->type) || !n->left || !pure(n->left) || !same_type(n->left->type, n->type))
    return n;
  bool neutral = false;
  switch (base) {
  case PLUS: case MINUS: case ORB: case XORB: case SRL:
    neutral = is_zero(n->right);
    break;
  case MULT: case DIV:
    neutral = is_icon_of(n->right, 1);
    break;
  default:
    break;   // ANDB, MOD, and SLL which stays as written
  }
  return neutral ? reduce_to_left(n) : n;
}

NODE *rule_complex_part(NODE *n) {
  NODE *x = n->left;
  if ((n->op != REAL && n->op != IMAG) || !x || x->op != COMPLEX || !x->left || !x->right)
    return n;
  NODE *keep = n->op == REAL ? x->left : x->right;
  NODE *other = n->op == REAL ? x->right : x->left;
  if (!pure(other) || !same_type(keep->type, n->type))
    return n;
  (n->op == REAL ? x->left : x->right) = nullptr;
  erase_tree(n);
  return keep;
}

NODE *rule_expt(NODE *n) {
  if (!is_int(n->type))
    return n;
  if (is_icon_of(n->right, 1))
    return reduce_to_left(n);
  if (is_zero(n->right))
    return constant_keeping_effects(n, 1);   // x^0 is 1, also for 0
  return n;
}

bool is_parameter(const NODE *n) {
  SYMTAB *sym = match_name(n);
  if (!sym || !currfuninfo)
    return false;
  for (const SYMTAB *p : currfuninfo->params)
    if (p == sym)
      return true;
  return false;
}

// STASG of a tree to an equal tree is its right operand (not for the copy
// of a parameter, which the calling convention needs).
NODE *rule_stasg(NODE *n) {
  if (n->left && n->right && trees_equal(n->left, n->right) && pure(n->left) &&
      !is_parameter(n->left) && !is_parameter(n->right))
    return reduce_to_right(n);
  return n;
}

// PMCONV(x, k) -> x * (k / 16) and PVCONV(x, k) -> x / (k / 16): the scale
// is in bits, the address unit 16 bits.
NODE *rule_scale(NODE *n, Simp &s) {
  NODE *k = n->right;
  if (!is_icon(k) || k->icon.is_negative() || !k->icon.fits_int64() || k->icon.value < 16 ||
      k->icon.value % 16 != 0 || !is_int(k->type))
    return n;
  k->icon = make_int_constant(IntConst::from_signed(k->icon.value / 16), k->type);
  TYPE *t = n->type;
  uint32_t op = n->op == PMCONV ? MULT : DIV;
  NODE *x = take_left(n), *scale = take_right(n);
  erase_tree(n);
  if (op == DIV && x->type && is_ptr(x->type) && t && t->getr()->pkg) {
    // A pointer difference is a signed count of units at the pointer's
    // width: read it so before the division (an unsigned division of a
    // negative difference would be wrong).
    TYPE_PKG &pkg = *t->getr()->pkg;
    TYPE *diff = nullptr;
    for (IntKind k : {IK_SHORT, IK_INT, IK_LONG, IK_LLONG})
      if (!diff && pkg.mk_int(k)->size == x->type->getr()->size)
        diff = pkg.mk_int(k);
    if (!diff) {
      x = make_node(PVCONV, x, scale, t);
      return x;
    }
    x = make_node(SCONV, x, nullptr, diff);
    if (!same_type(diff, t))
      x = make_node(SCONV, x, nullptr, t);
    x = simplify_node_in(x, SimpContext::value, s);
    scale->type = t;
  }
  return remake(op, x, scale, t, s);
}

NODE *rule_branch(NODE *n) {
  TYPE *any = n->type ? n->type : n->left ? n->left->type : nullptr;
  TYPE_PKG *pkg = any ? any->getr()->pkg : nullptr;
  if (!pkg)
    return n;
  TYPE *v = pkg->mk_void();
  if (n->type != v)
    n->type = v;
  if (n->left && n->left->type != v)
    n->left->type = v;
  return n;
}

bool is_vector_node(const NODE *n) {
  switch (n->op) {
  case VPACK: case VPACKM: case VPACK1P: case VFIELD: case VRCONV: case VSCONV:
    return true;
  default:
    return n->type && n->type->is_vector();
  }
}

// Operators whose only work is their value and which cannot trap.
bool value_only(uint32_t op) {
  switch (op) {
  case PLUS: case MINUS: case MULT: case ANDB: case ORB: case XORB: case SLL: case SRL:
  case UMINUS: case NOTB: case ABS: case EXCLAIM: case SCONV: case PCONV:
  case EQ: case NEQ: case LE: case LT: case GE: case GT: case ULE: case ULT: case UGE: case UGT:
    return true;
  default:
    return false;   // DIV and MOD may trap; calls and the rest do more
  }
}

// A value nobody uses: what remains are its operands' side effects, in
// their order.  Only when an operand has some, so a statement never
// vanishes here.
NODE *drop_unused_value(NODE *n) {
  const bool left_effects = n->left && !pure(n->left);
  const bool right_effects = n->right && !pure(n->right);
  if (!value_only(n->op) || (!left_effects && !right_effects))
    return n;
  NODE *l = take_left(n), *r = take_right(n);
  erase_tree(n);
  if (!left_effects) {
    erase_tree(l);
    return r;
  }
  if (!right_effects) {
    erase_tree(r);
    return l;
  }
  return make_node(COMMAOP, l, r, r->type);
}

NODE *apply_rule(NODE *n, SimpContext ctx, Simp &s) {
  const uint32_t arity = op_arity(n->op);
  if ((arity >= 1 && arity <= 2 && !n->left) || (arity == 2 && !n->right))
    return n;   // malformed; the tree verifier reports it
  if (ctx == SimpContext::effect) {
    NODE *r = drop_unused_value(n);
    if (r != n)
      return r;
  }
  switch (n->op) {
  case PLUS: return rule_plus(n, s);
  case MINUS: return rule_minus(n, s);
  case MULT: return rule_mult(n, s);
  case DIV: return rule_div(n, s);
  case MOD: return rule_mod(n);
  case SLL: case SRL: return rule_shift(n);
  case ANDB: case ORB: case XORB: return rule_bitwise(n, s);
  case UMINUS: case ABS: case NOTB: case SQRT: case SQR: return rule_unary(n, s);
  case EXCLAIM: return rule_exclaim(n);
  case EQ: case NEQ: case LE: case LT: case GE: case GT:
  case ULE: case ULT: case UGE: case UGT:
  case FEQ: case FNEQ: case FLE: case FLT: case FGE: case FGT:
  case FEQN: case FNEQN: case FLEN: case FLTN: case FGEN: case FGTN: case FORD: case FUNO:
    return rule_compare(n);
  case ANDAND: case OROR: return rule_logical(n, s);
  case QUEST: return rule_quest(n);
  case COMMAOP: return rule_commaop(n);
  case SCONV: return rule_sconv(n);
  case PCONV: return rule_pconv(n);
  case UMULT: case UAND: case ARGREF: return rule_address(n);
  case PLUSASG: case MINUSASG: case MULTASG: case ANDBASG: case ORBASG: case XORBASG:
  case DIVASG: case MODASG: case SLLASG: case SRLASG:
    return rule_compound_asg(n);
  case COMPLEX: case REAL: case IMAG: return rule_complex_part(n);
  case EXPT: return rule_expt(n);
  case STASG: return rule_stasg(n);
  case PMCONV: case PVCONV: return rule_scale(n, s);
  case BRANCH: return rule_branch(n);
  // NAME, STDOT, STREF, SWITCH, ASG, the calls, ACONV, CBRANCH, ASSERT,
  // NASSERT, MEMCPY and IF have no rewrite of their own: their operands are
  // simplified, and constant branches belong to the flow-graph clean-up.
  default:
    return n;
  }
}

bool wants_fold(const NODE *n) {
  const NODE *l = n->left;
  if (!l)
    return false;
  return l->op == ICON || l->op == FCON ||
         (n->op == MULT && l->op == RECIP && l->left && l->left->op == FCON);
}

// What a step may change of the node it is given, to tell whether it did.
struct Shape {
  uint32_t op;
  NODE *left, *right;
  TYPE *type;
  bool operator==(const Shape &) const = default;
};
Shape shape(const NODE *n) { return {n->op, n->left, n->right, n->type}; }

NODE *simplify_node_in(NODE *n, SimpContext ctx, Simp &s) {
  for (int round = 0; n && round < kMaxRestarts; ++round) {
    check_opcode(n);
    n->type = canon(n->type);
    const Shape before = shape(n);
    NODE *r = hoist_operands(n, s);
    if (r == n && shape(n) == before) {
      if (is_vector_node(n))
        return n;   // the vector simplifier comes with the vectorizer
      if (wants_fold(n))
        r = fold_node(n);
      if (r == n && shape(n) == before)
        r = apply_rule(n, ctx, s);
    }
    if (r == n && shape(n) == before)
      return n;
    ++s.rewrites;
    n = r;
  }
  return n;
}

// Simplifies every node of the tree, operands before their node.
NODE *simplify_tree(NODE *root, SimpContext ctx, Simp &s) {
  struct Frame {
    NODE **slot;
    SimpContext ctx;
    bool expanded;
  };
  NODE *top = root;
  std::vector<Frame> stack{{&top, ctx, false}};
  while (!stack.empty()) {
    Frame f = stack.back();
    NODE *n = *f.slot;
    if (!n) {
      stack.pop_back();
      continue;
    }
    if (!f.expanded) {
      check_opcode(n);
      stack.back().expanded = true;
      if (n->right)
        stack.push_back({&n->right, SimpContext::value, false});
      if (n->left)
        stack.push_back(
            {&n->left, n->op == COMMAOP ? SimpContext::effect : SimpContext::value, false});
      continue;
    }
    stack.pop_back();
    *f.slot = simplify_node_in(n, f.ctx, s);
  }
  return top;
}

} // namespace

// ------------------------------------------------------------- interface

NODE *simplify(NODE *node, SimpContext context) {
  Simp s;
  return simplify_tree(node, context, s);
}

NODE *simplify_node(NODE *node, SimpContext context) {
  Simp s;
  return simplify_node_in(node, context, s);
}

NODE *convert_to_type(NODE *node, TYPE *type) {
  if (!node || !type || same_type(node->type, type))
    return node;
  Simp s;
  return simplify_node_in(make_node(is_ptr(type) ? PCONV : SCONV, node, nullptr, type),
                          SimpContext::value, s);
}

void for_each_statement_tree(FUNINFO &fi, const std::function<void(NODE *&)> &fn) {
  for_each_statement(fi, [&](NODE *&tree, const SrcPos &) {
    if (tree)
      fn(tree);
  });
}

bool simp_all_trees(FUNINFO &fi) {
  announce_pass("simp_all_trees");
  Simp s;
  size_t index = 0;
  for_each_statement_tree(fi, [&](NODE *&tree) {
    ++index;
    const uint32_t before = s.rewrites;
    std::string old_text = run.debug_flag ? tree_source(tree) : std::string();
    tree = simplify_tree(tree, SimpContext::effect, s);
    if (run.debug_flag && s.rewrites != before)
      debug_printf("\tstatement %zu: %s\n\t        now: %s\n", index, old_text.c_str(),
                   tree_source(tree).c_str());
  });
  return s.rewrites != 0;
}

} // namespace zor
