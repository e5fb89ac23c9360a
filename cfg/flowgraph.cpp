// cfg/flowgraph.cpp - cutting a function into basic blocks, numbering them,
// the unreachable-block sweep, tail-recursion removal and edge splitting.
//
// build_flow_graph runs once per function before its first pass:
//   0. labels are resolved to label records and the file's CBRANCH and
//      ENDLOOP statements become IF statements (see flowgraph.h);
//   1. the statement list is cut into blocks, walking it backwards;
//   2. blocks get their creation numbers and successor lists; returns
//      outside the exit block become branches to it; at level 2 and above
//      tail-recursive self-calls become jumps;
//   3. a depth-first walk orders the blocks (the dfn chain);
//   4. renumbering numbers them and sweeps the unreachable ones.
// renumber_cfg is steps 3 and 4 again.
#include "cfg/flowgraph.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <vector>

#include "cfg/dominator.h"
#include "cfg/loops.h"
#include "driver/options.h"
#include "driver/run.h"
#include "ir/bitvector.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_print.h"
#include "ir/tree_walk.h"
#include "ir/type.h"

namespace zor {

namespace {

TYPE *void_type(const FUNINFO &fi) { return void_type_of(fi); }

bool trace_on() { return run.debug_flag != 0; }


// ------------------------------------------------------ step 0: labels, IFs

// Gives every LABELDEF and LABEL of the statement list its label record.
// A file label number of 1 to 2^31 - 1 keeps its number as index; others
// take the function's counter.
void resolve_labels(FUNINFO &fi) {
  std::unordered_map<uint32_t, LABREC *> by_number;
  auto record = [&](uint32_t number) {
    auto it = by_number.find(number);
    if (it != by_number.end())
      return it->second;
    const int32_t index = number >= 1 && number <= 0x7fffffffu ? static_cast<int32_t>(number) : 0;
    LABREC *lab = new_label(fi, index);
    by_number.emplace(number, lab);
    return lab;
  };
  // A label defined twice or used without a definition leaves no sound
  // graph to build: the front end wrote a broken body.
  char msg[96];
  for (STMT &s : fi.statements)
    if (s.tree && s.tree->op == LABELDEF) {
      const uint32_t number = s.tree->label_number();
      if (by_number.count(number)) {
        std::snprintf(msg, sizeof msg, "label L%u is defined twice", number);
        terminate_abnormally(msg);
      }
      s.tree->label = record(number);
    }
  for (STMT &s : fi.statements)
    walk_tree(s.tree, [&](NODE *n) {
      if (n->op == LABEL && !n->label) {
        const uint32_t number = n->label_number();
        if (!by_number.count(number)) {
          std::snprintf(msg, sizeof msg, "label L%u is used but never defined", number);
          terminate_abnormally(msg);
        }
        n->label = record(number);
        ++n->label->refcount;
      }
    });
}

NODE *label_leaf_of(FUNINFO &fi, LABREC *lab) {
  NODE *leaf = new_node(LABEL, void_type(fi));
  leaf->label = lab;
  leaf->set_label_number(static_cast<uint32_t>(lab->index));
  ++lab->refcount;
  return leaf;
}

// The CBRANCH and ENDLOOP statements of the file become IFs.  The fall-
// through target is the following BRANCH's label (the BRANCH goes), or a
// fresh label defined right after the statement.
void make_ifs(FUNINFO &fi) {
  std::vector<STMT> out;
  out.reserve(fi.statements.size());
  TYPE *v = void_type(fi);
  auto &st = fi.statements;
  for (size_t i = 0; i < st.size(); ++i) {
    NODE *t = st[i].tree;
    const bool cbranch = t->op == CBRANCH && t->right && t->right->op == LABEL;
    const bool endloop = t->op == ENDLOOP && t->right && t->right->op == LABEL;
    if (!cbranch && !endloop) {
      out.push_back(st[i]);
      continue;
    }
    LABREC *fall = nullptr;
    bool fresh = false;
    if (i + 1 < st.size() && st[i + 1].tree->op == BRANCH && st[i + 1].tree->left &&
        st[i + 1].tree->left->op == LABEL) {
      fall = st[i + 1].tree->left->label;
      erase_tree(st[i + 1].tree);
      ++i;
    } else {
      fall = new_label(fi);
      fresh = true;
    }
    NODE *targets;
    NODE *cond;
    if (cbranch) {
      // CBRANCH(c, L) goes to L when c is false.
      cond = t->left;
      NODE *taken = t->right;
      t->left = t->right = nullptr;
      erase_tree(t);
      targets = make_node(COMMA, label_leaf_of(fi, fall), taken, v);
    } else {
      cond = t;   // ENDLOOP is true while the loop goes on
      targets = make_node(COMMA, label_leaf_of(fi, t->right->label), label_leaf_of(fi, fall), v);
    }
    out.push_back({make_node(IF, cond, targets, v), st[i].pos});
    if (fresh) {
      NODE *def = new_node(LABELDEF, v);
      def->label = fall;
      out.push_back({def, st[i].pos});
    }
  }
  st = std::move(out);
}

// ----------------------------------------------------------- step 1: cutting

bool is_param_copy(const FUNINFO &fi, const NODE *t) {
  if (!t)
    return false;
  if (t->op == PCOMMA)
    return true;
  if (t->op != ASG || !t->left || !t->right || t->left->op != NAME || t->right->op != NAME)
    return false;
  const SYMTAB *local = t->left->sym();
  const SYMTAB *param = t->right->sym();
  if (!local || !param || local == param)
    return false;
  if (std::find(fi.params.begin(), fi.params.end(), param) == fi.params.end())
    return false;
  return std::string_view(local->name()) == std::string_view(param->name());
}

class Cutter {
public:
  explicit Cutter(FUNINFO &fi) : fi_(fi) {}

