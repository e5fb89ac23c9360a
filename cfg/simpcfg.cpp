// cfg/simpcfg.cpp - the control-flow clean-up.
//
// Up to 20 rounds while something changes.  Once loops exist (quest_is_ok)
// a round starts with cross-jumping and the removal of IF tests decided by
// an identical test just before.  Then each block along the dfn chain:
//   - at level 2 and above, a block with two predecessors that both end in
//     IF may fold a chain of two tests into one (a || b, a && b);
//   - a block (not the entry) without predecessors goes;
//   - then, up to 20 times while something changes: a conditional branch
//     (IF, SWITCH) is simplified; a block with one successor has an IF with
//     equal targets turned into a BRANCH, a BRANCH to a block that only
//     branches retargeted, its only-entered-from-here successor merged into
//     it, or a small successor in the same loop copied into it.
// Blocks left without predecessors go, the dfn chain keeps the blocks that
// still hold statements, and renumber_cfg runs when anything changed.
//
// Every rule keeps the meaning of the program: conditions are evaluated
// exactly as often as before (a dropped test keeps its side effects as a
// statement), and no rule touches a block that takes part in a counted
// loop (LOOP/ENDLOOP), whose labels the code generator pairs.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "cfg/flowgraph.h"
#include "cfg/loops.h"
#include "driver/options.h"
#include "driver/run.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/symtab.h"
#include "ir/tree_equal.h"
#include "ir/tree_print.h"
#include "ir/tree_walk.h"
#include "ir/type.h"

