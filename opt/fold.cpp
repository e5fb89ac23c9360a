// opt/fold.cpp - integer constants and constant folding (OPT5/fold).
//
// Integer constants are 96-bit two's-complement values computed in 128-bit
// arithmetic and cut back to 96 bits (which is the carry from the 64-bit
// field into the extension word), then fitted to the node's type, so
// results wrap at the type's width.  Floating constants are computed by the
// extended arithmetic of ir/xfloat.h and rounded once to the node's type.
// Needs nothing but the trees; the rewrites after a fold go back through the
// simplifier (opt/simplify.h).
#include "opt/fold.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "ir/node_info.h"
#include "ir/type.h"
#include "opt/simplify.h"

namespace zor {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

[[noreturn]] void not_an_int_type() {
  std::fputs("\nAssertion failed: TYPE_IS_INT(type), file OPT5/fold\n", stderr);
  ir_internal_error();
}

// Wrapping 128-bit arithmetic (the 96-bit cut comes after).
i128 wrap_add(i128 a, i128 b) { return static_cast<i128>(static_cast<u128>(a) + static_cast<u128>(b)); }
i128 wrap_sub(i128 a, i128 b) { return static_cast<i128>(static_cast<u128>(a) - static_cast<u128>(b)); }
i128 wrap_mul(i128 a, i128 b) { return static_cast<i128>(static_cast<u128>(a) * static_cast<u128>(b)); }

i128 fitted(i128 v, const TYPE *t) { return fit_int_to_type(v, t).to_i128(); }

bool same_type(TYPE *a, TYPE *b) { return a == b || (a && b && a->normalized() == b->normalized()); }

// The standard integral type of the same class and size as integral `t`.
TYPE *standard_int_type(TYPE *t) {
  TYPE *r = t->getr();
  if (r->kind == TK_ENUM && r->base)
    r = r->base->getr();
  TYPE_PKG *pkg = r->pkg;
  if (!pkg)
    return r;
  auto same_size = [&](IntKind k) {
    TYPE *s = pkg->mk_int(k);
    return s && s->size == r->size ? s : nullptr;
  };
  if (r->kind == TK_POINTER) {
    for (IntKind k : {IK_USHORT, IK_UINT, IK_ULLONG})
      if (TYPE *s = same_size(k))
        return s;
    return r;
  }
  TYPE *s = nullptr;
  switch (r->subkind) {
  case IK_BOOL:
  case IK_WCHAR:
  case IK_UCHAR: s = same_size(IK_USHORT); break;
  case IK_CHAR: s = same_size(IK_SHORT); break;
  default: break;   // already a standard type of its class
  }
  return s ? s : r;
}

// --------------------------------------------------------------- fold_int

// a to the power b on 96-bit values.
std::optional<i128> power(i128 a, i128 b) {
  if (b < 0)
    return a == 1 ? std::optional<i128>(1) : std::nullopt;
  if (b == 1)
    return a;
  if (a == 0)
    return b != 0 ? 0 : 1;
  if (a == 1 || b == 0)
    return 1;
  i128 result = 1;
  while (b >= 2) {
    if (b & 1)
      result = wrap_mul(result, a);
    a = wrap_mul(a, a);
    b >>= 1;
  }
  return wrap_mul(result, a);
}

// The value of `op` on constant operands, before it is fitted to `type`;
// nothing when the operator does not fold or the fold is unsafe.
std::optional<i128> int_value(uint32_t op, const NODE *l, const NODE *r, TYPE *type) {
  const i128 a = l->icon.to_i128();
  const i128 b = r ? r->icon.to_i128() : 0;
  const bool is_signed = int_type_is_signed(type);
  const uint32_t width = int_width_of(type);
  auto unsigned_of = [](const NODE *k) {
    return fit_int(k->icon.to_i128(), int_width_of(k->type), false).to_i128();
  };
  switch (op) {
  case PLUS: return wrap_add(a, b);
  case MINUS: return wrap_sub(a, b);
  case MULT: return wrap_mul(a, b);
  case ANDB: return a & b;
  case ORB: return a | b;
  case XORB: return a ^ b;
  case NOTB: return ~a;
  case SLL:
    if (b < 0)
      return std::nullopt;
    return b >= 128 ? 0 : static_cast<i128>(static_cast<u128>(a) << static_cast<int>(b));
  case SRL: {
    if (b < 0)
      return std::nullopt;
    if (!is_signed) {
      u128 v = static_cast<u128>(fit_int(a, width, false).to_i128());
      return b >= 128 ? 0 : static_cast<i128>(v >> static_cast<int>(b));
    }
    i128 v = fitted(a, type);
    return b >= 127 ? (v < 0 ? -1 : 0) : v >> static_cast<int>(b);
  }
  case DIV:
  case MOD: {
    i128 x = fitted(a, type), y = fitted(b, type);
    if (y == 0)
      return std::nullopt;
    return op == DIV ? x / y : x % y;
  }
  case UMINUS:
  case ABS: {
    i128 x = fitted(a, type);
    if (is_signed && is_most_negative(IntConst::from_i128(x), type))
      return std::nullopt;
    return op == UMINUS || x < 0 ? wrap_sub(0, x) : x;
  }
  case ANDAND: return (a != 0 && b != 0) ? 1 : 0;
  case OROR: return (a != 0 || b != 0) ? 1 : 0;
  case EXCLAIM: return a == 0 ? 1 : 0;
  case EQ: return a == b ? 1 : 0;
  case NEQ: return a != b ? 1 : 0;
  case LE: return a <= b ? 1 : 0;
  case LT: return a < b ? 1 : 0;
  case GE: return a >= b ? 1 : 0;
  case GT: return a > b ? 1 : 0;
  case ULE: return unsigned_of(l) <= unsigned_of(r) ? 1 : 0;
  case ULT: return unsigned_of(l) < unsigned_of(r) ? 1 : 0;
  case UGE: return unsigned_of(l) >= unsigned_of(r) ? 1 : 0;
  case UGT: return unsigned_of(l) > unsigned_of(r) ? 1 : 0;
  case EXPT: return power(a, b);
  default: return std::nullopt;   // every other operator stays as it is
  }
}

// The node's left constant, given the value and the node's type, replaces
// the node.
NODE *replace_by_left(NODE *n) {
  NODE *k = n->left;
  n->left = nullptr;
  k->type = n->type;
  erase_tree(n);
  return k;
}

void swap_operands(NODE *n) {
  std::swap(n->left, n->right);
  n->op = commute_op(n->op);
}

// -------------------------------------------------------------- fold_float

// The operators whose operands fold_float may turn into floating constants.
bool float_arith(uint32_t op) {
  switch (op) {
  case PLUS: case MINUS: case MULT: case DIV: case UMINUS: case ABS:
  case SQRT: case SQR: case RECIP: case SCONV:
    return true;
  default:
    return is_float_compare(op);
  }
}

XPrecision precision_of(const TYPE *t) { return xprec_for_size(t->getr()->size); }

// An integer constant operand becomes a constant of floating type `ft`; a
// floating one of another type is rounded to `ft` unless that overflows.
void give_float_type(NODE *&operand, TYPE *ft) {
  if (!operand)
    return;
  if (operand->op == ICON) {
    NODE *f = new_node(FCON, ft);
    f->set_fval(xf_from_int(operand->icon.to_i128(), precision_of(ft)));
    erase_tree(operand);
    operand = f;
  } else if (operand->op == FCON && operand->fval() && !same_type(operand->type, ft)) {
    XFLOAT v = operand->fval()->rounded(precision_of(ft));
    if (v.is_inf() && operand->fval()->is_finite())
      return;
    operand->set_fval(v);
    operand->type = ft;
  }
}

// The result of a floating operation on constants, or nothing when the
// operator does not fold or the library reports an error.
std::optional<XFLOAT> float_value(uint32_t op, const XFLOAT &a, const XFLOAT *b, XPrecision p) {
  uint32_t flags = 0;
  XFLOAT r;
  switch (op) {
  case UMINUS:
  case ABS:
    if (a.is_nan())
      return std::nullopt;
    r = op == UMINUS ? a.negated() : a.abs();
    break;
  case SQRT: r = xf_sqrt(a, p, flags); break;
  case SQR: r = xf_mul(a, a, p, flags); break;
  case RECIP: {
    const XFLOAT one = XFLOAT::round(false, 1, 0, p);
    r = xf_div(one, a, p, flags);
    // Only an exact reciprocal: 1/(1/c) must give c back.
    if (!flags && !xf_div(one, r, p, flags).identical(a))
      return std::nullopt;
    break;
  }
  case PLUS:
  case MINUS:
  case MULT:
  case DIV:
    if (!b)
      return std::nullopt;
    r = op == PLUS ? xf_add(a, *b, p, flags)
        : op == MINUS ? xf_sub(a, *b, p, flags)
        : op == MULT ? xf_mul(a, *b, p, flags)
                     : xf_div(a, *b, p, flags);
    break;
  default:
    return std::nullopt;   // every other operator stays as it is
  }
  if (flags)
    return std::nullopt;
  return r;
}

bool is_recip_of_fcon(const NODE *n) {
  return n && n->op == RECIP && n->left && n->left->op == FCON;
}

// Folds the operands whose left operand is a constant, bottom-up, without
// recursion.
NODE *fold_subtree(NODE *root);

bool foldable(const NODE *n) {
  return n && n->left &&
         (n->left->op == ICON || n->left->op == FCON || (n->op == MULT && is_recip_of_fcon(n->left)));
}

// fold_int or fold_float, as the node and its left operand ask.
NODE *fold_here(NODE *n) {
  const bool left_fcon = n->left && n->left->op == FCON;
  const bool floating = n->type && n->type->is_floating();
  if (left_fcon || floating || is_float_compare(n->op))
    return fold_float(n);
  if (n->left && n->left->op == ICON)
    return fold_int(n);
  return n;
}

NODE *fold_subtree(NODE *root) {
  struct Frame {
    NODE **slot;
    bool expanded;
  };
  NODE *top = root;
  std::vector<Frame> stack{{&top, false}};
  while (!stack.empty()) {
    Frame f = stack.back();
    NODE *n = *f.slot;
    if (!n || n->op == CSE_DUPE) {
      stack.pop_back();
      continue;
    }
    if (!f.expanded) {
      stack.back().expanded = true;
      if (n->right)
        stack.push_back({&n->right, false});
      if (n->left)
        stack.push_back({&n->left, false});
      continue;
    }
    stack.pop_back();
    if (foldable(n))
      *f.slot = fold_here(n);
  }
  return top;
}

bool is_icon_zero(const NODE *n) { return n && n->op == ICON && n->icon.is_zero(); }
bool is_icon_one(const NODE *n) { return n && n->op == ICON && n->icon == IntConst::from_signed(1); }

} // namespace

