// cfg/dominator.cpp - immediate dominators and postdominators.
//
// The iterative scheme: number the blocks in depth-first preorder from the
// blocks without predecessors (without successors, for postdominators), then
// sweep them in that order, setting each block's immediate dominator to the
// intersection of its predecessors' dominator chains, until a sweep changes
// nothing.  Needs the dfn numbering of the latest renumber_cfg; reads the
// edge lists and the `dfn` chain, and clears `visited` on every block.
// Rebuilt lazily: edge changes only mark it stale.
#include "cfg/dominator.h"

#include <utility>

#include "cfg/bblk.h"
#include "driver/run.h"
#include "ir/funinfo.h"

namespace zor {

namespace {

// One direction of the computation.  Dominators run from the virtual root
// (index 0) along successors and look at predecessors; postdominators run
// from the virtual exit (index count + 1) along predecessors and look at
// successors.
struct Direction {
  std::vector<int32_t> &dom;            // idom or ipdom
  int32_t virtual_node;                 // 0 or count + 1
  EDGE *BBLK::*forward;                 // edges followed by the depth-first walk
  EDGE *BBLK::*backward;                // edges met by the intersection
};

// The computation for one direction: depth-first order, then the sweeps.
class DomSolver {
public:
  DomSolver(const std::vector<BBLK *> &blocks, int32_t count, Direction d)
      : blocks_(blocks), count_(count), d_(d), order_(static_cast<size_t>(count) + 2, 0) {}

  void solve() {
    number_blocks();
    bool changed = true;
    while (changed) {
      changed = false;
      for (BBLK *b : preorder_)
        changed |= update(b);
    }
  }

private:
  bool in_range(const BBLK *b) const { return b && b->dfn >= 1 && b->dfn <= count_; }

  // An index whose own entry is set: a block reached by the sweeps, or the
  // virtual node, which stands above (below) every start block.
  bool defined(int32_t x) const {
    return x == d_.virtual_node || (x >= 1 && x <= count_ && d_.dom[x] != kUndefinedDom);
  }

  // Depth-first preorder from the start blocks (those whose entry the
  // caller already set to the virtual node), edges in list order.
  void number_blocks() {
    std::vector<char> seen(static_cast<size_t>(count_) + 2, 0);
    std::vector<std::pair<BBLK *, EDGE *>> stack;
    int32_t next = 0;
    auto enter = [&](BBLK *b) {
      seen[b->dfn] = 1;
      order_[b->dfn] = ++next;
      preorder_.push_back(b);
      stack.emplace_back(b, b->*d_.forward);
    };
    for (int32_t i = 1; i <= count_; ++i) {
      BBLK *start = blocks_[i];
      if (!start || d_.dom[i] != d_.virtual_node || seen[i])
        continue;
      enter(start);
      while (!stack.empty()) {
        EDGE *&cursor = stack.back().second;
        while (cursor && (!in_range(cursor->bb) || seen[cursor->bb->dfn]))
          cursor = cursor->rest;
        if (!cursor) {
          stack.pop_back();
          continue;
        }
        BBLK *to = cursor->bb;
        cursor = cursor->rest;
        enter(to);
      }
    }
  }

  // Moves the later of the two (by preorder number) up its chain until
  // both meet.  The virtual node has order 0 and ends every chain.
  int32_t intersect(int32_t x, int32_t y) const {
    while (x != y) {
      while (order_[x] > order_[y]) {
        if (!defined(d_.dom[x]))
          return d_.virtual_node;
        x = d_.dom[x];
      }
      while (order_[y] > order_[x]) {
        if (!defined(d_.dom[y]))
          return d_.virtual_node;
        y = d_.dom[y];
      }
      if (x != y && order_[x] == order_[y])
        return d_.virtual_node;   // only the virtual node shares order 0
    }
    return x;
  }

  bool update(BBLK *b) {
    int32_t self = b->dfn;
    if (d_.dom[self] == d_.virtual_node && !(b->*d_.backward))
      return false;   // a start block keeps the virtual node
    int32_t candidate = kUndefinedDom;
    for (EDGE *e = b->*d_.backward; e; e = e->rest) {
      if (!in_range(e->bb) || d_.dom[e->bb->dfn] == kUndefinedDom)
        continue;
      int32_t p = e->bb->dfn;
      candidate = candidate == kUndefinedDom ? p : intersect(p, candidate);
    }
    if (candidate == kUndefinedDom || d_.dom[self] == candidate || !defined(candidate))
      return false;
    d_.dom[self] = candidate;
    return true;
  }