namespace zor {

namespace {

constexpr int kRounds = 20;
constexpr int kRulesPerBlock = 20;
// A successor of at most this many statements may be copied.
constexpr size_t kCopyLimit = 2;

bool trace_on() { return run.debug_flag != 0; }

bool mentions_counted_loop(const BBLK *bb) {
  bool found = false;
  for (const STLIST *s = bb->statements; s && !found; s = s->rest)
    walk_tree(s->first, [&](const NODE *n) { found |= n->op == LOOP || n->op == ENDLOOP; });
  return found;
}

// The targets of an IF statement.
BBLK *if_target(const NODE *t, int which) {
  const NODE *targets = t->right;
  return label_target(which == 1 ? targets->left : targets->right);
}

// Replaces the last statement of `bb` by `replacement` (erasing the old
// tree, whose parts the caller may have detached) and recomputes its
// successors.
void replace_last(BBLK *bb, NODE *replacement) {
  STLIST *last = last_statement(bb);
  erase_tree(last->first);
  last->first = replacement;
  compute_successors(bb);
}

// The statement that keeps a dropped expression's side effects, or null.
void keep_effects(BBLK *bb, NODE *expr) {
  if (!expr)
    return;
  if (!has_side_effects(expr)) {
    erase_tree(expr);
    return;
  }
  STLIST *last = last_statement(bb);
  STLIST *before = nullptr;
  for (STLIST *s = bb->statements; s && s != last; s = s->rest)
    before = s;
  insert_statement_after(bb, before, expr, last ? last->pos : SrcPos{});
}

// A block that holds nothing but a BRANCH elsewhere: its target.
BBLK *forwarding_target(BBLK *bb) {
  if (!bb->statements || bb->statements->rest)
    return nullptr;
  const NODE *t = bb->statements->first;
  if (t->op != BRANCH)
    return nullptr;
  BBLK *target = label_target(t->left);
  return target != bb ? target : nullptr;
}

// An integer constant condition, possibly behind COMMAOP(effects, k).
const NODE *constant_condition(const NODE *cond, NODE **effects) {
  *effects = nullptr;
  if (cond->op == COMMAOP && cond->right && cond->right->op == ICON) {
    *effects = cond->left;
    return cond->right;
  }
  return cond->op == ICON ? cond : nullptr;
}

bool icon_is_zero(const NODE *k) { return k->icon.value == 0 && k->icon.ext == 0; }

// ---------------------------------------------------- conditional branches

bool simplify_if(BBLK *bb, NODE *t) {
  FUNINFO &fi = *bb->owner;
  NODE *cond = t->left;
  if (cond->op == ENDLOOP)
    return false;
  NODE *effects = nullptr;
  if (const NODE *k = constant_condition(cond, &effects)) {
    BBLK *target = if_target(t, icon_is_zero(k) ? 2 : 1);
    if (cond->op == COMMAOP)
      cond->left = nullptr;
    if (trace_on())
      debug_printf("\n\tIF in bb %d has a constant condition\n", static_cast<int>(bb->dfn));
    replace_last(bb, make_branch(target));
    keep_effects(bb, effects);
    return true;
  }
  // IF(!c, T1, T2) is IF(c, T2, T1).
  if (cond->op == EXCLAIM && cond->left) {
    NODE *inner = cond->left;
    cond->left = nullptr;
    erase_tree(cond);
    t->left = inner;
    std::swap(t->right->left, t->right->right);
    compute_successors(bb);
    return true;
  }
  // A target that only branches on is skipped.
  for (int which = 1; which <= 2; ++which) {
    BBLK *target = if_target(t, which);
    BBLK *final_target = target ? forwarding_target(target) : nullptr;
    if (!final_target || mentions_counted_loop(target))
      continue;
    NODE *leaf = which == 1 ? t->right->left : t->right->right;
    NODE *fresh = make_label_leaf(block_label(final_target));
    if (which == 1)
      t->right->left = fresh;
    else
      t->right->right = fresh;
    erase_tree(leaf);
    compute_successors(bb);
    (void)fi;
    return true;
  }
  return false;
}

void collect_cases(NODE *list, std::vector<NODE *> &out) {
  if (list && list->op == COMMA) {
    collect_cases(list->left, out);
    collect_cases(list->right, out);
    return;
  }
  if (list)
    out.push_back(list);
}

bool simplify_switch(BBLK *bb, NODE *t) {
  std::vector<NODE *> items;
  collect_cases(t->right, items);
  NODE *dflt = nullptr;
  for (NODE *item : items)
    if (item->op == DEFAULT)
      dflt = item;
  if (!dflt)
    return false;
  BBLK *default_bb = label_target(dflt->left);

  // A constant value picks its case.
  NODE *effects = nullptr;
  if (const NODE *k = constant_condition(t->left, &effects)) {
    BBLK *target = default_bb;
    for (NODE *item : items)
      if (item->op == CASE && item->left && item->left->op == ICON &&
          item->left->icon.value == k->icon.value && item->left->icon.ext == k->icon.ext)
        target = label_target(item->right);
    if (!target)
      return false;
    if (t->left->op == COMMAOP)
      t->left->left = nullptr;
    replace_last(bb, make_branch(target));
    keep_effects(bb, effects);
    return true;
  }
  // Every case goes where the default goes.
  bool all_default = default_bb != nullptr;
  for (NODE *item : items)
    if (item->op == CASE && label_target(item->right) != default_bb)
      all_default = false;
  if (all_default) {
    NODE *value = t->left;
    t->left = nullptr;
    replace_last(bb, make_branch(default_bb));
    keep_effects(bb, value);
    return true;
  }
  // Case targets that only branch on are skipped.
  bool changed = false;
  for (NODE *item : items) {
    NODE *&leaf = item->op == CASE ? item->right : item->left;
    BBLK *target = label_target(leaf);
    BBLK *final_target = target ? forwarding_target(target) : nullptr;
    if (!final_target || mentions_counted_loop(target))
      continue;
    NODE *old = leaf;
    leaf = make_label_leaf(block_label(final_target));
    erase_tree(old);
    changed = true;
  }
  if (changed)
    compute_successors(bb);
  return changed;
}

bool simplify_conditional(BBLK *bb) {
  NODE *t = last_tree(bb);
  if (!t)
    return false;
  if (t->op == IF)
    return simplify_if(bb, t);
  if (t->op == SWITCH)
    return simplify_switch(bb, t);
  return false;
}

// ------------------------------------------------------- one-successor rules

// IF(c, T, T) is c's side effects and BRANCH(T).
bool if_with_equal_targets(BBLK *bb) {
  NODE *t = last_tree(bb);
  if (!t || t->op != IF || t->left->op == ENDLOOP)
    return false;
  BBLK *target = if_target(t, 1);
  if (!target || target != if_target(t, 2))
    return false;
  NODE *cond = t->left;
  t->left = nullptr;
  replace_last(bb, make_branch(target));
  keep_effects(bb, cond);
  return true;
}

bool chain_branch(BBLK *bb) {
  NODE *t = last_tree(bb);
  if (!t || t->op != BRANCH || mentions_counted_loop(bb))
    return false;
  BBLK *succ = label_target(t->left);
  BBLK *final_target = succ ? forwarding_target(succ) : nullptr;
  if (!final_target || final_target == succ || succ == bb)
    return false;
  replace_last(bb, make_branch(final_target));
  return true;
}

bool merge_successor(BBLK *bb) {
  FUNINFO &fi = *bb->owner;
  NODE *t = last_tree(bb);
  if (!t || t->op != BRANCH)
    return false;
  BBLK *succ = label_target(t->left);
  if (!succ || succ == bb || succ == fi.bb_list || edge_count(succ->predecessors) != 1 ||
      succ->predecessors->bb != bb)
    return false;
  if (mentions_counted_loop(succ) || mentions_counted_loop(bb))
    return false;
  // Drop the BRANCH, append the successor's statements, take over its
  // successors.
  delete_statement(bb, last_statement(bb));
  STLIST *last = last_statement(bb);
  if (last)
    last->rest = succ->statements;
  else
    bb->statements = succ->statements;
  succ->statements = nullptr;
  compute_successors(bb);
  if (fi.exit_bb == succ)
    fi.exit_bb = bb;
  update_positions(bb);
  destroy_block(succ);
  return true;
}

bool copy_small_successor(BBLK *bb) {
  NODE *t = last_tree(bb);
  if (!t || t->op != BRANCH || !bb->loop)
    return false;
  BBLK *succ = label_target(t->left);
  if (!succ || succ == bb || succ->loop != bb->loop || succ == bb->loop->header)
    return false;
  if (statement_count(succ) > kCopyLimit || edge_count(succ->predecessors) < 2)
    return false;
  NODE *end = last_tree(succ);
  if (!end || end->op == SWITCH || mentions_counted_loop(succ))
    return false;
  delete_statement(bb, last_statement(bb));
  for (STLIST *s = succ->statements; s; s = s->rest) {
    NODE *copy = copy_node(s->first, false, true);
    // The copies' labels count as references of their own.
    walk_tree(copy, [](NODE *n) {
      if (n->op == LABEL && n->label && n->label->refcount < 0xffff)
        ++n->label->refcount;
    });
    append_statement(bb, copy, s->pos);
  }
  compute_successors(bb);
  update_positions(bb);
  return true;
}

// -------------------------------------------- two IFs into one (level >= 2)

// B has exactly two predecessors, both ending in IF.  When one of them, P2,
// holds nothing but its IF and is entered only from the other, P1, and
// both send one arm to B, the two tests become one:
//   P1: IF(a, B, P2)   P2: IF(b, B, C)   ->   P1: IF(a || b, B, C)
//   P1: IF(a, P2, B)   P2: IF(b, C, B)   ->   P1: IF(a && b, C, B)
// The second test still runs only when the first
// did not decide, so side effects happen exactly as before.
bool restructure_two_ifs(BBLK *b) {
  FUNINFO &fi = *b->owner;
  BBLK *p[2] = {b->predecessors->bb, b->predecessors->rest->bb};
  for (int k = 0; k < 2; ++k) {
    BBLK *p1 = p[k];
    BBLK *p2 = p[1 - k];
    NODE *i1 = last_tree(p1);
    NODE *i2 = last_tree(p2);
    if (!i1 || !i2 || i1->op != IF || i2->op != IF || i1->left->op == ENDLOOP ||
        i2->left->op == ENDLOOP)
      return false;
    if (p2->statements->rest || p2 == fi.bb_list || edge_count(p2->predecessors) != 1 ||
        p2->predecessors->bb != p1 || p1 == p2)
      continue;
    BBLK *a1 = if_target(i1, 1), *a2 = if_target(i1, 2);
    BBLK *b1 = if_target(i2, 1), *b2 = if_target(i2, 2);
    uint32_t op;
    BBLK *t_true, *t_false;
    if (a1 == b && a2 == p2 && b1 == b) {
      op = OROR;
      t_true = b;
      t_false = b2;
    } else if (a1 == p2 && a2 == b && b2 == b) {
      op = ANDAND;
      t_true = b1;
      t_false = b;
    } else {
      continue;
    }
    if (t_false == p2 || t_true == p2)
      continue;
    if (trace_on())
      debug_printf("\n\tIFs of bb %d and bb %d combined\n", static_cast<int>(p1->dfn),
                   static_cast<int>(p2->dfn));
    NODE *c1 = i1->left;
    NODE *c2 = i2->left;
    i1->left = nullptr;
    i2->left = make_node(ICON, nullptr, nullptr, c2->type);   // placeholder, block goes
    NODE *cond = make_node(op, c1, c2, int_type_of(fi));
    replace_last(p1, make_if(cond, t_true, t_false));
    return true;
  }
  return false;
}

// ------------------------------------------------------- after loops exist

// Two blocks with the same statements (ending in the same jump): every
// predecessor of the later one is sent to the earlier one.
bool cross_jump(FUNINFO &fi) {
  std::vector<BBLK *> blocks;
  FOR_EACH_BLOCK(bb, fi)
    blocks.push_back(bb);
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t j = i + 1; j < blocks.size(); ++j) {
      BBLK *a = blocks[i];
      BBLK *b = blocks[j];
      if (b == fi.bb_list || a == fi.bb_list || !b->predecessors || mentions_counted_loop(b) ||
          a->loop != b->loop)
        continue;
      const STLIST *x = a->statements;
      const STLIST *y = b->statements;
      while (x && y && trees_equal(x->first, y->first)) {
        x = x->rest;
        y = y->rest;
      }
      if (x || y || !a->statements)
        continue;
      std::vector<BBLK *> preds;
      bool counted = false;
      for (EDGE *e = b->predecessors; e; e = e->rest) {
        preds.push_back(e->bb);
        counted |= mentions_counted_loop(e->bb);
      }
      if (counted)
        continue;
      if (trace_on())
        debug_printf("\n\tBB %d is redundant with BB %d\n", static_cast<int>(b->dfn),
                     static_cast<int>(a->dfn));
      for (BBLK *p : preds) {
        retarget_labels(last_tree(p), b, a);
        compute_successors(p);
      }
      return true;
    }
  }
  return false;
}

