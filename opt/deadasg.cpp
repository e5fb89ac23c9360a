// opt/deadasg.cpp - dead-assignment elimination and the sinking of
// assignments (OPT5/deadasg).
//
// The blocks are walked from the last in dfn order to the first with a
// working set of live candidates, each block's statements from the last to
// the first, each tree backwards through its evaluation order.  A block's
// starting set is the union of its successors' live-in sets: those already
// walked hold the exact post-elimination sets, the others (back edges) the
// fixed point of find_live_variables, which can only be larger.  Removing a
// dead assignment never makes anything more live, so both are safe.
#include "opt/deadasg.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cfg/flowgraph.h"
#include "driver/run.h"
#include "ir/bitvector.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_equal.h"
#include "ir/tree_print.h"
#include "ir/tree_walk.h"
#include "ir/type.h"
#include "opt/combine_asgs.h"
#include "opt/live.h"
#include "opt/live_ops.h"
#include "opt/simplify.h"

namespace zor {

namespace {

constexpr const char kElimHeader[] = "\n\n\t\t\t---------- ENTERING 'elim_dead_assigns' ----------\n";
constexpr const char kDelayHeader[] = "\n\n\t\t\t---------- ENTERING 'delay_assignments' ----------\n";

TYPE *canon(TYPE *t) { return t ? t->normalized() : nullptr; }
bool same_type(TYPE *a, TYPE *b) { return a == b || (a && b && canon(a) == canon(b)); }

NODE *take_left(NODE *n) { return std::exchange(n->left, nullptr); }
NODE *take_right(NODE *n) { return std::exchange(n->right, nullptr); }

// `value` in place of a node of type `type`.
NODE *typed_as(NODE *value, TYPE *type) { return type ? convert_to_type(value, type) : value; }

NODE *unwrap_identity(NODE *n) {
  while (n && n->op == IDENTITY && n->left) {
    NODE *inner = take_left(n);
    TYPE *t = n->type;
    erase_tree(n);
    n = typed_as(inner, t);
  }
  return n;
}

// x op e for a compound assignment x op= e (operands taken from it).
NODE *expand_compound(NODE *asg) {
  NODE *x = copy_node(asg->left, false, true);
  TYPE *t = asg->type;
  if (asg->left->type && asg->left->type->is_pointer() && (asg->op == PLUSASG || asg->op == MINUSASG))
    t = asg->left->type;
  return make_node(asg_base_op(asg->op), x, take_right(asg), t);
}

std::vector<BBLK *> dfn_blocks(FUNINFO &fi) {
  std::vector<BBLK *> out;
  FOR_EACH_BLOCK(bb, fi)
    out.push_back(bb);
  return out;
}

std::vector<STLIST *> statement_items(BBLK *bb) {
  std::vector<STLIST *> out;
  for (STLIST *s = bb->statements; s; s = s->rest)
    out.push_back(s);
  return out;
}

// ---------------------------------------------------- the backward walk

struct DeadWalk {
  const LVA_CANDIDATES &c;
  bitvector live;
  long line = 0;                 // of the statement being walked
  bool nested_compound = false;  // a compound assignment inside an expression
  bool changed = false;

  bool is_live(int k) const { return live.test(static_cast<uint32_t>(k)); }
  void read(int k) {
    live.add(static_cast<uint32_t>(k));
    ++c.syms[static_cast<size_t>(k)]->use_count;
  }
  void kill(int k) { live.remove(static_cast<uint32_t>(k)); }

  void report_dead(int k, const NODE *n) {
    if (run.debug_flag)
      debug_printf("\n\t(%ld) DEAD 'ASG' TO CANDIDATE %d:    %s\n", line, k, tree_source(n).c_str());
  }

  // Too deep to walk: everything named in it is read.
  void opaque(const NODE *n) {
    for_each_candidate_name(n, c, [&](int k) { read(k); });
  }