  const std::vector<BBLK *> &blocks_;
  int32_t count_;
  Direction d_;
  std::vector<int32_t> order_;   // preorder number by dfn; 0 for the virtual node
  std::vector<BBLK *> preorder_;
};

} // namespace

Dominator::Dominator(FUNINFO &fi) : fi_(fi) { rebuild(); }

void Dominator::rebuild() {
  const char *what = built_once_ ? "rebuild" : "constructor";
  debug_printf(" ==== Entering Dominator %s ====\n", what);

  const int32_t count = static_cast<int32_t>(fi_.bb_count);
  const size_t size = static_cast<size_t>(count) + 1;
  idom.assign(size, kUndefinedDom);
  ipdom.assign(size + 1, kUndefinedDom);
  blocks.assign(size + 1, nullptr);
  dom_tree.assign(size, {});
  postdom_tree.assign(size + 1, {});

  for (BBLK *bb = fi_.bb_list; bb; bb = bb->next) {
    bb->visited = false;
    if (bb->dfn < 1 || bb->dfn > count)
      continue;   // not numbered by the latest renumbering
    blocks[bb->dfn] = bb;
    if (!bb->successors)
      ipdom[bb->dfn] = count + 1;
    if (!bb->predecessors)
      idom[bb->dfn] = 0;
  }

  DomSolver(blocks, count, {idom, 0, &BBLK::successors, &BBLK::predecessors}).solve();
  DomSolver(blocks, count, {ipdom, count + 1, &BBLK::predecessors, &BBLK::successors}).solve();

  for (int32_t b = 1; b <= count; ++b) {
    if (!blocks[b])
      continue;
    if (idom[b] == kUndefinedDom)
      debug_printf("**** >>>> WARNING: BB%d doesn't have a dominator\n", b);
    else
      dom_tree[idom[b]].push_back(blocks[b]);
    if (ipdom[b] == kUndefinedDom)
      debug_printf("**** >>>> WARNING: BB%d doesn't have a postdominator\n", b);
    else
      postdom_tree[ipdom[b]].push_back(blocks[b]);
  }

  built_count = fi_.bb_count;
  stale = false;
  debug_printf(" ==== Exiting Dominator %s ====\n", what);
  built_once_ = true;
}

void Dominator::refresh() {
  if (stale || built_count != fi_.bb_count)
    rebuild();
}

namespace {

// The walk of dominates/postdominates: up the chain from b until it meets
// a, drops below 1 or passes the block count.  b below 1 (the virtual root
// or no block) is dominated by nothing, not even by itself.
bool chain_reaches(const std::vector<int32_t> &dom, int32_t count, int32_t a, int32_t b) {
  if (b < 1)
    return false;
  if (a == b)
    return true;
  while (b <= count) {
    b = dom[b];
    if (b == a)
      return true;
    if (b < 1)
      return false;
  }
  return false;
}

} // namespace

bool Dominator::dominates(int32_t a, int32_t b) {
  refresh();
  return chain_reaches(idom, static_cast<int32_t>(built_count), a, b);
}

bool Dominator::postdominates(int32_t a, int32_t b) {
  refresh();
  return chain_reaches(ipdom, static_cast<int32_t>(built_count), a, b);
}

bool Dominator::dominates(const BBLK *a, const BBLK *b) { return dominates(a->dfn, b->dfn); }

bool Dominator::postdominates(const BBLK *a, const BBLK *b) {
  return postdominates(a->dfn, b->dfn);
}

BBLK *Dominator::idom_block(int32_t b) {
  refresh();
  if (b < 1 || b > static_cast<int32_t>(built_count))
    return nullptr;
  int32_t d = idom[b];
  return d >= 1 && d <= static_cast<int32_t>(built_count) ? blocks[d] : nullptr;
}

namespace {

const std::vector<BBLK *> &child_vector(const std::vector<std::vector<BBLK *>> &tree,
                                        int32_t b) {
  if (b < 0 || static_cast<size_t>(b) >= tree.size())
    terminate_abnormally("invalid vector<T> subscript");
  return tree[static_cast<size_t>(b)];
}

} // namespace

const std::vector<BBLK *> &Dominator::children(int32_t b) {
  refresh();
  return child_vector(dom_tree, b);
}

const std::vector<BBLK *> &Dominator::post_children(int32_t b) {
  refresh();
  return child_vector(postdom_tree, b);
}

void Dominator::walk(const std::function<void(BBLK *)> &visit) {
  refresh();
  // `visit` must not change edges: the tree is indexed by the dfn numbers
  // of this build.
  // Preorder with an explicit stack: children pushed last-first so that
  // they come off in their vector's order.
  std::vector<BBLK *> stack(dom_tree[0].rbegin(), dom_tree[0].rend());
  while (!stack.empty()) {
    BBLK *bb = stack.back();
    stack.pop_back();
    visit(bb);
    const std::vector<BBLK *> &kids = dom_tree[static_cast<size_t>(bb->dfn)];
    stack.insert(stack.end(), kids.rbegin(), kids.rend());
  }
}

Dominator &dominator_of(FUNINFO &fi) {
  if (!fi.dominator)
    fi.dominator = std::make_unique<Dominator>(fi);
  else
    fi.dominator->refresh();
  return *fi.dominator;
}

void mark_dominators_stale(FUNINFO &fi) {
  if (fi.dominator)
    fi.dominator->stale = true;
}

} // namespace zor
