// opt/live.cpp - live variables (OPT5/live): choosing the candidates, the
// statement clean-up that comes first, the local sets of each block and the
// backward fixed point over the dfn chain.
//
// Needs the flow graph; keeps it (the clean-up only rewrites and deletes
// statements that are not the last of their block).  The per-block vectors
// belong to this analysis until release_live_variables.
#include "opt/live.h"

#include <cstdio>
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
#include "ir/tree_equal.h"
#include "ir/tree_walk.h"
#include "ir/type.h"
#include "opt/live_ops.h"
#include "opt/simplify.h"

namespace zor {

int LVA_CANDIDATES::number_of(const SYMTAB *s) const {
  if (!s || s->candidate_number < 0)
    return -1;
  const auto k = static_cast<size_t>(s->candidate_number);
  return k < syms.size() && syms[k] == s ? s->candidate_number : -1;
}

int LVA_CANDIDATES::number_of_name(const NODE *n) const {
  return n && n->op == NAME ? number_of(n->sym()) : -1;
}

// ------------------------------------------------------- operator classes

LvaOp lva_op_class(const NODE *n) {
  const uint32_t op = n->op;
  if (!op_is_assigned(op) || op == EPVAL || op == ILLOP || op == CSE_DUPE || op == CSE_ORIG ||
      (op >= SSA_PHI && op <= DFG_SPLIT))
    return LvaOp::unknown;   // not part of the tree form these passes see
  switch (op) {
  case NAME: return LvaOp::name;
  case ASG: return LvaOp::store;
  case PLUSASG: case MINUSASG: case MULTASG: case DIVASG: case MODASG:
  case ANDBASG: case ORBASG: case XORBASG: case SLLASG: case SRLASG:
    return LvaOp::compound;
  case PLUSPLUS: case MINMIN: return LvaOp::step;
  case QUEST: return n->right && n->right->op == COLON ? LvaOp::quest : LvaOp::plain;
  case ANDAND: case OROR: return LvaOp::logical;
  case COMMAOP: return LvaOp::commaop;
  case ASM: return LvaOp::reads_all;   // its text may name any local
  default: return LvaOp::plain;
  }
}

bool is_compound_asg(uint32_t op) {
  switch (op) {
  case PLUSASG: case MINUSASG: case MULTASG: case DIVASG: case MODASG:
  case ANDBASG: case ORBASG: case XORBASG: case SLLASG: case SRLASG:
    return true;
  default:
    return false;
  }
}

[[noreturn]] void lva_bad_opcode(const NODE *n) {
  static constexpr char kMessage[] = "\n\n   !!! Error in 'local_lva_defs()', opcode=%d %s !!!\n";
  const char *name = op_name(n->op) ? op_name(n->op) : "";
  std::fprintf(stderr, kMessage, static_cast<int>(n->op), name);
  debug_printf(kMessage, static_cast<int>(n->op), name);
  terminate_abnormally(nullptr);
}

void for_each_candidate_name(const NODE *root, const LVA_CANDIDATES &c,
                             const std::function<void(int)> &fn) {
  walk_tree(root, [&](const NODE *n) {
    const int k = c.number_of_name(n);
    if (k >= 0)
      fn(k);
  });
}

void for_each_function_tree(FUNINFO &fi, const std::function<void(NODE *)> &fn) {
  for_each_statement(fi, [&](NODE *&tree, const SrcPos &) {
    if (tree)
      fn(tree);
  });
  for (NODE *t : fi.global_assertions)
    if (t)
      fn(t);
  for (EhtEntry &e : fi.eht)
    if (e.cleanup)
      fn(static_cast<NODE *>(e.cleanup));
}

namespace {

constexpr const char kHeader[] = "\n\n\t\t\t---------- ENTERING 'find_live_variables' --------\n";
// Candidate numbers are 16-bit.
constexpr size_t kMaxCandidates = 32767;

// ------------------------------------------------------------- candidates

bool candidate_type(TYPE *t) {
  if (!t || t->is_volatile())
    return false;
  return t->is_integral() || t->is_floating() || t->is_pointer() || t->is_enum();
}

bool candidate_storage(const SYMTAB &s) {
  if (s.flag_bits & SF_CREGISTER)
    return false;   // a control register: every access is an effect
  return s.sclass == SC_AUTO || s.sclass == SC_REGISTER;
}

// Operators whose operands are values: a NAME under them reads the
// variable.  A NAME anywhere else (under UAND, ARGREF, ACONV, STDOT, STASG,
// the vector and structure operators, ...) designates the object itself.
bool reads_operands(uint32_t op) {
  switch (op) {
  case PLUS: case MINUS: case MULT: case DIV: case MOD: case ANDB: case ORB: case XORB:
  case SLL: case SRL: case UMINUS: case NOTB: case ABS: case EXCLAIM: case SQRT: case SQR:
  case RECIP: case EXPT:
  case EQ: case NEQ: case LE: case LT: case GE: case GT: case ULE: case ULT: case UGE: case UGT:
  case FEQ: case FNEQ: case FLE: case FLT: case FGE: case FGT:
  case FEQN: case FNEQN: case FLEN: case FLTN: case FGEN: case FGTN: case FORD: case FUNO:
  case ANDAND: case OROR: case QUEST: case COLON: case COMMAOP: case COMMA: case PCOMMA:
  case SCONV: case PCONV: case PMCONV: case PVCONV: case ISP2CHAR: case IDENTITY:
  case TOIEEE: case FRIEEE:
  case UMULT: case STREF: case CALL: case UCALL: case ICALL: case MCALL:
  case RETURN: case IF: case SWITCH: case LOOP: case ASSERT: case NASSERT:
    return true;
  default:
    return false;
  }
}

bool assigns_first_operand(uint32_t op) { return op == ASG || op == PLUSPLUS || op == MINMIN || is_compound_asg(op); }

// The symbols some NAME designates other than by a plain read or as the
// whole target of an assignment of its own size.
std::unordered_set<const SYMTAB *> designated_symbols(FUNINFO &fi) {
  std::unordered_set<const SYMTAB *> out;
  struct Item {
    const NODE *n;
    const NODE *parent;
    int index;
  };
  std::vector<Item> stack;
  for_each_function_tree(fi, [&](NODE *root) {
    stack.push_back({root, nullptr, 0});
    while (!stack.empty()) {
      Item it = stack.back();
      stack.pop_back();
      const NODE *n = it.n;
      if (const SYMTAB *s = n->op == NAME ? n->sym() : nullptr) {
        bool ok;
        if (!it.parent)
          ok = true;
        else if (assigns_first_operand(it.parent->op))
          ok = it.index == 1 || (n->type && n->type->size == s->size_bits);
        else
          ok = reads_operands(it.parent->op);
        if (!ok)
          out.insert(s);
      }
      if (n->op == CSE_DUPE)
        continue;
      if (n->right)
        stack.push_back({n->right, n, 1});
      if (n->left)
        stack.push_back({n->left, n, 0});
    }
  });
  return out;
}

// ------------------------------------------------------ statement clean-up

// `n` keeps its type when its operand replaces it.
NODE *as_type_of(NODE *operand, TYPE *type) { return type ? convert_to_type(operand, type) : operand; }

// A statement whose first operand is COMMAOP(a, b) evaluates a first: a can
// stand before it.  Not for assignments (their first operand designates).
bool left_comma_splits(const NODE *t) {
  return t->left && t->left->op == COMMAOP && t->left->left && t->left->right &&
         op_effect(t->op) != EFF_ASSIGNS && t->op != COMMA && t->op != PCOMMA && t->op != COMMAOP;
}

bool keeps_statement(const NODE *t) {
  const uint8_t e = op_effect(t->op);
  return e == EFF_ASSIGNS || e == EFF_CONTROL;
}

// Splits statement-level comma chains and reduces statements that are
// neither assignments nor control statements (other than the block's last)
// to their side effects.
bool clean_up_statements(BBLK *bb) {
  bool changed = false;
  STLIST *prev = nullptr;
  STLIST *s = bb->statements;
  while (s) {
    NODE *t = s->first;
    if (t && t->op == COMMAOP && t->left && t->right) {
      s->first = std::exchange(t->left, nullptr);
      insert_statement_after(bb, s, std::exchange(t->right, nullptr), s->pos);
      erase_tree(t);
      changed = true;
      continue;
    }
    if (t && left_comma_splits(t)) {
      NODE *c = t->left;
      t->left = as_type_of(std::exchange(c->right, nullptr), c->type);
      STLIST *before = insert_statement_after(bb, prev, std::exchange(c->left, nullptr), s->pos);
      erase_tree(c);
      changed = true;
      s = before;   // the split-off part is cleaned up in its turn
      continue;
    }
    if (t && s->rest && !keeps_statement(t)) {
      NODE *r = side_effects_of(t);
      if (!r) {
        STLIST *next = s->rest;
        s->first = nullptr;
        delete_statement(bb, s);
        s = next;
        changed = true;
        continue;
      }
      if (r != t) {
        s->first = r;
        changed = true;
        if (r->op == COMMAOP)
          continue;
      }
    }
    prev = s;
    s = s->rest;
  }
  return changed;
}

// ------------------------------------------------------------ local sets

struct LocalSets {
  const LVA_CANDIDATES &c;
  bitvector &gen;    // read before any assignment
  bitvector &kill;   // assigned on every path before any read

