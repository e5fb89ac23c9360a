// The loop hierarchy: nesting, numbering (inner loops first, the root
// last), depths, source ranges, same-header loops, the irreducible
// fallback, pre-headers (reused or made, with their edges, label, position
// and loop), and the consistency check.
#include "cfg/loops.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cfg/bblk.h"
#include "cfg/dominator.h"
#include "cfg/flowgraph.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "tests/support/cfg_graphs.h"

namespace zor {
namespace {

using test::CfgGraph;
using test::DebugCapture;

// Creation numbers of a loop's members, in list order.
std::vector<int> members(const LOOPINFO *loop) {
  std::vector<int> out;
  for (const EDGE *e = loop->members; e; e = e->rest)
    out.push_back(e->bb->uon);
  return out;
}

std::set<int> member_set(const LOOPINFO *loop) {
  std::vector<int> m = members(loop);
  return {m.begin(), m.end()};
}

bool sorted_by_dfn(const LOOPINFO *loop) {
  int last = 0;
  for (const EDGE *e = loop->members; e; e = e->rest) {
    if (e->bb->dfn <= last)
      return false;
    last = e->bb->dfn;
  }
  return true;
}

// 1 -> 2; 2: outer header, exits to 6; 3: inner header; 4 -> {3, 5};
// 5 -> 2.
const std::vector<std::pair<int, int>> kNested = {{1, 2}, {2, 3}, {2, 6}, {3, 4},
                                                  {4, 3}, {4, 5}, {5, 2}};

TEST(LoopsTest, NestedLoopsAreNumberedInnerFirstWithDepths) {
  CfgGraph g(6, kNested);
  FUNINFO &fi = g.fi();
  DebugCapture trace;
  build_loop_hierarchy();
  EXPECT_EQ(trace.text().rfind("\n\n\t\t\t---------- ENTERING 'build_loop_hierarchy' -------\n", 0),
            0u);

  ASSERT_EQ(fi.loops.size(), 3u);
  LOOPINFO *inner = fi.loops[0].get();
  LOOPINFO *outer = fi.loops[1].get();
  LOOPINFO *root = fi.loops[2].get();
  EXPECT_EQ(fi.root_loop, root);

  EXPECT_EQ(inner->number, 1);
  EXPECT_EQ(outer->number, 2);
  EXPECT_EQ(root->number, 3);   // number of loops + 1
  EXPECT_EQ(inner->header, g.bb(3));
  EXPECT_EQ(inner->tail, g.bb(4));
  EXPECT_EQ(outer->header, g.bb(2));
  EXPECT_EQ(outer->tail, g.bb(5));
  EXPECT_EQ(root->header, g.bb(1));
  EXPECT_EQ(root->tail, nullptr);
  EXPECT_FALSE(root->irreducible);
  EXPECT_EQ(inner->parent, outer);
  EXPECT_EQ(outer->parent, root);
  EXPECT_EQ(root->parent, nullptr);
  EXPECT_EQ(inner->depth, 2);
  EXPECT_EQ(outer->depth, 1);
  EXPECT_EQ(root->depth, 0);

  // An inner loop's header stands for it in the outer member list.
  EXPECT_EQ(member_set(inner), (std::set<int>{3, 4}));
  EXPECT_EQ(member_set(outer), (std::set<int>{2, 3, 5}));
  EXPECT_EQ(member_set(root), (std::set<int>{1, 2, 6}));
  for (const LOOPINFO *l : {inner, outer, root}) {
    EXPECT_TRUE(sorted_by_dfn(l)) << l->number;
    EXPECT_EQ(l->members->bb, l->header) << l->number;
  }

  const LOOPINFO *want_loop[] = {root, outer, inner, inner, outer, root};
  const int want_depth[] = {0, 1, 2, 2, 1, 0};
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(g.bb(k)->loop, want_loop[k - 1]) << k;
    EXPECT_EQ(g.bb(k)->loop_depth, want_depth[k - 1]) << k;
  }

  // Source ranges cover the blocks of nested loops too (block k: line 10k).
  EXPECT_EQ(inner->first_pos.line, 30u);
  EXPECT_EQ(inner->last_pos.line, 40u);
  EXPECT_EQ(outer->first_pos.line, 20u);
  EXPECT_EQ(outer->last_pos.line, 50u);

