// cfg/verify_cfg.cpp - the flow-graph verifier.
#include "cfg/verify_cfg.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "cfg/flowgraph.h"
#include "cfg/loops.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/tree_walk.h"

namespace zor {

namespace {

class Checker {
public:
  Checker(FUNINFO &fi, size_t limit) : fi_(fi), limit_(limit) {}

  std::vector<std::string> run() {
    FOR_EACH_BLOCK_ALL(bb, fi_)
      blocks_.insert(bb);
    check_chain();
    FOR_EACH_BLOCK_ALL(bb, fi_) {
      if (full())
        break;
      check_block(bb);
    }
    if (!full())
      check_reverse_postorder();
    if (fi_.root_loop && !full())
      for (std::string &p : check_loops(fi_))
        add(std::move(p));
    return std::move(problems_);
  }

private:
  bool full() const { return problems_.size() >= limit_; }

  void add(std::string text) {
    if (!full())
      problems_.push_back(std::move(text));
  }

  static std::string name(const BBLK *bb) {
    return "BB" + std::to_string(bb->dfn) + " (uon " + std::to_string(bb->uon) + ")";
  }

  void check_chain() {
    int32_t expected = 1;
    const BBLK *last = nullptr;
    std::unordered_set<const BBLK *> seen;
    for (const BBLK *bb = fi_.bb_list; bb; bb = bb->next) {
      if (!seen.insert(bb).second) {
        add("the dfn chain meets " + name(bb) + " twice");
        return;
      }
      if (!blocks_.count(bb))
        add(name(bb) + " is on the dfn chain but not among the function's blocks");
      if (bb->dfn != expected)
        add(name(bb) + " has dfn " + std::to_string(bb->dfn) + ", wanted " +
            std::to_string(expected));
      if (bb != fi_.bb_list && bb->prev != last)
        add(name(bb) + ": prev is not the block before it on the chain");
      ++expected;
      last = bb;
    }
    if (fi_.bb_list->prev != last)
      add("the entry's prev is not the last block");
    if (fi_.bb_count != static_cast<uint32_t>(expected - 1))
      add("block count " + std::to_string(fi_.bb_count) + ", but " +
          std::to_string(expected - 1) + " blocks are numbered");
    for (const BBLK *bb : blocks_)
      if (!seen.count(bb))
        add(name(bb) + " is not on the dfn chain");
    if (fi_.bb_list->predecessors)
      add("the entry block has predecessors");
  }

  void check_block(BBLK *bb) {
    if (!bb->statements) {
      add(name(bb) + " has no statements");
      return;
    }
    for (STLIST *s = bb->statements; s; s = s->rest) {
      const uint32_t op = s->first->op;
      if (op == LABELDEF || op == CBRANCH)
        add(name(bb) + " holds a " + op_name(op) + " statement");
      if (s->rest && is_block_end(s->first))
        add(name(bb) + ": " + op_name(op) + " before the end of the block");
      if (!s->rest && !is_block_end(s->first))
        add(name(bb) + " ends in " + op_name(op) + ", not in a control statement");
      check_labels(bb, s->first);
    }
    for (LABREC *lab = bb->labels; lab; lab = lab->rest)
      if (lab->bb != bb)
        add(name(bb) + ": label " + std::to_string(lab->index) + " points at another block");

    // Successors are exactly the blocks the last statement names.
    std::vector<const BBLK *> named;
    collect_targets(last_tree(bb), named);
    for (EDGE *e = bb->successors; e; e = e->rest) {
      if (!blocks_.count(e->bb)) {
        add(name(bb) + " has a successor that is not a block of the function");
        continue;
      }
      if (std::find(named.begin(), named.end(), e->bb) == named.end())
        add(name(bb) + ": successor " + name(e->bb) + " is not a target of its last statement");
      if (!find_edge(e->bb->predecessors, bb))
        add(name(bb) + ": successor " + name(e->bb) + " does not list it as a predecessor");
    }
    for (const BBLK *t : named)
      if (!find_edge(bb->successors, t))
        add(name(bb) + ": target " + name(t) + " is not a successor");
    for (EDGE *e = bb->predecessors; e; e = e->rest) {
      if (!blocks_.count(e->bb)) {
        add(name(bb) + " has a predecessor that is not a block of the function");
        continue;
      }
      if (!find_edge(e->bb->successors, bb))
        add(name(bb) + ": predecessor " + name(e->bb) + " does not list it as a successor");
    }
  }

  void collect_targets(const NODE *t, std::vector<const BBLK *> &out) {
    walk_tree(t, [&](const NODE *n) {
      if (n->op == LABEL)
        if (const BBLK *b = label_target(n))
          out.push_back(b);
    });
  }

  void check_labels(const BBLK *bb, const NODE *t) {
    walk_tree(t, [&](const NODE *n) {
      if (n->op == LABEL && (!n->label || !n->label->bb || !blocks_.count(n->label->bb)))
        add(name(bb) + ": a LABEL names no block of the function");
    });
  }

  // The chain must be the reverse postorder of the depth-first walk that
  // takes successors in list order.
  void check_reverse_postorder() {
    std::unordered_set<const BBLK *> visited;
    std::vector<const BBLK *> post;
    std::vector<std::pair<const BBLK *, const EDGE *>> stack{{fi_.bb_list, fi_.bb_list->successors}};
    visited.insert(fi_.bb_list);
    while (!stack.empty()) {
      auto &[b, e] = stack.back();
      if (e) {
        const BBLK *s = e->bb;
        e = e->rest;
        if (visited.insert(s).second)
          stack.emplace_back(s, s->successors);
        continue;
      }
      post.push_back(b);
      stack.pop_back();
    }
    std::reverse(post.begin(), post.end());
    const BBLK *bb = fi_.bb_list;
    for (const BBLK *want : post) {
      if (bb != want) {
        add("the dfn chain is not the reverse postorder of the depth-first walk at " +
            name(want));
        return;
      }
      bb = bb->next;
    }
    if (bb)
      add(name(bb) + " is on the dfn chain but unreachable");
  }

  FUNINFO &fi_;
  size_t limit_;
  std::unordered_set<const BBLK *> blocks_;
  std::vector<std::string> problems_;
};

} // namespace

std::vector<std::string> check_flow_graph(FUNINFO &fi, size_t limit) {
  if (!fi.bb_list)
    return {};
  return Checker(fi, limit).run();
}

} // namespace zor