// B holds nothing but IF(c, ...) and is entered only from A, which ends in
// IF with the same side-effect-free condition: B's test is decided by the
// arm of A that leads to it.
bool redundant_ifs(FUNINFO &fi) {
  FOR_EACH_BLOCK(b, fi) {
    NODE *t = last_tree(b);
    if (!t || t->op != IF || b->statements->rest || edge_count(b->predecessors) != 1)
      continue;
    BBLK *a = b->predecessors->bb;
    NODE *ta = last_tree(a);
    if (a == b || !ta || ta->op != IF || has_side_effects(t->left) ||
        !trees_equal(ta->left, t->left))
      continue;
    BBLK *a1 = if_target(ta, 1), *a2 = if_target(ta, 2);
    if (a1 == a2)
      continue;
    BBLK *target = a1 == b ? if_target(t, 1) : if_target(t, 2);
    if (trace_on())
      debug_printf("\n\tIF in bb %d is redundant with bb %d:\n\t\t%s\n", static_cast<int>(b->dfn),
                   static_cast<int>(a->dfn), tree_source(t).c_str());
    replace_last(b, make_branch(target));
    return true;
  }
  return false;
}

// ------------------------------------------------------------------ driver

void rebuild_chain(FUNINFO &fi) {
  BBLK *last = nullptr;
  int32_t n = 0;
  for (BBLK *bb = fi.bb_list; bb; bb = bb->next) {
    if (!bb->statements && bb != fi.bb_list)
      continue;
    if (last)
      last->next = bb;
    bb->prev = last;
    bb->dfn = ++n;
    last = bb;
  }
  if (last)
    last->next = nullptr;
  fi.bb_list->prev = last;
}

} // namespace