// --------------------------------------------------------- 96-bit values

bool is_int_type(const TYPE *t) { return t && (t->is_integral() || t->is_enum()); }

IntConst make_int_constant(IntConst value, TYPE *type) {
  if (!type || !(is_int_type(type) || type->is_pointer()))
    not_an_int_type();
  return fit_int_to_type(value.to_i128(), type);
}

IntConst make_promoted_constant(IntConst value, TYPE *type) {
  if (!type || !(is_int_type(type) || type->is_pointer()))
    not_an_int_type();
  return make_int_constant(value, standard_int_type(type));
}

int compare_int_constants(const IntConst &a, const IntConst &b) {
  if (a.ext != b.ext)
    return a.ext < b.ext ? -1 : 1;
  uint64_t x = static_cast<uint64_t>(a.value), y = static_cast<uint64_t>(b.value);
  return x == y ? 0 : x < y ? -1 : 1;
}

IntConst ic_add(const IntConst &a, const IntConst &b) {
  return IntConst::from_i128(wrap_add(a.to_i128(), b.to_i128()));
}
IntConst ic_sub(const IntConst &a, const IntConst &b) {
  return IntConst::from_i128(wrap_sub(a.to_i128(), b.to_i128()));
}
IntConst ic_neg(const IntConst &a) { return IntConst::from_i128(wrap_sub(0, a.to_i128())); }
IntConst ic_mul(const IntConst &a, const IntConst &b) {
  return IntConst::from_i128(wrap_mul(a.to_i128(), b.to_i128()));
}

