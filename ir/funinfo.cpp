// ir/funinfo.cpp - the per-function record and the function being worked on.
#include "ir/funinfo.h"

#include "cfg/bblk.h"
#include "cfg/dominator.h"
#include "cfg/loops.h"

#include "ir/node.h"
#include "ir/symtab.h"

namespace zor {

SYMTAB *currfunc = nullptr;
FUNINFO *currfuninfo = nullptr;

FUNINFO::FUNINFO() = default;

FUNINFO::~FUNINFO() {
  release_flow_graph();
  release_statements();
}

void FUNINFO::release_flow_graph() {
  free_loops(*this);
  dominator.reset();
  while (bb_list) {
    BBLK *bb = bb_list;
    bb_list = bb->all_next;
    delete_statement_list(bb->statements);
    bb->statements = nullptr;
    free_edges(bb->predecessors);
    free_edges(bb->successors);
    bb->all_next = nullptr;
    bb->owner = nullptr;   // the whole graph goes: no unlinking
    delete bb;
  }
  exit_bb = nullptr;
  bb_count = 0;
  label_records.clear();
  bb_registry_.clear();
}

void FUNINFO::release_statements() {
  for (STMT &s : statements)
    erase_tree(s.tree);
  statements.clear();
  for (EhtEntry &e : eht)
    if (e.cleanup)
      erase_tree(static_cast<NODE *>(e.cleanup));
  eht.clear();
  if (profiling_branch)
    erase_tree(profiling_branch);
  profiling_branch = nullptr;
  for (NODE *a : global_assertions)
    erase_tree(a);
  global_assertions.clear();
}

void FUNINFO::begin_scopes() {
  scopes_.clear();
  scope_ = nullptr;
  scope_level = 0;
  open_scope();
}

void FUNINFO::open_scope() {
  auto s = std::make_unique<SCOPE>();
  s->parent = scope_;
  s->level = ++scope_level;
  scope_ = s.get();
  scopes_.push_back(std::move(s));
}

void FUNINFO::close_scope() {
  if (!scope_ || scope_level <= 1)
    return;
  scope_->closed = true;
  scope_ = scope_->parent;
  --scope_level;
}

void FUNINFO::close_all_scopes() {
  for (; scope_; scope_ = scope_->parent)
    scope_->closed = true;
  scope_level = 0;
}

void FUNINFO::register_local(SYMTAB *sym) {
  if (!scope_)
    return;
  sym->next_local = nullptr;
  if (scope_->last)
    scope_->last->next_local = sym;
  else
    scope_->symbols = sym;
  scope_->last = sym;
}

} // namespace zor