  EXPECT_TRUE(loop_contains(outer, g.bb(4)));
  EXPECT_TRUE(loop_contains(root, g.bb(4)));
  EXPECT_FALSE(loop_contains(inner, g.bb(5)));
  EXPECT_FALSE(loop_contains(outer, g.bb(6)));
  EXPECT_TRUE(check_loops(fi).empty());
}

TEST(LoopsTest, RebuildingReplacesTheTree) {
  CfgGraph g(6, kNested);
  FUNINFO &fi = g.fi();
  build_loop_hierarchy();
  build_loop_hierarchy();
  ASSERT_EQ(fi.loops.size(), 3u);
  EXPECT_EQ(g.bb(4)->loop, fi.loops[0].get());
  EXPECT_EQ(fi.loops[0]->number, 1);
  EXPECT_EQ(member_set(fi.root_loop), (std::set<int>{1, 2, 6}));
  EXPECT_TRUE(check_loops(fi).empty());

  free_loops(fi);
  EXPECT_TRUE(fi.loops.empty());
  EXPECT_EQ(fi.root_loop, nullptr);
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(g.bb(k)->loop, nullptr);
    EXPECT_EQ(g.bb(k)->loop_depth, 0);
  }
  EXPECT_TRUE(check_loops(fi).empty());   // nothing built, nothing to check
}

