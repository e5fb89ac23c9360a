// tests/unit/flowgraph_test.cpp - renumbering, labels, edge splitting and the
// flow-graph verifier on hand-made graphs.  (Cutting statement lists and
// the simpcfg rewrites are tested through zopt: tests/lit/cfg.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cfg/flowgraph.h"
#include "cfg/loops.h"
#include "cfg/verify_cfg.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/type.h"
#include "tests/support/cfg_graphs.h"

namespace zor {
namespace {

using test::CfgGraph;

int critical_edges(FUNINFO &fi) {
  int n = 0;
  FOR_EACH_BLOCK(bb, fi)
    if (edge_count(bb->successors) >= 2)
      for (EDGE *e = bb->successors; e; e = e->rest)
        n += edge_count(e->bb->predecessors) >= 2;
  return n;
}

// A loop with a diamond inside:  1 -> 2, 2 -> 3 | 4, 3 -> 5, 4 -> 5,
// 5 -> 2 | 6.
CfgGraph diamond_loop() { return CfgGraph(6, {{1, 2}, {2, 3}, {2, 4}, {3, 5}, {4, 5}, {5, 2}, {5, 6}}); }

TEST(FlowGraph, RenumberingGivesReversePostorderAndLabelIndexes) {
  CfgGraph g = diamond_loop();
  FUNINFO &fi = g.fi();
  EXPECT_EQ(fi.bb_count, 6u);
  int expected = 1;
  const BBLK *last = nullptr;
  FOR_EACH_BLOCK(bb, fi) {
    EXPECT_EQ(bb->dfn, expected++);
    if (bb->labels)
      EXPECT_EQ(bb->labels->index, bb->dfn);   // printed label numbers are block numbers
    if (last)
      EXPECT_EQ(bb->prev, last);
    last = bb;
  }
  EXPECT_EQ(fi.bb_list->prev, last);
  // The exit block has no successors and is explored last: highest number.
  EXPECT_EQ(g.dfn(6), 6);
  EXPECT_TRUE(check_flow_graph(fi).empty());
}

TEST(FlowGraph, UnreachableBlocksGoWithATraceLine) {
  test::DebugCapture trace;
  // Block 3 is reachable only from block 4, which nothing reaches.
  CfgGraph g(4, {{1, 2}, {4, 3}, {3, 2}});
  FUNINFO &fi = g.fi();
  EXPECT_EQ(fi.bb_count, 2u);
  int blocks = 0;
  FOR_EACH_BLOCK_ALL(bb, fi)
    ++blocks;
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(edge_count(g.bb(2)->predecessors), 1u);
  EXPECT_NE(trace.text().find("\nUNREACHABLE BASIC BLOCK: UON==3\n"), std::string::npos);
  EXPECT_NE(trace.text().find("\nUNREACHABLE BASIC BLOCK: UON==4\n"), std::string::npos);
  EXPECT_TRUE(check_flow_graph(fi).empty());
}

TEST(FlowGraph, LabelCounterCountsDownAndWraps) {
  CfgGraph g(1, {});
  FUNINFO &fi = g.fi();
  fi.label_counter = 0;
  EXPECT_EQ(new_label(fi)->index, -1);
  EXPECT_EQ(new_label(fi)->index, -2);
  EXPECT_EQ(new_label(fi, 17)->index, 17);   // a given index is kept
  EXPECT_EQ(new_label(fi)->index, -3);
  fi.label_counter = -30001;
  EXPECT_EQ(new_label(fi)->index, -1);
}

TEST(FlowGraph, EdgeListsNeverHoldABlockTwice) {
  CfgGraph g(2, {{1, 2}});
  EDGE *list = nullptr;
  add_edge(list, g.bb(1));
  add_edge(list, g.bb(2));
  add_edge(list, g.bb(1));
  EXPECT_EQ(edge_count(list), 2u);
  EXPECT_EQ(list->bb, g.bb(2));   // new edges go in front
  EXPECT_EQ(list->prob, -1.0);
  EXPECT_TRUE(remove_edge(list, g.bb(1)));
  EXPECT_FALSE(remove_edge(list, g.bb(1)));
  free_edges(list);
  EXPECT_EQ(list, nullptr);
}

TEST(FlowGraph, SplittingCriticalEdgesTwiceChangesNothingTheSecondTime) {
  CfgGraph g = diamond_loop();
  FUNINFO &fi = g.fi();
  ASSERT_GT(critical_edges(fi), 0);   // 5 -> 2 (the back edge)
  split_critical_edges(true);
  EXPECT_EQ(critical_edges(fi), 0);
  EXPECT_TRUE(check_flow_graph(fi).empty());
  const uint32_t count = fi.bb_count;
  split_critical_edges(true);
  EXPECT_EQ(fi.bb_count, count);
}

TEST(FlowGraph, BackEdgesStayUnsplitUnlessForced) {
  test::DebugCapture trace;
  CfgGraph g = diamond_loop();
  split_critical_edges(false);   // outside any loop, to an earlier block
  EXPECT_GT(critical_edges(g.fi()), 0);
  EXPECT_EQ(trace.text().find("Splitting critical edge"), std::string::npos);
  split_critical_edges(true);
  EXPECT_NE(trace.text().find("Splitting critical edge between BB"), std::string::npos);
}

TEST(FlowGraph, SplitEdgeRetargetsTheBranchAndLinksBothWays) {
  CfgGraph g(4, {{1, 2}, {1, 3}, {2, 3}, {3, 4}});
  FUNINFO &fi = g.fi();
  BBLK *from = g.bb(1);
  BBLK *to = g.bb(3);
  BBLK *mid = split_edge(from, to);
  EXPECT_EQ(edge_count(mid->predecessors), 1u);
  EXPECT_EQ(mid->predecessors->bb, from);
  EXPECT_EQ(edge_count(mid->successors), 1u);
  EXPECT_EQ(mid->successors->bb, to);
  EXPECT_EQ(mid->successors->prob, -1.0);
  EXPECT_EQ(find_edge(from->successors, to), nullptr);
  EXPECT_EQ(last_tree(mid)->op, BRANCH);
  EXPECT_EQ(label_target(last_tree(mid)->left), to);
  // The IF of the source now names the new block.
  const NODE *branch = last_tree(from);
  ASSERT_EQ(branch->op, IF);
  EXPECT_TRUE(label_target(branch->right->left) == mid || label_target(branch->right->right) == mid);
  renumber_cfg();
  EXPECT_TRUE(check_flow_graph(fi).empty());
}

// The clean-up once loops exist: a test repeated right after an identical
// one is decided by the arm taken, and a block that repeats another one
// loses its predecessors to it.  Conditions read a variable (a constant
// one would be folded first).
struct LoopedGraph {
  LoopedGraph(int blocks, const std::vector<std::pair<int, int>> &edges) : g(blocks, edges) {
    v.name_text = "v";
    v.level = 2;
    v.type_ = g.fi().types->mk_int(IK_INT);
  }
  // Gives `block` a statement of its own, v = value, so that it is not a
  // mere jump.
  void assign_v(int block, int64_t value) {
    insert_statement_after(g.bb(block), nullptr,
                           make_node(ASG, mk_name(&v), mk_icon(value, v.type_), v.type_), SrcPos{});
  }
  void test_on_v(int block) {
    NODE *t = last_tree(g.bb(block));
    erase_tree(t->left);
    t->left = mk_name(&v);
  }
  int ifs() {
    int n = 0;
    FOR_EACH_BLOCK(bb, g.fi())
      for (STLIST *s = bb->statements; s; s = s->rest)
        n += s->first->op == IF;
    return n;
  }
  CfgGraph g;
  SYMTAB v;
};

TEST(FlowGraph, RepeatedTestIsDecidedByTheFirstOnceLoopsExist) {
  test::DebugCapture trace;
  // 1: if (v) 2 else 3;  2: if (v) 4 else 5;  3, 4, 5 -> 6.
  LoopedGraph lg(6, {{1, 2}, {1, 3}, {2, 4}, {2, 5}, {3, 6}, {4, 6}, {5, 6}});
  lg.test_on_v(1);
  lg.test_on_v(2);
  for (int k : {3, 4, 5})
    lg.assign_v(k, k);
  build_loops(lg.g.fi());
  ASSERT_NE(lg.g.fi().bb_list->loop, nullptr);
  EXPECT_TRUE(simpcfg(true, 0));
  EXPECT_EQ(lg.ifs(), 1);
  EXPECT_NE(trace.text().find("is redundant with bb"), std::string::npos);
  EXPECT_TRUE(check_flow_graph(lg.g.fi()).empty());
  // Without loops the same graph keeps both tests.
  LoopedGraph plain(6, {{1, 2}, {1, 3}, {2, 4}, {2, 5}, {3, 6}, {4, 6}, {5, 6}});
  plain.test_on_v(1);
  plain.test_on_v(2);
  for (int k : {3, 4, 5})
    plain.assign_v(k, k);
  simpcfg(false, 0);
  EXPECT_EQ(plain.ifs(), 2);
}

TEST(FlowGraph, CrossJumpingSendsPredecessorsToTheEarlierTwin) {
  test::DebugCapture trace;
  // 1: if (v) 2 else 3;  2 and 3 both hold "v = 7" and go to 4.
  LoopedGraph lg(4, {{1, 2}, {1, 3}, {2, 4}, {3, 4}});
  lg.test_on_v(1);
  for (int k : {2, 3})
    lg.assign_v(k, 7);
  build_loops(lg.g.fi());
  EXPECT_TRUE(simpcfg(true, 0));
  EXPECT_NE(trace.text().find(" is redundant with BB "), std::string::npos);
  EXPECT_TRUE(check_flow_graph(lg.g.fi()).empty());
  // One "v = 7" is left, reached on both arms (the IF went too).
  int assignments = 0;
  FOR_EACH_BLOCK(bb, lg.g.fi())
    for (STLIST *s = bb->statements; s; s = s->rest)
      assignments += s->first->op == ASG;
  EXPECT_EQ(assignments, 1);
  EXPECT_EQ(lg.ifs(), 0);
}

// The verifier names what is wrong; each case breaks one invariant of a
// valid graph.
TEST(FlowGraph, VerifierFindsBrokenGraphs) {
  auto problems_after = [](auto &&breakit) {
    CfgGraph g(4, {{1, 2}, {1, 3}, {2, 4}, {3, 4}});
    breakit(g);
    std::vector<std::string> p = check_flow_graph(g.fi());
    return p.empty() ? std::string() : p.front();
  };
  EXPECT_NE(problems_after([](CfgGraph &g) { remove_edge(g.bb(4)->predecessors, g.bb(2)); })
                .find("does not list it as a predecessor"),
            std::string::npos);
  EXPECT_NE(problems_after([](CfgGraph &g) { add_edge(g.bb(2)->successors, g.bb(3)); })
                .find("not a target of its last statement"),
            std::string::npos);
  EXPECT_NE(problems_after([](CfgGraph &g) {
              // A statement after the block's jump.
              append_statement(g.bb(2), make_branch(g.bb(4)), SrcPos{});
            }).find("before the end of the block"),
            std::string::npos);
  EXPECT_NE(problems_after([](CfgGraph &g) { g.bb(2)->dfn = 9; }).find("has dfn 9"),
            std::string::npos);
  EXPECT_NE(problems_after([](CfgGraph &g) {
              // Swap two blocks on the chain: no longer the walk's order.
              BBLK *first = g.fi().bb_list;
              BBLK *a = first->next;
              BBLK *b = a->next;
              first->next = b;
              a->next = b->next;
              b->next = a;
              std::swap(a->dfn, b->dfn);
              a->prev = b;
              b->prev = first;
              if (a->next)
                a->next->prev = a;
            }).find("reverse postorder"),
            std::string::npos);
}

} // namespace
} // namespace zor