bool simpcfg(bool quest_is_ok, int /*flag*/) {
  FUNINFO &fi = *currfuninfo;
  if (!fi.bb_list)
    return false;
  if (!quest_is_ok && fi.bb_list->loop)
    terminate_abnormally("quest_is_ok || currfuninfo->bb_list->loop == NULL");
  if (trace_on())
    debug_printf("\n\n\t\t\t---------- ENTERING 'simpcfg' ----------\n");

  bool any = false;
  for (int round = 0; round < kRounds; ++round) {
    bool changed = false;
    if (quest_is_ok && !fi.skip_cross_jump) {
      changed |= cross_jump(fi);
      changed |= redundant_ifs(fi);
    }
    std::vector<BBLK *> order;
    FOR_EACH_BLOCK(bb, fi)
      order.push_back(bb);
    std::unordered_set<BBLK *> gone;
    for (BBLK *bb : order) {
      if (gone.count(bb))
        continue;
      if (bb != fi.bb_list && !bb->predecessors) {
        // Unlinked now, destroyed below: later blocks may still be merged
        // into others but never into this one.
        while (bb->successors)
          unlink_blocks(bb, bb->successors->bb);
        gone.insert(bb);
        changed = true;
        continue;
      }
      if (opt_level() >= 2 && bb != fi.bb_list && edge_count(bb->predecessors) == 2 &&
          restructure_two_ifs(bb))
        changed = true;
      for (int k = 0; k < kRulesPerBlock; ++k) {
        bool c = false;
        const size_t nsucc = edge_count(bb->successors);
        if (nsucc >= 2) {
          c = simplify_conditional(bb);
        } else if (nsucc == 1) {
          BBLK *succ = bb->successors->bb;
          c = if_with_equal_targets(bb) || chain_branch(bb);
          if (!c && !gone.count(succ) && merge_successor(bb)) {
            gone.insert(succ);
            c = true;
          }
          if (!c)
            c = copy_small_successor(bb);
        }
        if (!c)
          break;
        changed = true;
      }
    }
    // Blocks left without predecessors go; then the chain is rebuilt.
    std::vector<BBLK *> dead;
    FOR_EACH_BLOCK_ALL(bb, fi)
      if (bb != fi.bb_list && !bb->predecessors)
        dead.push_back(bb);
    for (BBLK *bb : dead)
      destroy_block(bb);
    rebuild_chain(fi);
    any |= changed;
    if (!changed)
      break;
  }
  if (any) {
    renumber_cfg();
    // Merged and deleted blocks change loop membership: the loop tree is
    // made again from the new graph.
    if (fi.root_loop)
      build_loops(fi);
    dump_flow_graph(fi, "after simpcfg");
  }
  return any;
}

} // namespace zor
