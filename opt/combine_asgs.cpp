// opt/combine_asgs.cpp - merging adjacent assignments to one location
// (OPT5/combine_asgs).
//
// Works statement by statement inside blocks; keeps the flow graph (no
// block loses its final branch).  A merge keeps every side effect: both
// right sides are free of them, the targets too, and the one right side
// that moves across the other's store cannot read the target.  Floating
// compound assignments never combine their constants (rounding), nor do
// bool targets (every store reduces to 0 or 1).
#include "opt/combine_asgs.h"

#include <cstdio>
#include <string>
#include <utility>

#include "cfg/flowgraph.h"
#include "driver/run.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_equal.h"
#include "ir/tree_print.h"
#include "ir/type.h"
#include "opt/fold.h"
#include "opt/live.h"
#include "opt/live_ops.h"
#include "opt/simplify.h"

namespace zor {

namespace {

constexpr const char kHeader[] =
    "\n\n\t\t\t---------- ENTERING 'combine_asgs_to_memory' -------\n";

TYPE *canon(TYPE *t) { return t ? t->normalized() : nullptr; }
bool same_type(TYPE *a, TYPE *b) { return a == b || (a && b && canon(a) == canon(b)); }

bool is_register_variable(const SYMTAB *s) {
  return s->sclass == SC_REGISTER || (s->flag_bits & (SF_REGISTER | SF_CREGISTER)) != 0;
}

bool plain_member(const NODE *field) {
  return field && field->op == FIELD && field->member && field->member->bitfield == 0;
}

// A location that the pair's stores cannot move: a variable, or memory
// whose address depends only on private locals and constants.
bool valid_target(const NODE *t, const LVA_CANDIDATES &c) {
  switch (t->op) {
  case NAME:
    return t->sym() && !is_register_variable(t->sym());
  case UMULT:
    return depends_only_on_candidates(t->left, c);
  case STREF:
    return plain_member(t->right) && depends_only_on_candidates(t->left, c);
  case STDOT:
    return plain_member(t->right) && t->left && valid_target(t->left, c);
  default:
    return false;
  }
}

// Whether evaluating `rhs` may read the location `target` designates.
bool may_read_target(const NODE *rhs, const NODE *target, const LVA_CANDIDATES &c) {
  const int k = c.number_of_name(target);
  if (k < 0)
    return !depends_only_on_candidates(rhs, c);
  bool found = false;
  for_each_candidate_name(rhs, c, [&](int j) { found |= j == k; });
  return found;
}

bool is_assignment(const NODE *t) { return t && (t->op == ASG || is_compound_asg(t->op)); }

// c1 op c2 for the compound assignments whose constants combine exactly.
bool combinable_constants(uint32_t op, TYPE *target) {
  if (!target || !(target->is_integral() || target->is_enum() || target->is_pointer()))
    return false;
  if (target->is_integral() && target->getr()->subkind == IK_BOOL)
    return false;
  if (target->is_pointer())
    return op == PLUSASG;
  return op == PLUSASG || op == MULTASG || op == ANDBASG || op == ORBASG || op == XORBASG;
}

IntConst combine_constants(uint32_t op, const IntConst &a, const IntConst &b) {
  switch (op) {
  case PLUSASG: return ic_add(a, b);
  case MULTASG: return ic_mul(a, b);
  case ANDBASG: return {a.value & b.value, a.ext & b.ext};
  case ORBASG: return {a.value | b.value, a.ext | b.ext};
  default: return {a.value ^ b.value, a.ext ^ b.ext};   // XORBASG
  }
}

enum class Merge { none, constants, into_asg, drop_first };

Merge merge_kind(const NODE *a, const NODE *b, const LVA_CANDIDATES &c) {
  if (!is_assignment(a) || !is_assignment(b) || !a->left || !a->right || !b->left || !b->right)
    return Merge::none;
  if (!trees_equal(a->left, b->left) || has_side_effects(a->left) || !valid_target(a->left, c))
    return Merge::none;
  if (has_side_effects(a->right) || has_side_effects(b->right))
    return Merge::none;
  TYPE *target = a->left->type;
  if (a->op == b->op && a->right->op == ICON && b->right->op == ICON &&
      a->right->type == b->right->type && same_type(a->type, b->type) &&
      same_type(a->type, target) && combinable_constants(a->op, target))
    return Merge::constants;
  if (a->op == ASG && is_compound_asg(b->op) && same_type(b->type, target) &&
      !may_read_target(b->right, b->left, c))
    return Merge::into_asg;
  if (b->op == ASG && a->op != DIVASG && a->op != MODASG && !has_effects_or_traps(a->right) &&
      !may_read_target(b->right, b->left, c))
    return Merge::drop_first;
  return Merge::none;
}

} // namespace

STLIST *combine_adjacent_asgs(BBLK *bb, STLIST *first, const LVA_CANDIDATES &cands) {
  if (!first || !first->rest)
    return nullptr;
  STLIST *second = first->rest;
  NODE *a = first->first;
  NODE *b = second->first;
  const Merge kind = merge_kind(a, b, cands);
  if (kind == Merge::none)
    return nullptr;
  if (run.debug_flag) {
    debug_printf("\n\tCombining the assignments %s\n", tree_source(a).c_str());
    debug_printf("\t......................and %s\n", tree_source(b).c_str());
  }
  STLIST *result = first;
  switch (kind) {
  case Merge::constants:
    a->right->icon = make_int_constant(combine_constants(a->op, a->right->icon, b->right->icon),
                                       a->right->type);
    delete_statement(bb, second);
    break;
  case Merge::into_asg: {
    TYPE *target = a->left->type;
    NODE *v1 = convert_to_type(std::exchange(a->right, nullptr), target);
    NODE *v2 = std::exchange(b->right, nullptr);
    NODE *op = make_node(asg_base_op(b->op), v1, v2, b->type);
    a->right = simplify(convert_to_type(op, target));
    delete_statement(bb, second);
    break;
  }
  case Merge::drop_first:
    delete_statement(bb, first);
    result = second;
    break;
  case Merge::none:
    break;
  }
  if (run.debug_flag)
    debug_printf("\t...................to get %s\n", tree_source(result->first).c_str());
  return result;
}

bool combine_asgs_to_memory() {
  FUNINFO &fi = *currfuninfo;
  debug_printf(kHeader);
  if (!fi.bb_list)
    return false;
  const LVA_CANDIDATES cands = choose_lva_candidates(fi, true);
  bool changed = false;
  FOR_EACH_BLOCK(bb, fi) {
    STLIST *s = bb->statements;
    while (s && s->rest) {
      if (STLIST *merged = combine_adjacent_asgs(bb, s, cands)) {
        s = merged;   // it may merge with the next one as well
        changed = true;
      } else {
        s = s->rest;
      }
    }
  }
  return changed;
}

} // namespace zor