  void statement(NODE *&t, int depth);
  void value(NODE *&t, int depth);
  void dead_at_statement_level(NODE *&t, int k, int depth);
  void dead_in_expression(NODE *&t, int k, int depth);
};

// A statement whose value nobody uses.  `t` becomes null when nothing of it
// remains.
void DeadWalk::statement(NODE *&t, int depth) {
  if (!t)
    return;
  if (depth > kLvaMaxDepth) {
    opaque(t);
    return;
  }
  const LvaOp cls = lva_op_class(t);
  if (cls == LvaOp::commaop || t->op == PCOMMA) {
    statement(t->right, depth + 1);
    statement(t->left, depth + 1);
    if (!t->left || !t->right) {
      NODE *rest = t->left ? take_left(t) : take_right(t);
      erase_tree(t);
      t = rest;
    }
    return;
  }
  if (cls == LvaOp::store || cls == LvaOp::compound || cls == LvaOp::step) {
    const int k = c.number_of_name(t->left);
    if (k >= 0 && !is_live(k)) {
      dead_at_statement_level(t, k, depth);
      return;
    }
  }
  value(t, depth);
}

// x = e, x op= e, x++ at statement level with x dead: e's effects remain.
void DeadWalk::dead_at_statement_level(NODE *&t, int k, int depth) {
  report_dead(k, t);
  NODE *rest;
  if (t->op == ASG)
    rest = unwrap_identity(take_right(t));
  else if (is_compound_asg(t->op))
    rest = expand_compound(t);   // a division by x may still trap
  else
    rest = take_right(t);
  erase_tree(t);
  t = side_effects_of(rest);
  changed = true;
  statement(t, depth + 1);
}

// x = e, x op= e, x++ inside an expression with x dead: the value stays.
void DeadWalk::dead_in_expression(NODE *&t, int k, int depth) {
  report_dead(k, t);
  TYPE *target = t->left->type;
  TYPE *result = t->type;
  NODE *v;
  if (t->op == ASG) {
    v = convert_to_type(unwrap_identity(take_right(t)), target);
  } else if (is_compound_asg(t->op)) {
    v = convert_to_type(expand_compound(t), target);
  } else {
    v = take_left(t);   // x++ yields the old x
  }
  erase_tree(t);
  t = typed_as(simplify(v), result);
  changed = true;
  value(t, depth + 1);
}

void DeadWalk::value(NODE *&t, int depth) {
  if (!t)
    return;
  if (depth > kLvaMaxDepth) {
    opaque(t);
    return;
  }
  switch (lva_op_class(t)) {
  case LvaOp::name: {
    const int k = c.number_of_name(t);
    if (k >= 0)
      read(k);
    return;
  }
  case LvaOp::store: {
    const int k = c.number_of_name(t->left);
    if (k < 0)
      break;
    if (!is_live(k)) {
      dead_in_expression(t, k, depth);
      return;
    }
    kill(k);
    ++c.syms[static_cast<size_t>(k)]->use_count;   // a definition that is used
    value(t->right, depth + 1);
    return;
  }
  case LvaOp::compound:
  case LvaOp::step: {
    const int k = c.number_of_name(t->left);
    if (k < 0)
      break;
    if (t->op != PLUSPLUS && t->op != MINMIN)
      nested_compound = true;
    // Replacing a compound assignment by its value needs the value in the
    // target's own type; other forms stay and keep x live.
    const bool replaceable =
        t->op == PLUSPLUS || t->op == MINMIN || same_type(t->type, t->left->type);
    if (!is_live(k) && replaceable) {
      dead_in_expression(t, k, depth);
      return;
    }
    kill(k);   // the store comes last ...
    value(t->right, depth + 1);
    read(k);   // ... after the read of the old value
    return;
  }
  case LvaOp::quest: {
    bitvector after = live;
    value(t->right->left, depth + 2);
    bitvector first_arm = live;
    live = after;
    value(t->right->right, depth + 2);
    live.merge(&first_arm);
    value(t->left, depth + 1);
    return;
  }
  case LvaOp::logical: {
    bitvector after = live;
    value(t->right, depth + 1);
    live.merge(&after);
    value(t->left, depth + 1);
    return;
  }
  case LvaOp::commaop: {
    value(t->right, depth + 1);
    statement(t->left, depth + 1);
    if (!t->left) {
      NODE *r = take_right(t);
      TYPE *type = t->type;
      erase_tree(t);
      t = typed_as(r, type);
    }
    return;
  }
  case LvaOp::reads_all:
    for (size_t k = 0; k < c.size(); ++k)
      read(static_cast<int>(k));
    return;
  case LvaOp::unknown:
    lva_bad_opcode(t);
  case LvaOp::plain:
    break;
  }
  value(t->right, depth + 1);
  value(t->left, depth + 1);
}

// ------------------------------------------------------------- fix-up

// z = (x op= e)  ->  x op= e; z = x, when z and x are distinct variables,
// x is not volatile and the compound's value is x's new value.
void fix_up_block(BBLK *bb) {
  for (STLIST *s = bb->statements; s && s->rest; s = s->rest) {
    NODE *t = s->first;
    if (!t || t->op != ASG || !match_name(t->left) || !t->right || !is_compound_asg(t->right->op))
      continue;
    NODE *comp = t->right;
    const SYMTAB *z = match_name(t->left);
    const SYMTAB *x = match_name(comp->left);
    if (!x || x == z || has_side_effects(comp->left) || has_side_effects(t->left) ||
        !same_type(comp->type, comp->left->type))
      continue;
    if (run.debug_flag)
      debug_printf("\n\t(%ld) Lifting the compound assignment out of:    %s\n",
                   static_cast<long>(s->pos.line), tree_source(t).c_str());
    t->right = typed_as(copy_node(comp->left, false, true), comp->type);
    s->first = comp;
    s = insert_statement_after(bb, s, t, s->pos);
  }
}

// ------------------------------------------------------------- removal

bool is_parameter(const FUNINFO &fi, const SYMTAB *s) {
  return std::find(fi.params.begin(), fi.params.end(), s) != fi.params.end();
}

// Every symbol some tree of the function still names.
std::unordered_set<const SYMTAB *> named_symbols(FUNINFO &fi) {
  std::unordered_set<const SYMTAB *> out;
  // The trees hanging from dependence records name symbols too.
  std::function<void(NODE *)> collect = [&](NODE *root) {
    walk_tree(root, [&](NODE *n) {
      if (n->op == NAME && n->sym())
        out.insert(n->sym());
      if (n->dval && n->dval->tree)
        collect(n->dval->tree);
    });
  };
  for_each_function_tree(fi, collect);
  return out;
}

// Locals that no walk counted a use of leave the function's variable list.
// (The symbol-to-value map of fast constant propagation is cleared by that
// pass itself; this function keeps no copy of it.)
void remove_unreferenced(FUNINFO &fi, const LVA_CANDIDATES &c) {
  const std::unordered_set<const SYMTAB *> named = named_symbols(fi);
  for (size_t k = 0; k < c.size(); ++k) {
    SYMTAB *s = c.syms[k];
    if (s->use_count != 0 || is_parameter(fi, s) || named.count(s))
      continue;
    debug_printf("\tNo references in the function for (%d) '%s'\n", static_cast<int>(k), s->name());
    fi.locals.erase(std::remove(fi.locals.begin(), fi.locals.end(), s), fi.locals.end());
  }
}

// A parameter copy keeps its shape unless a merge rewrote it.
bool still_a_copy(const FUNINFO &fi, const NODE *t) {
  if (t && t->op == PCOMMA)
    return true;
  return t && t->op == ASG && match_name(t->left) && is_parameter(fi, match_name(t->right));
}

bool begins_with_branch(const BBLK *bb) {
  return bb->statements && bb->statements->first && bb->statements->first->op == BRANCH;
}

// ---------------------------------------------------------- delaying

bool mentions(const NODE *t, int k, const LVA_CANDIDATES &c) {
  bool found = false;
  for_each_candidate_name(t, c, [&](int j) { found |= j == k; });
  return found;
}

// A statement the assignment x = e must not pass: it names x, assigns a
// candidate e reads, or is something the walk cannot see into.
bool stops_move(const NODE *t, int k, const bitvector &reads, const LVA_CANDIDATES &c) {
  if (mentions(t, k, c))
    return true;
  std::vector<const NODE *> stack{t};
  while (!stack.empty()) {
    const NODE *n = stack.back();
    stack.pop_back();
    const LvaOp cls = lva_op_class(n);
    if (cls == LvaOp::unknown || cls == LvaOp::reads_all || n->op == PPRAGMA || n->op == LABELDEF)
      return true;
    if (op_effect(n->op) == EFF_ASSIGNS) {
      const int j = c.number_of_name(n->left);
      if (j >= 0 && reads.test(static_cast<uint32_t>(j)))
        return true;
    }
    if (n->left)
      stack.push_back(n->left);
    if (n->right)
      stack.push_back(n->right);
  }
  return false;
}

// The block control reaches from `bb` only, and only from it.
BBLK *single_follower(BBLK *bb) {
  if (!bb->successors || bb->successors->rest)
    return nullptr;
  BBLK *next = bb->successors->bb;
  if (!next->predecessors || next->predecessors->rest || next->predecessors->bb != bb)
    return nullptr;
  return next;
}

struct Mover {
  FUNINFO &fi;
  const LVA_CANDIDATES &c;
  std::vector<BBLK *> sources;   // blocks statements left
  bool moved = false;

