// tests/support/cfg_graphs.h - small hand-made flow graphs for the
// flow-graph tests.
//
// CfgGraph makes a function of n blocks (numbered 1..n in creation order,
// block 1 the entry) with the given edges: a block ends in URETURN without
// successors, in a BRANCH with one and in an IF with two, targets in the
// order the edges are listed.  Block k's statement is at line 10 * k of
// "graph.c".  The function becomes the current one and is renumbered, so
// `dfn` numbers are valid (they need not equal the creation numbers: the
// depth-first walk reorders successors).  Blocks that are unreachable are
// deleted by the renumbering; bb() must not be asked for them.
//
// DebugCapture turns the trace on into a temporary file for its lifetime.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cfg/bblk.h"
#include "ir/funinfo.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor::test {

class CfgGraph {
public:
  CfgGraph(int blocks, const std::vector<std::pair<int, int>> &edges);
  ~CfgGraph();
  CfgGraph(const CfgGraph &) = delete;
  CfgGraph &operator=(const CfgGraph &) = delete;

  FUNINFO &fi() { return fi_; }
  // The block made k-th (1-based).
  BBLK *bb(int k) const { return blocks_.at(static_cast<size_t>(k - 1)); }
  // dfn of the block made k-th.
  int dfn(int k) const { return bb(k)->dfn; }
  // The block numbered `dfn` (null when there is none).
  BBLK *by_dfn(int dfn) const;

private:
  TYPE_PKG types_;
  SYMTAB symbol_;
  FUNINFO fi_;
  std::vector<BBLK *> blocks_;
};

class DebugCapture {
public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture &) = delete;
  DebugCapture &operator=(const DebugCapture &) = delete;
  // Everything written to the trace so far.
  std::string text() const;

private:
  FILE *file_;
  FILE *saved_stream_;
  long saved_flag_;
};

} // namespace zor::test
