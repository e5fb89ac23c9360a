// tests/support/cfg_graphs.cpp - small hand-made flow graphs.
#include "tests/support/cfg_graphs.h"

#include <gtest/gtest.h>

#include "cfg/flowgraph.h"
#include "driver/run.h"
#include "ir/node.h"
#include "ir/opcodes.h"

namespace zor::test {

namespace {
const char kFile[] = "graph.c";
} // namespace

CfgGraph::CfgGraph(int blocks, const std::vector<std::pair<int, int>> &edges) {
  symbol_.name_text = "graph";
  symbol_.type_ = types_.mk_function(types_.mk_void());
  symbol_.funinfo = &fi_;
  fi_.symbol = &symbol_;
  fi_.types = &types_;
  fi_.file_name = kFile;
  for (int k = 1; k <= blocks; ++k) {
    BBLK *bb = new BBLK(&fi_);
    bb->uon = k;
    blocks_.push_back(bb);
  }
  for (int k = 1; k <= blocks; ++k) {
    std::vector<BBLK *> targets;
    for (auto [from, to] : edges)
      if (from == k)
        targets.push_back(bb(to));
    NODE *stmt = nullptr;
    switch (targets.size()) {
    case 0:
      stmt = new_node(URETURN, types_.mk_void());
      break;
    case 1:
      stmt = make_branch(targets[0]);
      break;
    case 2:
      stmt = make_if(new_node(ICON, types_.mk_int(IK_INT)), targets[0], targets[1]);
      break;
    default:
      ADD_FAILURE() << "block " << k << " has more than two successors";
      stmt = make_branch(targets[0]);
      break;
    }
    append_statement(bb(k), stmt, SrcPos{kFile, static_cast<uint32_t>(10 * k), 1});
    update_positions(bb(k));
  }
  for (BBLK *bb : blocks_)
    compute_successors(bb);
  currfuninfo = &fi_;
  currfunc = &symbol_;
  renumber_cfg();
}

CfgGraph::~CfgGraph() {
  fi_.release_flow_graph();
  if (currfuninfo == &fi_) {
    currfuninfo = nullptr;
    currfunc = nullptr;
  }
  symbol_.funinfo = nullptr;
}

BBLK *CfgGraph::by_dfn(int dfn) const {
  for (BBLK *bb = fi_.bb_list; bb; bb = bb->next)
    if (bb->dfn == dfn)
      return bb;
  return nullptr;
}

DebugCapture::DebugCapture()
    : file_(std::tmpfile()), saved_stream_(run.debug), saved_flag_(run.debug_flag) {
  run.debug = file_;
  run.debug_flag = 1;
}

DebugCapture::~DebugCapture() {
  run.debug = saved_stream_;
  run.debug_flag = saved_flag_;
  if (file_)
    std::fclose(file_);
}

std::string DebugCapture::text() const {
  std::string out;
  if (!file_)
    return out;
  std::fflush(file_);
  long end = std::ftell(file_);
  std::rewind(file_);
  out.resize(static_cast<size_t>(end));
  size_t got = std::fread(out.data(), 1, out.size(), file_);
  out.resize(got);
  std::fseek(file_, 0, SEEK_END);
  return out;
}

} // namespace zor::test