  void try_move(BBLK *bb, STLIST *s);
};

void Mover::try_move(BBLK *bb, STLIST *s) {
  NODE *t = s->first;
  if (!t || t->op != ASG)
    return;
  const int k = c.number_of_name(t->left);
  if (k < 0 || !depends_only_on_candidates(t->right, c))
    return;
  bitvector reads(static_cast<uint32_t>(c.size()));
  for_each_candidate_name(t->right, c, [&](int j) { reads.add(static_cast<uint32_t>(j)); });

  BBLK *cur = bb;
  STLIST *prev = s;
  STLIST *scan = s->rest;
  std::vector<const BBLK *> seen{bb};
  while (scan) {
    if (!scan->rest) {
      // The block's final branch: follow a plain jump into a block entered
      // only from here.
      BBLK *next = scan->first && scan->first->op == BRANCH ? single_follower(cur) : nullptr;
      if (next && next->statements &&
          std::find(seen.begin(), seen.end(), next) == seen.end()) {
        seen.push_back(next);
        cur = next;
        prev = nullptr;
        scan = next->statements;
        continue;
      }
      break;
    }
    if (stops_move(scan->first, k, reads, c))
      break;
    prev = scan;
    scan = scan->rest;
  }
  if (cur == bb && prev == s)
    return;   // already just before its first use
  if (run.debug_flag)
    debug_printf("\n\t(%ld) Delaying the assignment %s to line %ld\n",
                 static_cast<long>(s->pos.line), tree_source(t).c_str(),
                 static_cast<long>(scan ? scan->pos.line : 0));
  const SrcPos pos = s->pos;
  s->first = nullptr;
  delete_statement(bb, s);
  // Placed right before an assignment to x that does not read it, the
  // moved one has no effect left.
  const NODE *at = scan ? scan->first : nullptr;
  if (at && at->op == ASG && c.number_of_name(at->left) == k && !mentions(at->right, k, c))
    erase_tree(t);
  else
    insert_statement_after(cur, prev, t, pos);
  moved = true;
  if (std::find(sources.begin(), sources.end(), bb) == sources.end())
    sources.push_back(bb);
}

} // namespace

// ------------------------------------------------------------- interface

bool delay_assignments() {
  FUNINFO &fi = *currfuninfo;
  debug_printf(kDelayHeader);
  const LVA_CANDIDATES c = choose_lva_candidates(fi, true);
  if (c.empty())
    return false;
  Mover m{fi, c, {}, false};
  const std::vector<BBLK *> blocks = dfn_blocks(fi);
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    BBLK *bb = *it;
    if (begins_with_branch(bb))
      continue;
    std::vector<STLIST *> items = statement_items(bb);
    // The parameter copies at the top of the entry block stay in place.
    const size_t first = bb == fi.bb_list ? std::min<size_t>(fi.prologue_length, items.size()) : 0;
    for (size_t i = items.size(); i-- > first;)
      if (items[i]->rest)
        m.try_move(bb, items[i]);
  }
  bool branch_block = false;
  for (BBLK *bb : m.sources)
    branch_block |= begins_with_branch(bb);
  return branch_block;
}

