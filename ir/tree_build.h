// ir/tree_build.h - builders and matchers for expression trees.
//
// Passes build trees through one builder per shape and take them apart
// through matchers that yield the operands or nothing, so a rewrite reads as
// its rule:
//
//   if (auto ops = match_binary(n, PLUS))
//     if (auto k = match_icon(ops->right); k && *k == 0)
//       ...
//
// Builders take ownership of the operands they are given.
#pragma once

#include <cstdint>
#include <optional>

#include "ir/node.h"

namespace zor {

// ICON of `type` whose value is `value` fitted to the type's width.
NODE *mk_icon(int64_t value, TYPE *type);
// FCON of `type` holding `value` rounded to the type's precision.
NODE *mk_fcon(const XFLOAT &value, TYPE *type);
NODE *mk_fcon(double value, TYPE *type);
// NAME of `sym`, of the symbol's type unless another is given.
NODE *mk_name(SYMTAB *sym, TYPE *type = nullptr);
NODE *mk_unary(uint32_t op, NODE *operand, TYPE *type);
NODE *mk_binary(uint32_t op, NODE *left, NODE *right, TYPE *type);

struct BinaryOperands {
  NODE *left;
  NODE *right;
};

// The operands of `n` when it is a node of operator `op`.
inline std::optional<BinaryOperands> match_binary(NODE *n, uint32_t op) {
  if (!n || n->op != op)
    return std::nullopt;
  return BinaryOperands{n->left, n->right};
}
inline NODE *match_unary(NODE *n, uint32_t op) {
  return n && n->op == op ? n->left : nullptr;
}
// The value of an ICON that fits in 64 bits.
inline std::optional<int64_t> match_icon(const NODE *n) {
  if (!n || n->op != ICON || !n->icon.fits_int64())
    return std::nullopt;
  return n->icon.value;
}
inline bool is_icon_value(const NODE *n, int64_t v) {
  std::optional<int64_t> k = match_icon(n);
  return k && *k == v;
}
inline const XFLOAT *match_fcon(const NODE *n) {
  return n && n->op == FCON ? n->fval() : nullptr;
}
inline SYMTAB *match_name(const NODE *n) {
  return n && n->op == NAME ? n->sym() : nullptr;
}

} // namespace zor
