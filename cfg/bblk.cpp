// cfg/bblk.cpp - basic blocks, their statement, edge and label lists.
#include "cfg/bblk.h"

#include "cfg/dominator.h"
#include "cfg/loops.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/symtab.h"
#include "ir/tree_walk.h"
#include "ir/type.h"

namespace zor {

namespace {

TYPE_PKG &types_of(const FUNINFO &fi) {
  if (fi.types)
    return *fi.types;
  if (fi.symbol && fi.symbol->type() && fi.symbol->type()->pkg)
    return *fi.symbol->type()->pkg;
  ir_internal_error();
}

TYPE *void_type(const FUNINFO &fi) { return void_type_of(fi); }

} // namespace

TYPE *void_type_of(const FUNINFO &fi) { return types_of(fi).mk_void(); }
TYPE *int_type_of(const FUNINFO &fi) { return types_of(fi).mk_int(IK_INT); }

BBLK::BBLK(FUNINFO *owner_) : serial_object(owner_, this), owner(owner_) {
  if (!owner)
    return;
  if (!owner->bb_list) {
    owner->bb_list = this;
    return;
  }
  BBLK *last = owner->bb_list;
  while (last->all_next)
    last = last->all_next;
  last->all_next = this;
}

BBLK::~BBLK() {
  free_edges(predecessors);
  free_edges(successors);
}

// ---------------------------------------------------------------- statements

STLIST *new_stlist(NODE *tree, SrcPos pos, STLIST *rest) {
  auto *s = new STLIST;
  s->first = tree;
  s->pos = pos;
  s->rest = rest;
  return s;
}

STLIST *last_statement(const BBLK *bb) {
  STLIST *s = bb->statements;
  while (s && s->rest)
    s = s->rest;
  return s;
}

NODE *last_tree(const BBLK *bb) {
  STLIST *s = last_statement(bb);
  return s ? s->first : nullptr;
}

STLIST *append_statement(BBLK *bb, NODE *tree, SrcPos pos) {
  return insert_statement_after(bb, last_statement(bb), tree, pos);
}

STLIST *insert_statement_after(BBLK *bb, STLIST *at, NODE *tree, SrcPos pos) {
  if (!at) {
    bb->statements = new_stlist(tree, pos, bb->statements);
    return bb->statements;
  }
  at->rest = new_stlist(tree, pos, at->rest);
  return at->rest;
}

void delete_statement(BBLK *bb, STLIST *item) {
  for (STLIST **link = &bb->statements; *link; link = &(*link)->rest) {
    if (*link == item) {
      *link = item->rest;
      erase_tree(item->first);
      delete item;
      return;
    }
  }
}

void delete_statement_list(STLIST *list) {
  while (list) {
    STLIST *rest = list->rest;
    erase_tree(list->first);
    delete list;
    list = rest;
  }
}

size_t statement_count(const BBLK *bb) {
  size_t n = 0;
  for (const STLIST *s = bb->statements; s; s = s->rest)
    ++n;
  return n;
}

void update_positions(BBLK *bb) {
  bb->first_pos = SrcPos{};
  bb->last_pos = SrcPos{};
  for (const STLIST *s = bb->statements; s; s = s->rest) {
    if (!s->pos.valid())
      continue;
    if (!bb->first_pos.valid())
      bb->first_pos = s->pos;
    bb->last_pos = s->pos;
  }
}

// --------------------------------------------------------------------- edges

EDGE *find_edge(EDGE *list, const BBLK *bb) {
  for (; list; list = list->rest)
    if (list->bb == bb)
      return list;
  return nullptr;
}

EDGE *add_edge(EDGE *&list, BBLK *bb) {
  if (EDGE *e = find_edge(list, bb))
    return e;
  auto *e = new EDGE;
  e->bb = bb;
  e->rest = list;
  list = e;
  return e;
}

bool remove_edge(EDGE *&list, BBLK *bb) {
  for (EDGE **link = &list; *link; link = &(*link)->rest) {
    if ((*link)->bb == bb) {
      EDGE *dead = *link;
      *link = dead->rest;
      delete dead;
      return true;
    }
  }
  return false;
}

size_t edge_count(const EDGE *list) {
  size_t n = 0;
  for (; list; list = list->rest)
    ++n;
  return n;
}

void free_edges(EDGE *&list) {
  while (list) {
    EDGE *rest = list->rest;
    delete list;
    list = rest;
  }
}

void link_blocks(BBLK *from, BBLK *to) {
  add_edge(from->successors, to);
  add_edge(to->predecessors, from);
  if (from->owner)
    mark_dominators_stale(*from->owner);
}

void unlink_blocks(BBLK *from, BBLK *to) {
  remove_edge(from->successors, to);
  remove_edge(to->predecessors, from);
  if (from->owner)
    mark_dominators_stale(*from->owner);
}

// -------------------------------------------------------------------- labels

LABREC *new_label(FUNINFO &fi, int32_t index) {
  auto lab = std::make_unique<LABREC>();
  if (index >= 1) {
    lab->index = index;
  } else {
    fi.label_counter = fi.label_counter <= -30001 ? -1 : fi.label_counter - 1;
    lab->index = fi.label_counter;
  }
  fi.label_records.push_back(std::move(lab));
  return fi.label_records.back().get();
}

void attach_label(BBLK *bb, LABREC *lab) {
  lab->bb = bb;
  lab->rest = nullptr;
  LABREC **link = &bb->labels;
  while (*link)
    link = &(*link)->rest;
  *link = lab;
}

LABREC *block_label(BBLK *bb) {
  if (!bb->labels)
    attach_label(bb, new_label(*bb->owner));
  return bb->labels;
}

NODE *make_label_leaf(LABREC *lab) {
  NODE *leaf = new_node(LABEL, lab->bb ? void_type(*lab->bb->owner) : nullptr);
  leaf->label = lab;
  leaf->set_label_number(static_cast<uint32_t>(lab->index));
  if (lab->refcount < 0xffff)
    ++lab->refcount;
  return leaf;
}

BBLK *label_target(const NODE *leaf) { return leaf && leaf->label ? leaf->label->bb : nullptr; }

// -------------------------------------------------------------- control trees

bool is_block_end(const NODE *stmt) {
  if (!stmt)
    return false;
  switch (stmt->op) {
  case BRANCH:
  case IF:
  case SWITCH:
  case RETURN:
  case URETURN:
    return true;
  default:
    return false;
  }
}

int retarget_labels(NODE *stmt, const BBLK *from, BBLK *to) {
  int changed = 0;
  walk_tree(stmt, [&](NODE *n) {
    if (n->op != LABEL || !n->label || n->label->bb != from)
      return;
    LABREC *lab = block_label(to);
    if (n->label->refcount)
      --n->label->refcount;
    n->label = lab;
    n->set_label_number(static_cast<uint32_t>(lab->index));
    if (lab->refcount < 0xffff)
      ++lab->refcount;
    ++changed;
  });
  return changed;
}

NODE *make_branch(BBLK *to) {
  TYPE *v = void_type(*to->owner);
  return make_node(BRANCH, make_label_leaf(block_label(to)), nullptr, v);
}

NODE *make_if(NODE *cond, BBLK *t1, BBLK *t2) {
  TYPE *v = void_type(*t1->owner);
  NODE *targets =
      make_node(COMMA, make_label_leaf(block_label(t1)), make_label_leaf(block_label(t2)), v);
  return make_node(IF, cond, targets, v);
}

// ----------------------------------------------------------- whole functions

void destroy_block(BBLK *bb) {
  FUNINFO *fi = bb->owner;
  while (bb->successors)
    unlink_blocks(bb, bb->successors->bb);
  while (bb->predecessors)
    unlink_blocks(bb->predecessors->bb, bb);
  for (LABREC *lab = bb->labels; lab; lab = lab->rest)
    lab->bb = nullptr;
  bb->labels = nullptr;
  delete_statement_list(bb->statements);
  bb->statements = nullptr;
  // No loop may keep the block as a member or a landmark.
  if (fi)
    for (auto &loop : fi->loops) {
      remove_edge(loop->members, bb);
      if (loop->header == bb)
        loop->header = nullptr;
      if (loop->tail == bb)
        loop->tail = nullptr;
      if (loop->preheader == bb)
        loop->preheader = nullptr;
    }
  if (fi) {
    for (BBLK **link = &fi->bb_list; *link; link = &(*link)->all_next) {
      if (*link == bb) {
        *link = bb->all_next;
        break;
      }
    }
    // The dfn chain: unlink from `next`; `prev` is repaired by renumbering.
    for (BBLK *b = fi->bb_list; b; b = b->all_next)
      if (b->next == bb)
        b->next = bb->next;
    if (fi->exit_bb == bb)
      fi->exit_bb = nullptr;
  }
  delete bb;
}

} // namespace zor