IntConst all_ones_of(TYPE *t) { return make_int_constant(IntConst{-1, -1}, t); }

bool is_most_negative(const IntConst &v, TYPE *t) {
  if (!int_type_is_signed(t))
    return false;
  uint32_t w = int_width_of(t);
  if (w == 0 || w > 96)
    w = 96;
  return v == fit_int(static_cast<i128>(u128(1) << (w - 1)), w, true);
}

// ---------------------------------------------------------------- folding

NODE *fold_int(NODE *n) {
  if (n->right && n->right->op != ICON) {
    // A constant goes to the right where the operator has a swap.
    if (n->left && n->left->op == ICON && commute_op(n->op) != ILLOP)
      swap_operands(n);
    return n;
  }
  if (!n->left || n->left->op != ICON || !is_int_type(n->type))
    return n;
  std::optional<i128> v = int_value(n->op, n->left, n->right, n->type);
  if (!v)
    return n;
  IntConst result = make_int_constant(IntConst::from_i128(*v), n->type);
  NODE *k = replace_by_left(n);
  k->icon = result;
  return k;
}

NODE *fold_float(NODE *n) {
  TYPE *ft = n->type && n->type->is_floating() ? n->type
             : n->left && n->left->op == FCON   ? n->left->type
             : n->right && n->right->op == FCON ? n->right->type
                                                : nullptr;
  if (!ft || !ft->is_floating())
    return n;
  if (float_arith(n->op)) {
    give_float_type(n->left, ft);
    if (!is_float_compare(n->op))
      give_float_type(n->right, ft);
    else if (n->right && n->right->op == ICON)
      give_float_type(n->right, n->left && n->left->op == FCON ? n->left->type : ft);
  }
  const bool left_fcon = n->left && n->left->op == FCON && n->left->fval();
  const bool right_fcon = n->right && n->right->op == FCON && n->right->fval();
  // A constant left operand of a non-constant goes to the right, as for
  // integers, so that every rule finds constants on the right.
  if (left_fcon && n->right && !right_fcon) {
    if (n->right->op != ICON && commute_op(n->op) != ILLOP)
      swap_operands(n);
    return n;
  }
  if (n->op == MULT && is_recip_of_fcon(n->left) && same_type(n->left->left->type, n->type)) {
    // RECIP(c) * x is the division x / c it was made from.
    NODE *recip = n->left;
    n->left = n->right;
    n->right = recip->left;
    recip->left = nullptr;
    erase_tree(recip);
    n->op = DIV;
    return fold_float(n);
  }
  if (!left_fcon)
    return n;
  const XFLOAT &a = *n->left->fval();
  if (is_float_compare(n->op)) {
    if (!right_fcon || !is_int_type(n->type))
      return n;
    bool truth = (float_op_to_micro_ops(n->op) & xf_compare(a, *n->right->fval())) != 0;
    NODE *k = new_node(ICON, n->type);
    k->icon = make_int_constant(IntConst::from_signed(truth ? 1 : 0), n->type);
    erase_tree(n);
    return k;
  }
  if (!n->type || !n->type->is_floating() || !same_type(n->left->type, n->type))
    return n;
  if (n->right && !(right_fcon && same_type(n->right->type, n->type)))
    return n;
  std::optional<XFLOAT> r =
      float_value(n->op, a, n->right ? n->right->fval() : nullptr, precision_of(n->type));
  if (!r)
    return n;
  NODE *k = replace_by_left(n);
  k->set_fval(*r);
  return k;
}

