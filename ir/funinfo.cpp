// ir/funinfo.cpp - the per-function record and the function being worked on.
#include "ir/funinfo.h"

#include "ir/node.h"

namespace zor {

SYMTAB *currfunc = nullptr;
FUNINFO *currfuninfo = nullptr;

FUNINFO::~FUNINFO() { release_statements(); }

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
}

} // namespace zor
