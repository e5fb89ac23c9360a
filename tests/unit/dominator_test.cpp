// Dominators and postdominators: the virtual root and exit, the chain walk
// of dominates(), lazy rebuilding after edge changes, the trees and their
// range check, and agreement with a brute-force definition on random graphs.
#include "cfg/dominator.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "cfg/bblk.h"
#include "cfg/flowgraph.h"
#include "tests/support/cfg_graphs.h"

namespace zor {
namespace {

using test::CfgGraph;
using test::DebugCapture;

std::vector<int> dfns(const std::vector<BBLK *> &blocks) {
  std::vector<int> out;
  for (const BBLK *bb : blocks)
    out.push_back(bb->dfn);
  return out;
}

TEST(DominatorTest, SingleBlockHangsBetweenVirtualRootAndExit) {
  CfgGraph g(1, {});
  DebugCapture trace;
  Dominator &dom = dominator_of(g.fi());
  EXPECT_EQ(trace.text(),
            " ==== Entering Dominator constructor ====\n"
            " ==== Exiting Dominator constructor ====\n");
  ASSERT_EQ(dom.idom.size(), 2u);
  ASSERT_EQ(dom.ipdom.size(), 3u);
  EXPECT_EQ(dom.idom[1], 0);
  EXPECT_EQ(dom.ipdom[1], 2);
  EXPECT_TRUE(dom.dominates(1, 1));
  EXPECT_TRUE(dom.postdominates(1, 1));
  EXPECT_TRUE(dom.postdominates(2, 1));   // the virtual exit
  EXPECT_EQ(dom.idom_block(1), nullptr);  // the virtual root has no block
  EXPECT_EQ(dfns(dom.children(0)), std::vector<int>{1});
  EXPECT_EQ(dfns(dom.post_children(2)), std::vector<int>{1});
  EXPECT_TRUE(dom.children(1).empty());
}

TEST(DominatorTest, NothingDominatesTheVirtualRootOrAMissingBlock) {
  CfgGraph g(2, {{1, 2}});
  Dominator &dom = dominator_of(g.fi());
  for (int a = -1; a <= 3; ++a) {
    EXPECT_FALSE(dom.dominates(a, 0)) << a;
    EXPECT_FALSE(dom.postdominates(a, 0)) << a;
    EXPECT_FALSE(dom.dominates(a, kUndefinedDom)) << a;
  }
  EXPECT_FALSE(dom.dominates(1, 3));   // beyond the block count
  EXPECT_TRUE(dom.dominates(0, 2));    // every chain ends at the root
}

TEST(DominatorTest, Diamond) {
  CfgGraph g(4, {{1, 2}, {1, 3}, {2, 4}, {3, 4}});
  Dominator &dom = dominator_of(g.fi());
  const int b1 = g.dfn(1), b2 = g.dfn(2), b3 = g.dfn(3), b4 = g.dfn(4);
  EXPECT_EQ(dom.idom[b1], 0);
  EXPECT_EQ(dom.idom[b2], b1);
  EXPECT_EQ(dom.idom[b3], b1);
  EXPECT_EQ(dom.idom[b4], b1);
  EXPECT_EQ(dom.ipdom[b1], b4);
  EXPECT_EQ(dom.ipdom[b2], b4);
  EXPECT_EQ(dom.ipdom[b3], b4);
  EXPECT_EQ(dom.ipdom[b4], 5);
  EXPECT_TRUE(dom.dominates(g.bb(1), g.bb(4)));
  EXPECT_FALSE(dom.dominates(g.bb(2), g.bb(4)));
  EXPECT_FALSE(dom.dominates(g.bb(4), g.bb(1)));
  EXPECT_TRUE(dom.postdominates(g.bb(4), g.bb(1)));
  EXPECT_FALSE(dom.postdominates(g.bb(2), g.bb(1)));
  EXPECT_EQ(dom.idom_block(b4), g.bb(1));

  // Children in dfn order; the walk is a preorder from the root.
  EXPECT_EQ(dfns(dom.children(b1)), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(dfns(dom.post_children(b4)), (std::vector<int>{1, 2, 3}));
  std::vector<int> walked;
  dom.walk([&](BBLK *bb) { walked.push_back(bb->dfn); });
  EXPECT_EQ(walked, (std::vector<int>{1, 2, 3, 4}));
}

TEST(DominatorTest, SeveralExitsMeetAtTheVirtualExit) {
  CfgGraph g(3, {{1, 2}, {1, 3}});
  Dominator &dom = dominator_of(g.fi());
  EXPECT_EQ(dom.ipdom[g.dfn(1)], 4);
  EXPECT_EQ(dfns(dom.post_children(4)), (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(dom.postdominates(g.bb(2), g.bb(1)));
  EXPECT_FALSE(dom.postdominates(g.bb(3), g.bb(1)));
}

TEST(DominatorTest, BlocksThatNeverReachAnExitHaveNoPostdominator) {
  // 1 -> 2 -> 2: no block without successors.
  CfgGraph g(2, {{1, 2}, {2, 2}});
  DebugCapture trace;
  Dominator &dom = dominator_of(g.fi());
  EXPECT_EQ(dom.idom[g.dfn(2)], g.dfn(1));
  EXPECT_EQ(dom.ipdom[1], kUndefinedDom);
  EXPECT_EQ(dom.ipdom[2], kUndefinedDom);
  EXPECT_FALSE(dom.postdominates(2, 1));
  EXPECT_EQ(trace.text(),
            " ==== Entering Dominator constructor ====\n"
            "**** >>>> WARNING: BB1 doesn't have a postdominator\n"
            "**** >>>> WARNING: BB2 doesn't have a postdominator\n"
            " ==== Exiting Dominator constructor ====\n");
}

TEST(DominatorTest, EdgeChangesMarkStaleAndTheNextQueryRebuilds) {
  // 1 -> {2, 3}; 2 -> 3: 3's idom is 1.
  CfgGraph g(3, {{1, 2}, {1, 3}, {2, 3}});
  Dominator &dom = dominator_of(g.fi());
  EXPECT_FALSE(dom.stale);
  EXPECT_FALSE(dom.dominates(g.bb(2), g.bb(3)));

  // 1 -> 2 only: the block count stays, only the stale flag tells.
  BBLK *b1 = g.bb(1);
  delete_statement(b1, last_statement(b1));
  append_statement(b1, make_branch(g.bb(2)), SrcPos{});
  compute_successors(b1);
  EXPECT_TRUE(dom.stale);
  renumber_cfg();
  ASSERT_EQ(g.fi().bb_count, 3u);
  DebugCapture trace;
  EXPECT_TRUE(dom.dominates(g.bb(2), g.bb(3)));
  EXPECT_FALSE(dom.stale);
  EXPECT_EQ(trace.text(),
            " ==== Entering Dominator rebuild ====\n"
            " ==== Exiting Dominator rebuild ====\n");
  EXPECT_EQ(&dominator_of(g.fi()), &dom);   // one object per function
}

TEST(DominatorTest, SplitEdgeIsSeenByTheNextQuery) {
  CfgGraph g(3, {{1, 2}, {1, 3}, {2, 3}});
  Dominator &dom = dominator_of(g.fi());
  BBLK *mid = split_edge(g.bb(1), g.bb(3));
  EXPECT_TRUE(dom.stale);
  renumber_cfg();
  ASSERT_EQ(g.fi().bb_count, 4u);
  EXPECT_TRUE(dom.dominates(mid, mid));
  EXPECT_EQ(dom.idom_block(mid->dfn), g.bb(1));
  EXPECT_EQ(dom.idom_block(g.dfn(3)), g.bb(1));
  EXPECT_TRUE(dom.postdominates(g.bb(3), mid));
  EXPECT_EQ(dom.idom.size(), 5u);
  EXPECT_EQ(dom.built_count, 4u);
}

TEST(DominatorDeathTest, ChildIndexBeyondTheTreeIsAnInternalError) {
  CfgGraph g(2, {{1, 2}});
  Dominator &dom = dominator_of(g.fi());
  EXPECT_EQ(dom.children(2).size(), 0u);
  EXPECT_EQ(dom.post_children(3).size(), 1u);   // the virtual exit
  EXPECT_EXIT(dom.children(3), ::testing::ExitedWithCode(1), "invalid vector<T> subscript");
  EXPECT_EXIT(dom.post_children(4), ::testing::ExitedWithCode(1),
              "invalid vector<T> subscript");
  EXPECT_EXIT(dom.children(-1), ::testing::ExitedWithCode(1), "invalid vector<T> subscript");
}

// --------------------------------------------------- against brute force

// Blocks reachable from `from` over `edges` (successors or predecessors)
// without passing `removed`.
std::set<BBLK *> reach(BBLK *from, const BBLK *removed, EDGE *BBLK::*edges) {
  std::set<BBLK *> seen;
  if (from == removed)
    return seen;
  std::vector<BBLK *> work{from};
  seen.insert(from);
  while (!work.empty()) {
    BBLK *b = work.back();
    work.pop_back();
    for (EDGE *e = b->*edges; e; e = e->rest)
      if (e->bb != removed && seen.insert(e->bb).second)
        work.push_back(e->bb);
  }
  return seen;
}

// a postdominates b: a = b, or every path from b to a block without
// successors passes a (b must reach such a block at all).
bool brute_postdominates(BBLK *a, BBLK *b) {
  if (a == b)
    return true;
  auto reaches_exit = [&](const BBLK *removed) {
    for (BBLK *x : reach(b, removed, &BBLK::successors))
      if (!x->successors)
        return true;
    return false;
  };
  return reaches_exit(nullptr) && !reaches_exit(a);
}

TEST(DominatorTest, AgreesWithTheDefinitionOnRandomGraphs) {
  std::mt19937 rng(20261206);
  for (int round = 0; round < 150; ++round) {
    // A random tree from the entry (every block reachable), then random
    // extra edges; at most two successors a block, none into the entry.
    const int n = 2 + static_cast<int>(rng() % 11);
    std::vector<std::set<int>> succ(static_cast<size_t>(n) + 1);
    for (int k = 2; k <= n; ++k) {
      std::vector<int> open;
      for (int j = 1; j < k; ++j)
        if (succ[j].size() < 2)
          open.push_back(j);
      succ[open[rng() % open.size()]].insert(k);
    }
    for (int k = 1; k <= n; ++k)
      if (rng() % 2 && succ[k].size() < 2)
        succ[k].insert(2 + static_cast<int>(rng() % (n - 1)));
    std::vector<std::pair<int, int>> edges;
    for (int k = 1; k <= n; ++k)
      for (int t : succ[k])
        edges.emplace_back(k, t);
    CfgGraph g(n, edges);
    FUNINFO &fi = g.fi();
    Dominator &dom = dominator_of(fi);
    std::vector<BBLK *> blocks;
    FOR_EACH_BLOCK(bb, fi)
      blocks.push_back(bb);
    for (BBLK *a : blocks)
      for (BBLK *b : blocks) {
        const bool dominated = a == b || !reach(fi.bb_list, a, &BBLK::successors).count(b);
        ASSERT_EQ(dom.dominates(a, b), dominated)
            << "round " << round << ": BB" << a->dfn << " dom BB" << b->dfn;
        ASSERT_EQ(dom.postdominates(a, b), brute_postdominates(a, b))
            << "round " << round << ": BB" << a->dfn << " pdom BB" << b->dfn;
      }
    // Each tree holds every block with a defined entry exactly once.
    size_t in_tree = 0;
    for (int i = 0; i <= static_cast<int>(fi.bb_count); ++i)
      in_tree += dom.children(i).size();
    EXPECT_EQ(in_tree, blocks.size());
  }
}

} // namespace
} // namespace zor