NODE *fold_constants(NODE *n) {
  if (!n)
    return n;
  n->left = fold_subtree(n->left);
  n->right = fold_subtree(n->right);
  return fold_node(n);
}

NODE *fold_node(NODE *n) {
  if (!n)
    return n;
  n = fold_here(n);
  if (!n->left || !n->right || n->right->op != ICON)
    return n;
  const NODE *k = n->right;
  const bool int_like = n->type && (is_int_type(n->type) || n->type->is_pointer());
  if (!int_like)
    return n;
  switch (n->op) {
  case PLUS: case MINUS: case ORB: case XORB: case SRL:
  case MULT: case DIV: {
    bool neutral = (n->op == MULT || n->op == DIV) ? is_icon_one(k) : is_icon_zero(k);
    if (!neutral)
      break;
    TYPE *t = n->type;
    NODE *x = n->left;
    n->left = nullptr;
    erase_tree(n);
    return convert_to_type(x, t);
  }
  default:
    break;   // the reassociations below, or nothing
  }
  if (op_arity(n->op) == 2 && n->left->op == n->op && n->left->right &&
      n->left->right->op == ICON)
    return simplify_node(n);
  if (n->op == PLUS && n->type->is_pointer() && n->left->op == PLUS && is_int_type(n->left->type) &&
      n->left->right && n->left->right->op == ICON)
    return simplify_node(n);
  return n;
}

} // namespace zor
