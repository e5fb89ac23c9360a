// cfg/loops.cpp - natural loops, the loop tree and pre-headers.
//
// build_loops visits the blocks from the last dfn to the first; each back
// edge P -> H (dfn(P) >= dfn(H)) whose header passes the header test makes
// one loop, collected backwards from P.  Loops found earlier (inner ones:
// their headers come later in dfn order) are nested under the loop whose
// body reaches them; their header stands for them in its member list.  A
// back edge that fails the test makes the graph irreducible, and then only
// the root loop is built.  Needs the dfn numbering of the latest
// renumber_cfg and the dominators (rebuilt here when stale); sorts each
// header's predecessor list by dfn.  add_preheader changes edges and
// renumbers the graph.
#include "cfg/loops.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "cfg/bblk.h"
#include "cfg/dominator.h"
#include "cfg/flowgraph.h"
#include "driver/run.h"
#include "ir/bitvector.h"
#include "ir/funinfo.h"

namespace zor {

LOOPINFO::~LOOPINFO() { free_edges(members); }

namespace {

LOOPINFO *outermost(LOOPINFO *loop) {
  while (loop->parent)
    loop = loop->parent;
  return loop;
}

bool before(const SrcPos &a, const SrcPos &b) {
  return a.line != b.line ? a.line < b.line : a.column < b.column;
}

// Widens the loop's source range to cover [first, last].
void widen(LOOPINFO *loop, const SrcPos &first, const SrcPos &last) {
  if (first.valid() && (!loop->first_pos.valid() || before(first, loop->first_pos)))
    loop->first_pos = first;
  if (last.valid() && (!loop->last_pos.valid() || before(loop->last_pos, last)))
    loop->last_pos = last;
}

// Relinks an edge list in ascending dfn order (stable among equal numbers).
void sort_by_dfn(EDGE *&list) {
  std::vector<EDGE *> items;
  for (EDGE *e = list; e; e = e->rest)
    items.push_back(e);
  std::stable_sort(items.begin(), items.end(),
                   [](const EDGE *a, const EDGE *b) { return a->bb->dfn < b->bb->dfn; });
  EDGE **tail = &list;
  for (EDGE *e : items) {
    *tail = e;
    tail = &e->rest;
  }
  *tail = nullptr;
}

// Adds `bb` to `loop`'s body.  A block already in a loop stands for the
// outermost loop around it, which `loop` adopts; its header joins instead.
// Returns the block whose predecessors the walk must look at next, or null.
BBLK *collect(LOOPINFO *loop, BBLK *bb) {
  if (!bb->loop) {
    bb->loop = loop;
    add_edge(loop->members, bb);
    widen(loop, bb->first_pos, bb->last_pos);
    return bb;
  }
  LOOPINFO *inner = outermost(bb->loop);
  if (inner == loop)
    return nullptr;
  inner->parent = loop;
  add_edge(loop->members, inner->header);
  widen(loop, inner->first_pos, inner->last_pos);
  widen(loop, inner->header->first_pos, inner->header->last_pos);
  // A loop with the same header was entered through H already: the walk
  // stops there.
  return inner->header == loop->header ? nullptr : inner->header;
}

// Builds the natural loop of the back edge p -> h as loop number `number`.
// The walk also applies the header test: the body (the blocks that reach p
// without passing h) must not hold a block without predecessors, so that h
// is the only way in.  With h dominating p this always holds; it guards
// against dominators that no longer fit the graph.  False when the test
// fails (the caller then drops every loop, so the half-built one does no
// harm).
bool make_natural_loop(FUNINFO &fi, BBLK *h, BBLK *p, int number) {
  fi.loops.push_back(std::make_unique<LOOPINFO>());
  LOOPINFO *loop = fi.loops.back().get();
  loop->number = static_cast<uint16_t>(number);
  loop->header = h;
  loop->tail = p;

  std::vector<BBLK *> work;
  if (p != h)
    if (BBLK *next = collect(loop, p))
      work.push_back(next);
  while (!work.empty()) {
    BBLK *x = work.back();
    work.pop_back();
    if (!x->predecessors)
      return false;
    for (EDGE *e = x->predecessors; e; e = e->rest) {
      if (e->bb == h)
        continue;
      if (BBLK *next = collect(loop, e->bb))
        work.push_back(next);
    }
  }
  // The header joins last (when it already stands for an adopted loop with
  // the same header, it is listed once for both).
  collect(loop, h);
  return true;
}

void clear_block_loops(FUNINFO &fi) {
  FOR_EACH_BLOCK_ALL(bb, fi) {
    bb->loop = nullptr;
    bb->loop_depth = 0;
  }
}

// The root loop: every block outside the natural loops and the header of
// every outermost loop.
void make_root(FUNINFO &fi, bool irreducible) {
  auto root_owner = std::make_unique<LOOPINFO>();
  LOOPINFO *root = root_owner.get();
  root->number = static_cast<uint16_t>(fi.loops.size() + 1);
  root->header = fi.bb_list;
  root->irreducible = irreducible;
  FOR_EACH_BLOCK(bb, fi) {
    if (bb->loop)
      continue;
    bb->loop = root;
    add_edge(root->members, bb);
    widen(root, bb->first_pos, bb->last_pos);
  }
  for (auto &loop : fi.loops) {
    if (loop->parent)
      continue;
    loop->parent = root;
    add_edge(root->members, loop->header);
    widen(root, loop->first_pos, loop->last_pos);
  }
  fi.loops.push_back(std::move(root_owner));
  fi.root_loop = root;
}

// Depths from the root down.  A parent is always made after its children
// (an outer loop is found after the loops it adopts), so walking the loops
// from the root backwards meets every parent first.
void set_depths(FUNINFO &fi) {
  for (auto it = fi.loops.rbegin(); it != fi.loops.rend(); ++it) {
    LOOPINFO *loop = it->get();
    const int32_t depth = loop->parent ? loop->parent->depth + 1 : 0;
    if (depth > std::numeric_limits<int16_t>::max()) {
      std::fprintf(stderr, "Too many nested loops:  %d\n", static_cast<int>(depth));
      debug_printf("Too many nested loops:  %d\n", static_cast<int>(depth));
      terminate_abnormally(nullptr);
    }
    loop->depth = static_cast<int16_t>(depth);
  }
  FOR_EACH_BLOCK(bb, fi)
    bb->loop_depth = bb->loop ? bb->loop->depth : 0;
}

} // namespace

void build_loops(FUNINFO &fi) {
  free_loops(fi);
  if (!fi.bb_list)
    return;
  Dominator &dom = dominator_of(fi);

  std::vector<BBLK *> order;
  FOR_EACH_BLOCK(bb, fi)
    order.push_back(bb);
  bool irreducible = false;
  int loops = 0;
  for (auto it = order.rbegin(); it != order.rend() && !irreducible; ++it) {
    BBLK *h = *it;
    if (!h->predecessors)
      continue;
    sort_by_dfn(h->predecessors);
    for (EDGE *e = h->predecessors; e; e = e->rest) {
      BBLK *p = e->bb;
      if (p->dfn < h->dfn)
        continue;
      if (p->loop || !dom.dominates(h, p) || !make_natural_loop(fi, h, p, ++loops)) {
        irreducible = true;
        break;
      }
    }
  }
  if (irreducible) {
    clear_block_loops(fi);
    fi.loops.clear();
  }
  make_root(fi, irreducible);
  set_depths(fi);
  sort_loop_members(fi);
}

void build_loop_hierarchy() {
  debug_printf("\n\n\t\t\t---------- ENTERING 'build_loop_hierarchy' -------\n");
  if (!currfuninfo || !currfuninfo->bb_list)
    return;
  dominator_of(*currfuninfo);
  build_loops(*currfuninfo);
  // The loop clean-ups of the loop-restructuring passes (loop clean-up,
  // guard folding, test replication, loop collapsing) run here once those
  // passes exist; until then the tree is left as built.
}

void free_loops(FUNINFO &fi) {
  clear_block_loops(fi);
  fi.loops.clear();
  fi.root_loop = nullptr;
}

void sort_loop_members(FUNINFO &fi) {
  for (auto &loop : fi.loops)
    sort_by_dfn(loop->members);
}

bool loop_contains(const LOOPINFO *loop, const BBLK *bb) {
  if (!loop || !bb)
    return false;
  for (const LOOPINFO *l = bb->loop; l; l = l->parent)
    if (l == loop)
      return true;
  return false;
}

namespace {

// Moves `p`, just made (so last in the creation chain), in front of `h` in
// both chains.  When `h` is the entry, `p` becomes the entry.
void place_before(FUNINFO &fi, BBLK *p, BBLK *h) {
  for (BBLK **link = &fi.bb_list; *link; link = &(*link)->all_next)
    if (*link == p) {
      *link = p->all_next;
      break;
    }
  for (BBLK *b = fi.bb_list; b; b = b->next)
    if (b->next == h) {
      b->next = p;
      break;
    }
  p->next = h;
  for (BBLK **link = &fi.bb_list; *link; link = &(*link)->all_next)
    if (*link == h) {
      p->all_next = h;
      *link = p;
      break;
    }
}

} // namespace

BBLK *add_preheader(LOOPINFO *loop) {
  // The root stands for the whole function and has no pre-header.
  if (!loop || !loop->parent || !loop->header)
    return nullptr;
  BBLK *h = loop->header;
  FUNINFO &fi = *h->owner;

  std::vector<BBLK *> outside;
  for (EDGE *e = h->predecessors; e; e = e->rest)
    if (!loop_contains(loop, e->bb))
      outside.push_back(e->bb);
  if (outside.size() == 1 && edge_count(outside[0]->successors) == 1) {
    loop->preheader = outside[0];
    return outside[0];
  }
  if (&fi != currfuninfo)
    terminate_abnormally("add_preheader: loop of a function other than the current one");

  debug_printf("\t\tAdding preheader for loop #%d with header BB%d.\n",
               static_cast<int>(loop->number), static_cast<int>(h->dfn));
  BBLK *p = new BBLK(&fi);
  place_before(fi, p, h);

  // H's first position, with the latest line among the redirected blocks.
  SrcPos pos = h->statements ? h->statements->pos : SrcPos{};
  const SrcPos *latest = nullptr;
  for (BBLK *x : outside)
    if (x->last_pos.valid() && (!latest || x->last_pos.line > latest->line))
      latest = &x->last_pos;
  if (latest) {
    if (pos.valid())
      pos.line = latest->line;
    else
      pos = *latest;
  }
  append_statement(p, make_branch(h), pos);
  update_positions(p);

  // Tree form: the outside blocks' branches are retargeted; each keeps the
  // probability it had of reaching the loop.
  for (BBLK *x : outside) {
    const EDGE *old = find_edge(x->successors, h);
    const double prob = old ? old->prob : -1.0;
    retarget_labels(last_tree(x), h, p);
    unlink_blocks(x, h);
    link_blocks(x, p);
    find_edge(x->successors, p)->prob = prob;
  }
  link_blocks(p, h);

  LOOPINFO *parent = loop->parent;
  p->loop = parent;
  p->loop_depth = parent->depth;
  add_edge(parent->members, p);
  loop->preheader = p;
  if (fi.df_vector_size)
    for (bitvector *&v : p->dataflow)
      v = new bitvector(fi.df_vector_size);

  renumber_cfg();
  sort_loop_members(fi);
  return p;
}

std::vector<std::string> check_loops(FUNINFO &fi) {
  std::vector<std::string> problems;
  if (!fi.root_loop)
    return problems;
  char buf[160];
  auto report = [&](const char *fmt, auto... args) {
    std::snprintf(buf, sizeof buf, fmt, args...);
    problems.emplace_back(buf);
  };
  FOR_EACH_BLOCK(bb, fi) {
    const int dfn = static_cast<int>(bb->dfn);
    if (!bb->loop) {
      report("BB%d: no loop", dfn);
      continue;
    }
    const int number = static_cast<int>(bb->loop->number);
    if (!find_edge(bb->loop->members, bb))
      report("BB%d: not a member of its loop #%d", dfn, number);
    if (bb->loop_depth != bb->loop->depth)
      report("BB%d: depth %d, its loop #%d has depth %d", dfn, static_cast<int>(bb->loop_depth),
             number, static_cast<int>(bb->loop->depth));
  }
  for (auto &owner : fi.loops) {
    const LOOPINFO *loop = owner.get();
    const int number = static_cast<int>(loop->number);
    if (const LOOPINFO *parent = loop->parent) {
      if (!find_edge(parent->members, loop->header))
        report("loop #%d: its header BB%d is not a member of its parent #%d", number,
               static_cast<int>(loop->header->dfn), static_cast<int>(parent->number));
      if (loop->depth != parent->depth + 1)
        report("loop #%d: depth %d under a parent of depth %d", number,
               static_cast<int>(loop->depth), static_cast<int>(parent->depth));
    }
    int32_t last = 0;
    for (const EDGE *e = loop->members; e; e = e->rest) {
      if (e->bb->dfn <= last) {
        report("loop #%d: members not sorted by dfn (BB%d after BB%d)", number,
               static_cast<int>(e->bb->dfn), static_cast<int>(last));
        break;
      }
      last = e->bb->dfn;
    }
  }
  return problems;
}

} // namespace zor
