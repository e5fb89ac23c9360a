// cfg/dominator.h - immediate dominators and postdominators of a function.
//
// One Dominator per function (FUNINFO::dominator), made on first use by
// dominator_of().  Everything is indexed by `dfn`: entry 0 is the virtual
// root above every block without predecessors, entry block count + 1 the
// virtual exit below every block without successors, and kUndefinedDom
// marks a block the iteration never reached.  Every edge change sets the
// stale flag (link_blocks, unlink_blocks, split_edge); the next query
// rebuilds, as does a query after the block count changed.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zor {

class BBLK;
class FUNINFO;

constexpr int32_t kUndefinedDom = -556;

class Dominator {
public:
  explicit Dominator(FUNINFO &fi);   // builds at once

  // a and b are dfn numbers.  False when b < 1 (even for a = b, so nothing
  // dominates the virtual root); otherwise true when a = b.
  bool dominates(int32_t a, int32_t b);
  bool postdominates(int32_t a, int32_t b);
  bool dominates(const BBLK *a, const BBLK *b);
  bool postdominates(const BBLK *a, const BBLK *b);
  // The block of b's immediate dominator (null for the virtual root).
  BBLK *idom_block(int32_t b);
  // Child vectors of the two trees; an index beyond the tree ends the run
  // with "invalid vector<T> subscript".
  const std::vector<BBLK *> &children(int32_t b);
  const std::vector<BBLK *> &post_children(int32_t b);
  // Preorder walk of the dominator tree from the virtual root.
  void walk(const std::function<void(BBLK *)> &visit);

  // Rebuilds when stale or when the function's block count changed.
  void refresh();
  void rebuild();

  std::vector<int32_t> idom;      // by dfn, size block count + 1
  std::vector<int32_t> ipdom;     // by dfn, size block count + 2
  std::vector<std::vector<BBLK *>> dom_tree;
  std::vector<std::vector<BBLK *>> postdom_tree;
  std::vector<BBLK *> blocks;     // by dfn; [0] null
  uint32_t built_count = 0;       // block count at the last build
  bool stale = false;

private:
  FUNINFO &fi_;
  bool built_once_ = false;
};

// The function's Dominator, made (and built) on first use, refreshed when
// the graph changed.
Dominator &dominator_of(FUNINFO &fi);
// Marks the function's dominators stale (no-op before the first use).
void mark_dominators_stale(FUNINFO &fi);

} // namespace zor