  void run() {
    auto &st = fi_.statements;
    // The exit block: one URETURN with a fresh label.
    exit_ = new BBLK(&fi_);
    attach_label(exit_, new_label(fi_));
    append_statement(exit_, make_node(URETURN, new_node(NOP, void_type(fi_)), nullptr,
                                      void_type(fi_)),
                     fi_.end_pos);
    fi_.exit_bb = exit_;
    blocks_.push_front(exit_);

    if (st.empty() || !(st.back().tree->op == BRANCH || st.back().tree->op == RETURN ||
                        st.back().tree->op == URETURN))
      st.push_back({make_node(URETURN, new_node(NOP, void_type(fi_)), nullptr, void_type(fi_)),
                    fi_.end_pos});

    for (size_t i = st.size(); i-- > 0;)
      cut(i);
    if (!pending_.empty())
      finish(nullptr);
    st.clear();

    // Creation chain in program order: entry first, exit last.
    BBLK *prev = nullptr;
    for (BBLK *bb : blocks_) {
      bb->all_next = nullptr;
      if (prev)
        prev->all_next = bb;
      else
        fi_.bb_list = bb;
      prev = bb;
    }
  }

private:
  void cut(size_t i) {
    auto &st = fi_.statements;
    NODE *t = st[i].tree;
    const SrcPos pos = st[i].pos;
    switch (t->op) {
    case RETURN:
    case BRANCH:
    case URETURN:
      drop_pending();
      pending_.push_front({t, pos});
      return;
    case IF:
      if (!pending_.empty())
        finish(nullptr);
      pending_.push_front({t, pos});
      return;
    case SWITCH:
      cut_switch(t, pos);
      return;
    case LABELDEF:
      cut_label(i, t, pos);
      return;
    case PPRAGMA:
      if (!pending_.empty() && is_param_copy(fi_, pending_.front().tree))
        pending_.insert(pending_.begin() + 1, {t, pos});
      else
        pending_.push_front({t, pos});
      return;
    default:
      pending_.push_front({t, pos});
      return;
    }
  }

  static bool has_default(const NODE *cases) {
    while (cases && cases->op == COMMA) {
      if (cases->right && cases->right->op == DEFAULT)
        return true;
      cases = cases->left;
    }
    return cases && cases->op == DEFAULT;
  }

  // Where control goes after a SWITCH without DEFAULT, given the
  // statements that follow it up to the next label.
  LABREC *switch_fallthrough() {
    if (!pending_.empty()) {
      NODE *first = pending_.front().tree;
      if (first->op == BRANCH && first->left && first->left->op == LABEL && first->left->label) {
        LABREC *lab = first->left->label;
        drop_pending();
        return lab;
      }
      if (first->op == URETURN) {
        drop_pending();
        return exit_->labels;
      }
      LABREC *lab = new_label(fi_);
      finish(lab);
      return lab;
    }
    return block_label(blocks_.front());
  }