  void read(int k) {
    if (k >= 0 && !kill.test(static_cast<uint32_t>(k)))
      gen.add(static_cast<uint32_t>(k));
  }
  void def(int k, bool conditional) {
    if (k >= 0 && !conditional && !gen.test(static_cast<uint32_t>(k)))
      kill.add(static_cast<uint32_t>(k));
  }
};

// The forward walk of one tree in evaluation order.
void local_lva_defs(const NODE *n, LocalSets &ls, bool conditional, int depth) {
  if (!n)
    return;
  if (depth > kLvaMaxDepth) {
    for_each_candidate_name(n, ls.c, [&](int k) { ls.read(k); });
    return;
  }
  switch (lva_op_class(n)) {
  case LvaOp::name:
    ls.read(ls.c.number_of_name(n));
    return;
  case LvaOp::store: {
    const int k = ls.c.number_of_name(n->left);
    if (k < 0)
      break;
    local_lva_defs(n->right, ls, conditional, depth + 1);
    ls.def(k, conditional);
    return;
  }
  case LvaOp::compound:
  case LvaOp::step: {
    const int k = ls.c.number_of_name(n->left);
    if (k < 0)
      break;
    ls.read(k);
    local_lva_defs(n->right, ls, conditional, depth + 1);
    ls.def(k, conditional);
    return;
  }
  case LvaOp::quest:
    local_lva_defs(n->left, ls, conditional, depth + 1);
    local_lva_defs(n->right->left, ls, true, depth + 1);
    local_lva_defs(n->right->right, ls, true, depth + 1);
    return;
  case LvaOp::logical:
    local_lva_defs(n->left, ls, conditional, depth + 1);
    local_lva_defs(n->right, ls, true, depth + 1);
    return;
  case LvaOp::reads_all:
    for (size_t k = 0; k < ls.c.size(); ++k)
      ls.read(static_cast<int>(k));
    return;
  case LvaOp::unknown:
    lva_bad_opcode(n);
  case LvaOp::commaop:
  case LvaOp::plain:
    break;
  }
  if (n->op == CSE_DUPE)
    return;
  local_lva_defs(n->left, ls, conditional, depth + 1);
  local_lva_defs(n->right, ls, conditional, depth + 1);
}

std::vector<BBLK *> dfn_blocks(FUNINFO &fi) {
  std::vector<BBLK *> out;
  FOR_EACH_BLOCK(bb, fi)
    out.push_back(bb);
  return out;
}

} // namespace

// ------------------------------------------------------------- interface

LVA_CANDIDATES choose_lva_candidates(FUNINFO &fi, bool with_parameters) {
  LVA_CANDIDATES out;
  for (SYMTAB *s : fi.params)
    if (s)
      s->candidate_number = -1;
  for (SYMTAB *s : fi.locals)
    if (s)
      s->candidate_number = -1;
  const std::unordered_set<const SYMTAB *> designated = designated_symbols(fi);
  auto consider = [&](SYMTAB *s, bool parameter) {
    if (!s || s->candidate_number >= 0 || out.size() >= kMaxCandidates)
      return;
    if (!candidate_storage(*s) || !candidate_type(s->type_) || designated.count(s))
      return;
    if (parameter && !s->type_->is_pointer())
      return;
    if (!parameter && s->level < 2)
      return;
    s->candidate_number = static_cast<int16_t>(out.size());
    out.syms.push_back(s);
  };
  for (SYMTAB *s : fi.locals)
    consider(s, false);
  if (with_parameters)
    for (SYMTAB *s : fi.params)
      consider(s, true);
  return out;
}

LVA_CANDIDATES find_live_variables(int flag, int with_parameters) {
  FUNINFO &fi = *currfuninfo;
  debug_printf(kHeader);
  if (flag)
    FOR_EACH_BLOCK(bb, fi)
      clean_up_statements(bb);
  LVA_CANDIDATES c = choose_lva_candidates(fi, with_parameters != 0);
  release_live_variables(fi);
  if (c.empty())
    return c;
  if (run.debug_flag)
    for (size_t k = 0; k < c.size(); ++k)
      debug_printf("\tLVA candidate %2d is variable '%s'\n", static_cast<int>(k), c.syms[k]->name());

  const auto n = static_cast<uint32_t>(c.size());
  fi.df_vector_size = n;
  const std::vector<BBLK *> blocks = dfn_blocks(fi);
  for (BBLK *bb : blocks) {
    for (bitvector *&v : bb->dataflow)
      v = new bitvector(n);
    LocalSets ls{c, *bb->dataflow[DF_GEN], *bb->dataflow[DF_KILL]};
    for (const STLIST *s = bb->statements; s; s = s->rest)
      local_lva_defs(s->first, ls, false, 0);
  }

  // Backward over the dfn chain until no live-out grows.  Sets only grow
  // from empty, so the union's change flag is the convergence test.
  bitvector all(n);
  for (uint32_t k = 0; k < n; ++k)
    all.add(k);
  bool changed = true;
  while (changed) {
    changed = false;
    debug_printf("\n\tNext iteration of global live variable loop\n");
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
      BBLK *bb = *it;
      bitvector &out = *bb->dataflow[DF_OUT];
      for (EDGE *e = bb->successors; e; e = e->rest) {
        const bitvector *in = e->bb->dataflow[DF_IN];
        changed |= out.union_(in ? in : &all);
      }
      bb->dataflow[DF_IN]->diff3(out, *bb->dataflow[DF_KILL]);
      bb->dataflow[DF_IN]->merge(bb->dataflow[DF_GEN]);
    }
  }
  return c;
}

