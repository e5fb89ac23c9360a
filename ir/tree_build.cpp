// ir/tree_build.cpp - builders for expression trees.
#include "ir/tree_build.h"

#include "ir/symtab.h"
#include "ir/type.h"

namespace zor {

NODE *mk_icon(int64_t value, TYPE *type) {
  NODE *n = new_node(ICON, type);
  n->icon = fit_int_to_type(value, type);
  return n;
}

NODE *mk_fcon(const XFLOAT &value, TYPE *type) {
  NODE *n = new_node(FCON, type);
  n->set_fval(value.rounded(xprec_for_size(type ? type->getr()->size : 64)));
  return n;
}

NODE *mk_fcon(double value, TYPE *type) { return mk_fcon(XFLOAT::from_double(value), type); }

NODE *mk_name(SYMTAB *sym, TYPE *type) {
  NODE *n = new_node(NAME, type ? type : sym ? sym->type() : nullptr);
  n->set_name_symbol(sym);
  return n;
}

NODE *mk_unary(uint32_t op, NODE *operand, TYPE *type) {
  return make_node(op, operand, nullptr, type);
}

NODE *mk_binary(uint32_t op, NODE *left, NODE *right, TYPE *type) {
  return make_node(op, left, right, type);
}

} // namespace zor