  void cut_switch(NODE *t, SrcPos pos) {
    if (t->right && !has_default(t->right)) {
      LABREC *target = switch_fallthrough();
      TYPE *v = void_type(fi_);
      NODE *dflt = make_node(DEFAULT, label_leaf_of(fi_, target), nullptr, v);
      t->right = make_node(COMMA, t->right, dflt, v);
    } else if (!pending_.empty()) {
      if (pending_.front().tree->op == BRANCH)
        drop_pending();
      else
        finish(nullptr);
    }
    pending_.push_front({t, pos});
  }

  void cut_label(size_t i, NODE *t, SrcPos pos) {
    LABREC *lab = t->label;
    t->label = nullptr;
    erase_tree(t);
    if (!pending_.empty())
      finish(lab);
    else
      attach_label(blocks_.front(), lab);   // two labels in a row: one block
    const auto &st = fi_.statements;
    bool falls_in = i > 0;
    if (i > 0) {
      switch (st[i - 1].tree->op) {
      case RETURN: case CBRANCH: case BRANCH: case URETURN: case IF: case LABELDEF:
      case SWITCH:
        falls_in = false;
        break;
      default:
        break;
      }
    }
    // A SWITCH falls into the label only through its DEFAULT, which the
    // switch rule adds; no block falls through.
    if (falls_in || i == 0) {
      NODE *br = make_node(BRANCH, label_leaf_of(fi_, lab), nullptr, void_type(fi_));
      pending_.push_front({br, pos});
    }
  }

  void drop_pending() {
    for (STMT &s : pending_)
      erase_tree(s.tree);
    pending_.clear();
  }

  void finish(LABREC *lab) {
    BBLK *bb = new BBLK(&fi_);
    STLIST **tail = &bb->statements;
    for (STMT &s : pending_) {
      *tail = new_stlist(s.tree, s.pos);
      tail = &(*tail)->rest;
    }
    pending_.clear();
    if (lab)
      attach_label(bb, lab);
    blocks_.push_front(bb);
  }