void release_live_variables(FUNINFO &fi) {
  FOR_EACH_BLOCK_ALL(bb, fi)
    for (bitvector *&v : bb->dataflow) {
      delete v;
      v = nullptr;
    }
  fi.df_vector_size = 0;
}

// --------------------------------------------------------- side effects

bool has_effects_or_traps(const NODE *n) {
  if (has_side_effects(n))
    return true;
  bool traps = false;
  walk_tree(n, [&](const NODE *x) { traps |= x->op == DIV || x->op == MOD; });
  return traps;
}

bool depends_only_on_candidates(const NODE *root, const LVA_CANDIDATES &c) {
  std::vector<const NODE *> stack{root};
  while (!stack.empty()) {
    const NODE *n = stack.back();
    stack.pop_back();
    if (!n || (n->type && n->type->is_volatile()))
      return false;
    switch (n->op) {
    case ICON: case FCON: case SCON: case LCON:
      continue;
    case NAME:
      if (c.number_of_name(n) < 0)
        return false;
      continue;
    case UAND:
      if (!n->left || n->left->op != NAME)
        return false;
      continue;   // the address of a variable is a constant
    case PLUS: case MINUS: case MULT: case ANDB: case ORB: case XORB: case SLL: case SRL:
    case UMINUS: case NOTB: case ABS: case EXCLAIM:
    case EQ: case NEQ: case LE: case LT: case GE: case GT: case ULE: case ULT: case UGE: case UGT:
    case FEQ: case FNEQ: case FLE: case FLT: case FGE: case FGT:
    case FEQN: case FNEQN: case FLEN: case FLTN: case FGEN: case FGTN: case FORD: case FUNO:
    case SCONV: case PCONV: case PMCONV: case ISP2CHAR: case ANDAND: case OROR: case QUEST:
    case COLON:
      break;
    default:
      return false;   // loads, calls, divisions and everything else
    }
    if (n->left)
      stack.push_back(n->left);
    if (n->right)
      stack.push_back(n->right);
  }
  return true;
}

