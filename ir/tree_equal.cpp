// ir/tree_equal.cpp - structural comparison of expression trees.
#include "ir/tree_equal.h"

#include <cstring>
#include <utility>
#include <vector>

#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/type.h"

namespace zor {

namespace {

bool leaves_equal(const NODE *a, const NODE *b) {
  if (a->op != b->op || a->type != b->type)
    return false;
  if (a->icon.value != b->icon.value || a->icon.ext != b->icon.ext)
    return false;
  if (a->member != b->member || a->call != b->call || a->label != b->label)
    return false;
  if (a->sym() != b->sym() || a->struct_type() != b->struct_type())
    return false;
  const XFLOAT *fa = a->fval();
  const XFLOAT *fb = b->fval();
  if ((fa == nullptr) != (fb == nullptr))
    return false;
  if (fa && (fa->neg != fb->neg || fa->exp != fb->exp || fa->mant != fb->mant))
    return false;
  const char *ca = a->callee();
  const char *cb = b->callee();
  if ((ca == nullptr) != (cb == nullptr) || (ca && std::strcmp(ca, cb) != 0))
    return false;
  if (a->op == SCON || a->op == ASM) {
    if (a->text_length() != b->text_length())
      return false;
    if (a->text_length() && std::memcmp(a->text(), b->text(), a->text_length()) != 0)
      return false;
  }
  if ((a->left == nullptr) != (b->left == nullptr) || (a->right == nullptr) != (b->right == nullptr))
    return false;
  return true;
}

} // namespace

bool trees_equal(const NODE *a, const NODE *b) {
  std::vector<std::pair<const NODE *, const NODE *>> stack{{a, b}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x == y)
      continue;
    if (!x || !y || !leaves_equal(x, y))
      return false;
    if (x->op == CSE_DUPE || x->op == PPRAGMA)
      return false;   // shared operands and pragma records are never merged
    stack.emplace_back(x->left, y->left);
    stack.emplace_back(x->right, y->right);
  }
  return true;
}

bool has_side_effects(const NODE *n) {
  std::vector<const NODE *> stack;
  if (n)
    stack.push_back(n);
  while (!stack.empty()) {
    const NODE *x = stack.back();
    stack.pop_back();
    if (op_has_effect(x->op))
      return true;
    if (x->type && x->type->is_volatile())
      return true;
    if (x->op == CSE_DUPE)
      continue;
    if (x->left)
      stack.push_back(x->left);
    if (x->right)
      stack.push_back(x->right);
  }
  return false;
}

} // namespace zor