  FUNINFO &fi_;
  BBLK *exit_ = nullptr;
  std::deque<STMT> pending_;     // in execution order
  std::deque<BBLK *> blocks_;    // in program order
};

// ------------------------------------------------ step 3: depth-first order

int successor_class(const BBLK *s) {
  const size_t n = edge_count(s->successors);
  return n == 1 ? 0 : n >= 2 ? 1 : 2;
}

// Successors with one successor first, then those with two or more (both
// in their order), then those with none (reversed).
void reorder_successors(BBLK *bb) {
  std::vector<EDGE *> groups[3];
  for (EDGE *e = bb->successors; e; e = e->rest)
    groups[successor_class(e->bb)].push_back(e);
  std::reverse(groups[2].begin(), groups[2].end());
  EDGE **tail = &bb->successors;
  for (auto &g : groups)
    for (EDGE *e : g) {
      *tail = e;
      tail = &e->rest;
    }
  *tail = nullptr;
}

void depth_first_order(FUNINFO &fi) {
  int32_t count = 0;
  FOR_EACH_BLOCK_ALL(bb, fi) {
    reorder_successors(bb);
    bb->visited = false;
    bb->dfn = 0;
    bb->next = nullptr;
    ++count;
  }
  BBLK *entry = fi.bb_list;
  BBLK *head = nullptr;
  std::vector<BBLK *> stack{entry};
  entry->visited = true;
  entry->walk = entry->successors;
  int32_t number = count;
  while (!stack.empty()) {
    BBLK *b = stack.back();
    if (b->walk) {
      BBLK *s = b->walk->bb;
      b->walk = b->walk->rest;
      if (!s->visited) {
        s->visited = true;
        s->walk = s->successors;
        stack.push_back(s);
      }
      continue;
    }
    stack.pop_back();
    b->next = head;
    head = b;
    b->dfn = number--;
  }
}

// ----------------------------------------------------- step 4: renumbering

// Recounts the references of every label and refreshes the numbers the
// LABEL leaves carry (printed label numbers follow the records).
void count_label_references(FUNINFO &fi) {
  for (auto &lab : fi.label_records)
    lab->refcount = 0;
  FOR_EACH_BLOCK_ALL(bb, fi)
    for (STLIST *s = bb->statements; s; s = s->rest)
      walk_tree(s->first, [](NODE *n) {
        if (n->op != LABEL || !n->label)
          return;
        if (n->label->refcount < 0xffff)
          ++n->label->refcount;
        n->set_label_number(static_cast<uint32_t>(n->label->index));
      });
}

void record_prologue(FUNINFO &fi) {
  uint32_t n = 0;
  for (STLIST *s = fi.bb_list->statements; s && is_param_copy(fi, s->first); s = s->rest)
    ++n;
  fi.prologue_length = n;
}

void renumber(FUNINFO &fi) {
  FOR_EACH_BLOCK_ALL(bb, fi) {
    free_edges(bb->predecessors);
    bb->visited = false;
  }
  int32_t k = 0;
  BBLK *last = nullptr;
  for (BBLK *bb = fi.bb_list; bb; bb = bb->next) {
    if (bb->visited)
      terminate_abnormally("!bb->visited");
    bb->visited = true;
    for (EDGE *e = bb->successors; e; e = e->rest)
      add_edge(e->bb->predecessors, bb);
    bb->dfn = ++k;
    if (bb->labels)
      bb->labels->index = bb->dfn;
    bb->prev = last;
    last = bb;
  }
  fi.bb_list->prev = last;
  fi.bb_count = static_cast<uint32_t>(k);

  std::vector<BBLK *> unreachable;
  FOR_EACH_BLOCK_ALL(bb, fi)
    if (!bb->visited)
      unreachable.push_back(bb);
  // Predecessor lists were rebuilt from the reachable blocks only, so the
  // unreachable blocks' successor edges have no other end to update; they
  // are dropped first, since the blocks they name may go before them.
  for (BBLK *bb : unreachable)
    free_edges(bb->successors);
  for (BBLK *bb : unreachable) {
    if (trace_on())
      debug_printf("\nUNREACHABLE BASIC BLOCK: UON==%d\n", static_cast<int>(bb->uon));
    destroy_block(bb);
  }
  FOR_EACH_BLOCK_ALL(bb, fi)
    bb->visited = false;
  count_label_references(fi);
  FOR_EACH_BLOCK_ALL(bb, fi)
    for (LABREC *lab = bb->labels; lab; lab = lab->rest)
      lab->bb = bb;
  record_prologue(fi);
  if (fi.root_loop)
    sort_loop_members(fi);
  mark_dominators_stale(fi);
}

// ------------------------------------------------------ tail recursion

bool takes_address_of_locals(FUNINFO &fi) {
  bool found = false;
  FOR_EACH_BLOCK_ALL(bb, fi)
    for (STLIST *s = bb->statements; s && !found; s = s->rest)
      walk_tree(s->first, [&](NODE *n) {
        if ((n->op == UAND || n->op == ARGREF) && n->left && n->left->op == NAME) {
          const SYMTAB *sym = n->left->sym();
          if (sym && sym->level >= 1)
            found = true;
        }
        if (n->op == ACONV && n->left && n->left->op == NAME && n->left->sym() &&
            n->left->sym()->level >= 1)
          found = true;
      });
  return found;
}

// Variable-length arrays ("__vla_alloc") live in the frame until the
// function returns or their declaration runs again: a jump back to the top
// would end the lifetime of an array the new parameters may point to.
bool allocates_in_frame(FUNINFO &fi) {
  bool found = false;
  FOR_EACH_BLOCK_ALL(bb, fi)
    for (STLIST *s = bb->statements; s && !found; s = s->rest)
      walk_tree(s->first, [&](NODE *n) {
        if (n->op == ICALL && n->callee() && std::strcmp(n->callee(), "__vla_alloc") == 0)
          found = true;
      });
  return found;
}

bool is_self_call(const NODE *t) {
  if (!t || (t->op != CALL && t->op != UCALL))
    return false;
  const NODE *callee = t->left;
  return callee && callee->op == UAND && callee->left && callee->left->op == NAME &&
         callee->left->sym() == currfunc;
}

void collect_args(NODE *list, std::vector<NODE *> &out) {
  if (list->op == COMMA) {
    collect_args(list->left, out);
    collect_args(list->right, out);
    return;
  }
  out.push_back(list);
}

bool reads_any(NODE *tree, const std::vector<SYMTAB *> &syms) {
  bool found = false;
  walk_tree(tree, [&](NODE *n) {
    if (n->op == NAME && std::find(syms.begin(), syms.end(), n->sym()) != syms.end())
      found = true;
  });
  return found;
}

// The block that follows the parameter-copy prologue: the entry block when
// there is no prologue, else the rest of the entry block split off it.
BBLK *body_start(FUNINFO &fi) {
  BBLK *entry = fi.bb_list;
  const uint32_t n = fi.prologue_length;
  // A self-jump must never enter the entry block, which has no predecessors.
  STLIST *cut_after = nullptr;
  STLIST *s = entry->statements;
  for (uint32_t i = 0; i < n && s; ++i) {
    cut_after = s;
    s = s->rest;
  }
  BBLK *rest = new BBLK(&fi);
  rest->uon = 0;
  if (cut_after) {
    rest->statements = cut_after->rest;
    cut_after->rest = nullptr;
  } else {
    rest->statements = entry->statements;
    entry->statements = nullptr;
  }
  // The successors move with the block's end.
  while (entry->successors) {
    BBLK *succ = entry->successors->bb;
    unlink_blocks(entry, succ);
    link_blocks(rest, succ);
  }
  // Chain `rest` right after the entry in creation order.
  for (BBLK **link = &fi.bb_list; *link; link = &(*link)->all_next)
    if (*link == rest) {
      *link = rest->all_next;
      break;
    }
  rest->all_next = entry->all_next;
  entry->all_next = rest;
  SrcPos pos = rest->statements ? rest->statements->pos : fi.body_pos;
  append_statement(entry, make_branch(rest), pos);
  link_blocks(entry, rest);
  return rest;
}

// The targets the arguments go to: the parameters, or their local copies
// when the entry block copies them.
std::vector<SYMTAB *> argument_targets(FUNINFO &fi) {
  std::vector<SYMTAB *> targets = fi.params;
  uint32_t i = 0;
  for (STLIST *s = fi.bb_list->statements; s && i < fi.prologue_length; s = s->rest, ++i) {
    NODE *t = s->first;
    if (t->op != ASG)
      continue;
    for (SYMTAB *&target : targets)
      if (target == t->right->sym())
        target = t->left->sym();
  }
  return targets;
}

} // namespace

// ----------------------------------------------------------------- interface

void compute_successors(BBLK *bb) {
  while (bb->successors)
    unlink_blocks(bb, bb->successors->bb);
  NODE *t = last_tree(bb);
  if (!t || !is_block_end(t))
    return;
  // The labels in the tree's order, linked last first (each edge goes to
  // the front): an IF's successors come out as T1, T2 and a SWITCH's in
  // case order.
  std::vector<BBLK *> found;
  walk_tree(t, [&](NODE *n) {
    if (n->op == LABEL)
      if (BBLK *target = label_target(n))
        found.push_back(target);
  });
  std::reverse(found.begin(), found.end());
  for (BBLK *target : found)
    link_blocks(bb, target);
}

bool remove_tail_recursion(BBLK *bb) {
  FUNINFO &fi = *bb->owner;
  if (fi.no_tail_recursion || !currfunc || !run.program)
    return false;
  const size_t nsucc = edge_count(bb->successors);
  if (nsucc > 1 || (nsucc == 1 && bb->successors->bb != fi.exit_bb))
    return false;
  STLIST *last = last_statement(bb);
  if (!last)
    return false;
  STLIST *call_item = nullptr;
  NODE *call = nullptr;
  if (last->first->op == RETURN && is_self_call(last->first->left)) {
    call_item = last;
    call = last->first->left;
  } else if (last->first->op == BRANCH || last->first->op == URETURN) {
    for (STLIST *s = bb->statements; s && s->rest; s = s->rest)
      if (s->rest == last && is_self_call(s->first)) {
        call_item = s;
        call = s->first;
      }
  }
  if (!call)
    return false;
  // The call must pass exactly the parameters, none of them a structure, to
  // a function without variable arguments; and no local may have its
  // address taken, since the jump reuses the frame that the call would
  // have made anew.
  const TYPE *ftype = currfunc->type() ? currfunc->type()->resolved : nullptr;
  if (!ftype || !ftype->is_func() || ftype->varargs)
    return false;
  std::vector<NODE *> args;
  if (call->op == CALL && call->right)
    collect_args(call->right, args);
  if (args.size() != fi.params.size())
    return false;
  for (NODE *a : args)
    if (a->op == STARG)
      return false;
  for (SYMTAB *p : fi.params)
    if (!p->type() || !(p->type()->is_scalar()))
      return false;
  if (takes_address_of_locals(fi) || allocates_in_frame(fi))
    return false;

  if (trace_on())
    debug_printf("\n  ===> Tail recursive self-call removed at line %ld: %s\n\n",
                 static_cast<long>(call_item->pos.line), tree_source(call).c_str());

  std::vector<SYMTAB *> targets = argument_targets(fi);
  BBLK *start = body_start(fi);
  TYPE *v = void_type(fi);

  // The arguments are evaluated first (into temporaries when one of them
  // reads a variable that is assigned), then assigned, each converted to
  // its target's type.  A parameter copied by the prologue gets the new
  // value too, so that the body may still read either.
  std::vector<SYMTAB *> assigned = targets;
  assigned.insert(assigned.end(), fi.params.begin(), fi.params.end());
  bool need_temps = false;
  for (NODE *a : args)
    need_temps |= reads_any(a, assigned);
  std::vector<NODE *> stmts;
  std::vector<NODE *> values;
  for (size_t i = 0; i < args.size(); ++i) {
    NODE *a = copy_node(args[i], false, true);
    TYPE *ty = targets[i]->type();
    if (a->type != ty)
      a = make_node(ty->is_pointer() ? PCONV : SCONV, a, nullptr, ty);
    if (need_temps && args.size() > 1) {
      SYMTAB *tmp = run.program->new_temporary('R', ty);
      stmts.push_back(make_node(ASG, mk_name(tmp), a, ty));
      values.push_back(mk_name(tmp));
    } else {
      values.push_back(a);
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    TYPE *ty = targets[i]->type();
    stmts.push_back(make_node(ASG, mk_name(targets[i]), values[i], ty));
  }
  for (size_t i = 0; i < args.size(); ++i)
    if (targets[i] != fi.params[i])
      stmts.push_back(make_node(ASG, mk_name(fi.params[i]), mk_name(targets[i]),
                                fi.params[i]->type()));
  NODE *asm_stmt = new_node(ASM, v);
  static const char kTailText[] = "***\t; tail recursive call occurs here";
  asm_stmt->set_scon(kTailText, sizeof kTailText - 1);
  stmts.push_back(asm_stmt);
  stmts.push_back(make_branch(start));

  // Replace the call and what follows it in the block.
  const SrcPos pos = call_item->pos;
  STLIST *before = nullptr;
  for (STLIST *s = bb->statements; s && s != call_item; s = s->rest)
    before = s;
  delete_statement_list(call_item);
  if (before)
    before->rest = nullptr;
  else
    bb->statements = nullptr;
  for (NODE *t : stmts)
    append_statement(bb, t, pos);
  compute_successors(bb);
  return true;
}

void build_flow_graph() {
  FUNINFO &fi = *currfuninfo;
  if (fi.bb_list)
    return;
  resolve_labels(fi);
  make_ifs(fi);
  Cutter(fi).run();

  // Step 2: creation numbers and successor lists.
  int32_t uon = 0;
  FOR_EACH_BLOCK_ALL(bb, fi) {
    bb->uon = ++uon;
    bb->dfn = 0;
    STLIST *last = last_statement(bb);
    if (bb != fi.exit_bb && last && last->first->op == URETURN) {
      erase_tree(last->first);
      last->first = make_branch(fi.exit_bb);
    }
    compute_successors(bb);
    update_positions(bb);
  }
  if (opt_level() >= 2) {
    // The first numbering finds the prologue that the matching needs.
    renumber_cfg();
    std::vector<BBLK *> blocks;
    FOR_EACH_BLOCK_ALL(bb, fi)
      blocks.push_back(bb);
    for (BBLK *bb : blocks)
      remove_tail_recursion(bb);
  }
  renumber_cfg();
}

void renumber_cfg() {
  FUNINFO &fi = *currfuninfo;
  if (!fi.bb_list)
    return;
  depth_first_order(fi);
  renumber(fi);
}

BBLK *split_edge(BBLK *from, BBLK *to) {
  FUNINFO &fi = *from->owner;
  BBLK *mid = new BBLK(&fi);
  // After `from` in both chains.
  for (BBLK **link = &fi.bb_list; *link; link = &(*link)->all_next)
    if (*link == mid) {
      *link = mid->all_next;
      break;
    }
  mid->all_next = from->all_next;
  from->all_next = mid;
  mid->next = from->next;
  mid->prev = from;
  if (from->next)
    from->next->prev = mid;
  from->next = mid;

  retarget_labels(last_tree(from), to, mid);
  const SrcPos pos = from->last_pos;
  append_statement(mid, make_branch(to), pos);
  update_positions(mid);
  unlink_blocks(from, to);
  link_blocks(from, mid);
  link_blocks(mid, to);

  // The new block joins the outer of the two loops.
  LOOPINFO *loop = from->loop;
  if (to->loop && (!loop || to->loop->depth < loop->depth))
    loop = to->loop;
  mid->loop = loop;
  mid->loop_depth = loop ? loop->depth : 0;
  if (loop)
    add_edge(loop->members, mid);
  if (to->loop && to->loop->header == to && to->loop->preheader == from)
    to->loop->preheader = mid;
  if (fi.df_vector_size)
    for (bitvector *&v : mid->dataflow)
      v = new bitvector(fi.df_vector_size);
  mark_dominators_stale(fi);
  return mid;
}

void split_critical_edges(bool force) {
  FUNINFO &fi = *currfuninfo;
  if (!fi.bb_list)
    return;
  bool split = false;
  std::vector<BBLK *> order;
  FOR_EACH_BLOCK(bb, fi)
    order.push_back(bb);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    BBLK *bb = *it;
    if (edge_count(bb->successors) < 2)
      continue;
    std::vector<BBLK *> succs;
    for (EDGE *e = bb->successors; e; e = e->rest)
      succs.push_back(e->bb);
    for (BBLK *s : succs) {
      if (edge_count(s->predecessors) < 2)
        continue;
      if (!force) {
        const bool outside = !bb->loop || bb->loop->depth == 0;
        if (outside && s->dfn <= bb->dfn)
          continue;
        if (s->loop && s->loop->header == s && s->loop->tail == bb)
          continue;
      }
      if (trace_on())
        debug_printf("Splitting critical edge between BB%d and BB%d\n", static_cast<int>(bb->dfn),
                     static_cast<int>(s->dfn));
      split_edge(bb, s);
      split = true;
    }
  }
  if (split)
    renumber_cfg();
}

// ------------------------------------------------------------------- dumping

void dump_flow_graph(FUNINFO &fi, const char *title) {
  if (run.debug_flag < 2)
    return;
  debug_printf("\n---- %s: %s() ----\n", title, fi.symbol ? fi.symbol->name() : "?");
  FOR_EACH_BLOCK(bb, fi) {
    debug_printf("BB%d (uon %d)", static_cast<int>(bb->dfn), static_cast<int>(bb->uon));
    for (LABREC *lab = bb->labels; lab; lab = lab->rest)
      debug_printf(" L%d/%d", static_cast<int>(lab->index), static_cast<int>(lab->refcount));
    debug_printf("  pred:");
    for (EDGE *e = bb->predecessors; e; e = e->rest)
      debug_printf(" %d", static_cast<int>(e->bb->dfn));
    debug_printf("  succ:");
    for (EDGE *e = bb->successors; e; e = e->rest)
      debug_printf(" %d", static_cast<int>(e->bb->dfn));
    if (bb->loop_depth)
      debug_printf("  depth %d", static_cast<int>(bb->loop_depth));
    debug_printf("\n");
    for (STLIST *s = bb->statements; s; s = s->rest)
      debug_printf("\t%s\n", tree_source(s->first).c_str());
  }
}

} // namespace zor