namespace {

NODE *effects_within(NODE *n, int depth);

} // namespace

NODE *side_effects_of(NODE *n) { return effects_within(n, 0); }

namespace {

// A node that is its own effect: kept with all its operands.
bool is_effect(const NODE *n) {
  return op_has_effect(n->op) || (n->type && n->type->is_volatile()) || n->op == DIV ||
         n->op == MOD || n->op == CSE_DUPE;
}
bool is_conditional(const NODE *n) { return n->op == QUEST || n->op == ANDAND || n->op == OROR; }

// Past the depth bound a tree is kept whole, which keeps every effect.
NODE *effects_within(NODE *n, int depth) {
  if (!n)
    return nullptr;
  if (depth > kLvaMaxDepth || is_effect(n))
    return n;
  // Conditional evaluation: the effects of an arm happen only with its
  // condition, so the whole operator stays.
  if (is_conditional(n)) {
    if (has_effects_or_traps(n->right))
      return n;
    NODE *cond = std::exchange(n->left, nullptr);
    erase_tree(n);
    return effects_within(cond, depth + 1);
  }
  // Any other operator only computes a value: its operands' effects remain,
  // first operand first.  Iterative along first operands, which is where
  // long chains grow.
  std::vector<NODE *> rights;
  NODE *x = n;
  while (x && !is_effect(x) && !is_conditional(x)) {
    NODE *left = std::exchange(x->left, nullptr);
    rights.push_back(std::exchange(x->right, nullptr));
    erase_tree(x);
    x = left;
  }
  NODE *result = x ? effects_within(x, depth + 1) : nullptr;
  for (auto it = rights.rbegin(); it != rights.rend(); ++it) {
    NODE *e = effects_within(*it, depth + 1);
    if (!e)
      continue;
    result = result ? make_node(COMMAOP, result, e, e->type) : e;
  }
  return result;
}

} // namespace

} // namespace zor