bool elim_dead_assigns(int delay, int fixup) {
  FUNINFO &fi = *currfuninfo;
  if (!fi.bb_list)
    return false;
  const LVA_CANDIDATES c = find_live_variables(1, 1);
  for (SYMTAB *s : fi.params)
    if (s)
      s->use_count = 0;
  for (SYMTAB *s : fi.locals)
    if (s)
      s->use_count = 0;
  if (c.empty())
    return false;
  debug_printf(kElimHeader);

  const auto n = static_cast<uint32_t>(c.size());
  bitvector all(n);
  for (uint32_t k = 0; k < n; ++k)
    all.add(k);
  bool noted = false;
  bool changed = false;
  // The parameter copies may lose members; their count is taken again at
  // the end (the mark lives in the items' free word).
  uint32_t marked = 0;
  for (STLIST *s = fi.bb_list->statements; s && marked < fi.prologue_length; s = s->rest, ++marked)
    s->word = 1;
  const std::vector<BBLK *> blocks = dfn_blocks(fi);
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    BBLK *bb = *it;
    const bool began_with_branch = begins_with_branch(bb);
    DeadWalk w{c, bitvector(n)};
    for (EDGE *e = bb->successors; e; e = e->rest) {
      const bitvector *in = e->bb->dataflow[DF_IN];
      w.live.merge(in ? in : &all);
    }
    // Loop records hold no expressions of their own here, so a pre-header
    // adds no reads for its loop.
    bb->dataflow[DF_OUT]->cmp_cpy(w.live);

    const std::vector<STLIST *> items = statement_items(bb);
    for (size_t i = items.size(); i-- > 0;) {
      STLIST *s = items[i];
      w.line = static_cast<long>(s->pos.line);
      w.statement(s->first, 0);
      if (!s->first) {
        delete_statement(bb, s);
        continue;
      }
      if (combine_adjacent_asgs(bb, s, c))
        changed = true;
    }
    if (fixup && w.nested_compound)
      fix_up_block(bb);
    bb->dataflow[DF_IN]->cmp_cpy(w.live);
    changed |= w.changed;
    noted |= !began_with_branch && begins_with_branch(bb);
  }

  uint32_t copies = 0;
  for (STLIST *s = fi.bb_list->statements; s && s->word == 1 && still_a_copy(fi, s->first); s = s->rest)
    ++copies;
  for (STLIST *s = fi.bb_list->statements; s; s = s->rest)
    s->word = 0;
  fi.prologue_length = copies;

  if (delay && delay_assignments()) {
    noted = true;
    changed = true;
  }
  remove_unreferenced(fi, c);
  release_live_variables(fi);
  if (noted && fi.bb_list->loop == nullptr)
    simpcfg(false, 0);
  return changed;
}

} // namespace zor