TEST(LoopsTest, SiblingLoopsAndASelfLoop) {
  // 2 and 3 each branch to themselves: two loops side by side.
  CfgGraph g(4, {{1, 2}, {2, 2}, {2, 3}, {3, 3}, {3, 4}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 3u);
  // Headers are visited from the last dfn to the first.
  EXPECT_EQ(fi.loops[0]->header, g.bb(3));
  EXPECT_EQ(fi.loops[1]->header, g.bb(2));
  for (int i = 0; i < 2; ++i) {
    const LOOPINFO *l = fi.loops[i].get();
    EXPECT_EQ(l->tail, l->header);
    EXPECT_EQ(members(l), std::vector<int>{static_cast<int>(l->header->uon)});
    EXPECT_EQ(l->parent, fi.root_loop);
    EXPECT_EQ(l->depth, 1);
  }
  EXPECT_EQ(fi.root_loop->number, 3);
  EXPECT_EQ(members(fi.root_loop), (std::vector<int>{1, 2, 3, 4}));
}

TEST(LoopsTest, TwoBackEdgesToOneHeaderMakeTwoNestedLoops) {
  // 2 -> {3, 4}; 3 -> 2; 4 -> {2, 5}.
  CfgGraph g(5, {{1, 2}, {2, 3}, {2, 4}, {3, 2}, {4, 2}, {4, 5}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 3u);
  LOOPINFO *first = fi.loops[0].get();
  LOOPINFO *second = fi.loops[1].get();
  EXPECT_EQ(first->header, g.bb(2));
  EXPECT_EQ(second->header, g.bb(2));
  // Numbered in the order of their sources' dfn.
  EXPECT_LT(first->tail->dfn, second->tail->dfn);
  EXPECT_EQ(std::set<BBLK *>({first->tail, second->tail}), std::set<BBLK *>({g.bb(3), g.bb(4)}));
  // The second takes the first in through the shared header.
  EXPECT_EQ(first->parent, second);
  EXPECT_EQ(second->parent, fi.root_loop);
  EXPECT_EQ(first->depth, 2);
  EXPECT_EQ(g.bb(2)->loop, first);
  EXPECT_EQ(member_set(first), (std::set<int>{2, static_cast<int>(first->tail->uon)}));
  EXPECT_EQ(member_set(second), (std::set<int>{2, static_cast<int>(second->tail->uon)}));
  EXPECT_EQ(fi.root_loop->number, 3);
  EXPECT_TRUE(check_loops(fi).empty());
}

TEST(LoopsTest, SecondLoopReachesTheFirstThroughItsBody) {
  // 2 -> 3; 3 -> {2, 4}; 4 -> {2, 5}: the walk from 4 meets 3, which the
  // first loop holds, and stops at their common header.
  CfgGraph g(5, {{1, 2}, {2, 3}, {3, 2}, {3, 4}, {4, 2}, {4, 5}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 3u);
  LOOPINFO *first = fi.loops[0].get();
  LOOPINFO *second = fi.loops[1].get();
  EXPECT_EQ(first->tail, g.bb(3));
  EXPECT_EQ(second->tail, g.bb(4));
  EXPECT_EQ(first->parent, second);
  EXPECT_EQ(member_set(first), (std::set<int>{2, 3}));
  EXPECT_EQ(member_set(second), (std::set<int>{2, 4}));
  EXPECT_EQ(member_set(fi.root_loop), (std::set<int>{1, 2, 5}));
  EXPECT_EQ(g.bb(3)->loop_depth, 2);
  EXPECT_EQ(g.bb(4)->loop_depth, 1);
  EXPECT_EQ(second->first_pos.line, 20u);
  EXPECT_EQ(second->last_pos.line, 40u);
  EXPECT_TRUE(check_loops(fi).empty());
}

TEST(LoopsTest, UndominatedBackEdgeLeavesOnlyAnIrreducibleRoot) {
  // 1 -> {2, 3}; 2 -> 3; 3 -> {2, 4}: the 2-3 cycle has two entries.  The
  // self-loop at 4 is found first and dropped again.
  CfgGraph g(5, {{1, 2}, {1, 3}, {2, 3}, {3, 2}, {3, 4}, {4, 4}, {4, 5}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 1u);
  LOOPINFO *root = fi.root_loop;
  EXPECT_EQ(root, fi.loops[0].get());
  EXPECT_TRUE(root->irreducible);
  EXPECT_EQ(root->number, 1);
  EXPECT_EQ(member_set(root), (std::set<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(sorted_by_dfn(root));
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(g.bb(k)->loop, root) << k;
    EXPECT_EQ(g.bb(k)->loop_depth, 0) << k;
  }
  EXPECT_TRUE(check_loops(fi).empty());
}

TEST(LoopsTest, ABlockThatClosesTwoLoopsMakesTheGraphIrreducible) {
  // 3 heads an inner loop (4 -> 3) and also jumps back to the outer
  // header 2 itself.
  CfgGraph g(5, {{1, 2}, {2, 3}, {2, 5}, {3, 4}, {3, 2}, {4, 3}, {4, 2}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 1u);
  EXPECT_TRUE(fi.root_loop->irreducible);
}

TEST(LoopsTest, PreheaderIsReusedWhenTheOnlyOutsidePredecessorJustFallsIn) {
  CfgGraph g(6, kNested);
  FUNINFO &fi = g.fi();
  build_loop_hierarchy();
  LOOPINFO *outer = fi.loops[1].get();
  DebugCapture trace;
  EXPECT_EQ(add_preheader(outer), g.bb(1));
  EXPECT_EQ(outer->preheader, g.bb(1));
  EXPECT_EQ(fi.bb_count, 6u);
  EXPECT_EQ(trace.text(), "");
  EXPECT_EQ(add_preheader(fi.root_loop), nullptr);
}

TEST(LoopsTest, PreheaderIsMadeBeforeTheHeaderAndTakesTheOutsideEdges) {
  CfgGraph g(6, kNested);
  FUNINFO &fi = g.fi();
  build_loop_hierarchy();
  LOOPINFO *inner = fi.loops[0].get();
  LOOPINFO *outer = fi.loops[1].get();
  BBLK *h = g.bb(3);
  const int header_dfn = h->dfn;

  DebugCapture trace;
  BBLK *p = add_preheader(inner);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(trace.text(), "\t\tAdding preheader for loop #1 with header BB" +
                              std::to_string(header_dfn) + ".\n");
  EXPECT_EQ(inner->preheader, p);
  EXPECT_EQ(fi.bb_count, 7u);
  EXPECT_EQ(p->dfn + 1, h->dfn);
  EXPECT_EQ(p->next, h);

  // Edges: 2 -> P -> 3; 3 keeps its back edge from 4.
  ASSERT_EQ(edge_count(p->successors), 1u);
  EXPECT_EQ(p->successors->bb, h);
  EXPECT_EQ(edge_count(p->predecessors), 1u);
  EXPECT_TRUE(find_edge(g.bb(2)->successors, p));
  EXPECT_FALSE(find_edge(g.bb(2)->successors, h));
  EXPECT_TRUE(find_edge(h->predecessors, p));
  EXPECT_TRUE(find_edge(h->predecessors, g.bb(4)));
  EXPECT_EQ(edge_count(h->predecessors), 2u);

  // 2's IF names P now; P holds one BRANCH to 3 at 2's line.
  NODE *cond = last_tree(g.bb(2));
  ASSERT_EQ(cond->op, IF);
  EXPECT_EQ(label_target(cond->right->left), p);
  ASSERT_EQ(statement_count(p), 1u);
  NODE *br = last_tree(p);
  ASSERT_EQ(br->op, BRANCH);
  EXPECT_EQ(label_target(br->left), h);
  EXPECT_EQ(p->statements->pos.line, 20u);
  EXPECT_STREQ(p->statements->pos.file, "graph.c");

  // P belongs to the outer loop.
  EXPECT_EQ(p->loop, outer);
  EXPECT_EQ(p->loop_depth, 1);
  EXPECT_TRUE(find_edge(outer->members, p));
  EXPECT_TRUE(check_loops(fi).empty());

  // Dominators follow: P now dominates the loop.
  EXPECT_EQ(dominator_of(fi).idom_block(h->dfn), p);

  // A second request finds P and changes nothing.
  EXPECT_EQ(add_preheader(inner), p);
  EXPECT_EQ(fi.bb_count, 7u);
}

TEST(LoopsTest, PreheaderGathersSeveralEntriesAtTheLatestLine) {
  // 1 -> {2, 3}; 2, 3 -> 4; 4 -> 5; 5 -> {4, 6}.
  CfgGraph g(6, {{1, 2}, {1, 3}, {2, 4}, {3, 4}, {4, 5}, {5, 4}, {5, 6}});
  FUNINFO &fi = g.fi();
  build_loops(fi);
  ASSERT_EQ(fi.loops.size(), 2u);
  LOOPINFO *loop = fi.loops[0].get();
  ASSERT_EQ(loop->header, g.bb(4));
  find_edge(g.bb(2)->successors, g.bb(4))->prob = 0.25;

  BBLK *p = add_preheader(loop);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->statements->pos.line, 30u);
  EXPECT_EQ(edge_count(p->predecessors), 2u);
  for (int k : {2, 3}) {
    EXPECT_EQ(edge_count(g.bb(k)->successors), 1u) << k;
    EXPECT_EQ(g.bb(k)->successors->bb, p) << k;
    EXPECT_EQ(label_target(last_tree(g.bb(k))->left), p) << k;
  }
  EXPECT_DOUBLE_EQ(find_edge(g.bb(2)->successors, p)->prob, 0.25);
  EXPECT_EQ(p->loop, fi.root_loop);
  EXPECT_EQ(p->loop_depth, 0);
  EXPECT_TRUE(check_loops(fi).empty());
  EXPECT_EQ(add_preheader(loop), p);
}

TEST(LoopsTest, CheckLoopsReportsBrokenTrees) {
  CfgGraph g(6, kNested);
  FUNINFO &fi = g.fi();
  build_loops(fi);
  g.bb(4)->loop_depth = 7;
  // Move the root's last member to the front.
  LOOPINFO *root = fi.root_loop;
  EDGE **link = &root->members;
  while ((*link)->rest)
    link = &(*link)->rest;
  EDGE *last = *link;
  *link = nullptr;
  last->rest = root->members;
  root->members = last;

  std::vector<std::string> problems = check_loops(fi);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "BB" + std::to_string(g.dfn(4)) + ": depth 7, its loop #1 has depth 2");
  EXPECT_NE(problems[1].find("loop #3: members not sorted by dfn"), std::string::npos);

  g.bb(4)->loop_depth = 2;
  sort_loop_members(fi);
  EXPECT_TRUE(check_loops(fi).empty());

  remove_edge(fi.loops[0]->members, g.bb(4));
  problems = check_loops(fi);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "BB" + std::to_string(g.dfn(4)) + ": not a member of its loop #1");
}

} // namespace
} // namespace zor
