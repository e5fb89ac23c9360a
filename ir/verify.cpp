// ir/verify.cpp - the tree verifier.
//
// One walk over the statement list: each tree in preorder with an explicit
// stack of frames (node, parent frame, side), so that a problem can name the
// operand path to its node without keeping paths for every node.  Label
// uses are checked after the walk, when every definition is known.  The set
// of nodes seen is only looked up, never walked, so the order of the report
// is the order of the trees.
#include "ir/verify.h"

#include "cfg/bblk.h"

#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"

namespace zor {

namespace {

struct Frame {
  const NODE *node;
  int parent;   // frame index, -1 for the root
  char side;    // 'L' or 'R' from the parent
};

std::string operand_count_text(unsigned n) {
  return n == 0 ? "no operands" : n == 1 ? "1 operand" : std::to_string(n) + " operands";
}

std::string found_operands(const char *name, bool left, bool right) {
  std::string s = std::string(name) + " with ";
  if (right && !left)
    return s + "only a second operand";
  return s + operand_count_text(unsigned(left) + unsigned(right));
}

class TreeChecker {
public:
  explicit TreeChecker(size_t limit) : limit_(limit) {}

  void check_statement(size_t stmt, const NODE *root) {
    if (!root) {
      report(stmt, "root", "no tree", "a statement tree");
      return;
    }
    frames_.assign(1, Frame{root, -1, 0});
    std::vector<int> stack{0};
    while (!stack.empty() && !full()) {
      int at = stack.back();
      stack.pop_back();
      const NODE *n = frames_[at].node;
      if (!seen_.insert(n).second) {
        report(stmt, path(at), std::string(node_name(n)) + " reached a second time",
               "a node of its own (only the operands of CSE_DUPE are shared)");
        continue;
      }
      if (!check_node(stmt, at) || n->op == CSE_DUPE)
        continue;
      // Right first, so that the first operand is walked first.
      push(stack, n->right, at, 'R');
      push(stack, n->left, at, 'L');
    }
  }

  // Every LABEL must name a label that a LABELDEF of the function defines.
  void check_label_uses() {
    for (const LabelUse &use : uses_) {
      if (full())
        return;
      if (!defined_.count(use.number))
        report(use.stmt, use.where, "LABEL " + std::to_string(use.number) + " with no LABELDEF",
               "a label defined in the function");
    }
  }

  std::vector<TreeProblem> take() { return std::move(problems_); }

private:
  struct LabelUse {
    uint32_t number;
    size_t stmt;
    std::string where;
  };

  bool full() const { return problems_.size() >= limit_; }

  void push(std::vector<int> &stack, const NODE *child, int parent, char side) {
    if (!child)
      return;
    frames_.push_back(Frame{child, parent, side});
    stack.push_back(static_cast<int>(frames_.size() - 1));
  }

  static const char *node_name(const NODE *n) {
    const char *name = op_name(n->op);
    return name ? name : "node";
  }

  std::string path(int at) const {
    std::string sides;
    for (int i = at; frames_[i].parent >= 0; i = frames_[i].parent)
      sides += frames_[i].side;
    std::string p = "root";
    for (auto it = sides.rbegin(); it != sides.rend(); ++it) {
      p += '.';
      p += *it;
    }
    return p;
  }

  void report(size_t stmt, std::string where, std::string found, std::string wanted) {
    if (!full())
      problems_.push_back({stmt, std::move(where), std::move(found), std::move(wanted)});
  }

  void check_label_definition(size_t stmt, int at, uint32_t number) {
    if (number == 0) {
      report(stmt, path(at), "LABELDEF 0", "a label number above 0");
      return;
    }
    auto [first, fresh] = defined_.emplace(number, stmt);
    if (!fresh)
      report(stmt, path(at), "LABELDEF " + std::to_string(number) + " defined again",
             "one definition per label (first in statement " + std::to_string(first->second) +
                 ")");
  }

  // Checks one node; returns whether its operands can be walked.
  bool check_node(size_t stmt, int at) {
    const NODE *n = frames_[at].node;
    const uint32_t op = n->op;
    if (op == ILLOP) {
      report(stmt, path(at), "ILLOP (an erased node)", "a live node");
      return false;
    }
    if (!op_is_assigned(op)) {
      report(stmt, path(at), "operator code " + std::to_string(op), "an assigned operator code");
      return false;
    }
    const char *name = op_name(op);
    if (!n->type)
      report(stmt, path(at), std::string(name) + " without a type", "a type on every node");

    // SKIP carries its number in place of the operand its arity announces.
    const uint32_t arity = op == SKIP ? 0 : op_arity(op);
    if (arity != kNoArity) {
      const bool left = n->left != nullptr, right = n->right != nullptr;
      const bool ok = arity == 0 ? !left && !right : arity == 1 ? left && !right : left && right;
      if (!ok)
        report(stmt, path(at), found_operands(name, left, right),
               operand_count_text(arity) + (arity == 1 ? " (the first)" : ""));
    }

    if (op == NAME && !n->sym())
      report(stmt, path(at), "NAME without a symbol", "a symbol");
    if (op == LABELDEF)
      check_label_definition(stmt, at, n->label_number());
    // The number in the node; with label records (the flow graph) the
    // writer takes the number from the record instead.
    if (op == LABEL && n->label) {
      // In the flow graph a label is its record; the graph verifier
      // checks that it starts a block of the function.
    } else if (op == LABEL) {
      if (n->label_number() == 0)
        report(stmt, path(at), "LABEL 0", "a label number above 0");
      else
        uses_.push_back({n->label_number(), stmt, path(at)});
    }
    return true;
  }

  size_t limit_;
  std::vector<TreeProblem> problems_;
  std::vector<Frame> frames_;
  std::unordered_set<const NODE *> seen_;
  std::unordered_map<uint32_t, size_t> defined_;   // label number -> statement
  std::vector<LabelUse> uses_;
};

} // namespace

std::vector<TreeProblem> check_function_trees(const FUNINFO &fi, size_t limit) {
  TreeChecker checker(limit);
  size_t index = 0;
  for (const BBLK *bb = fi.bb_list; bb; bb = bb->all_next)
    for (const STLIST *s = bb->statements; s; s = s->rest)
      checker.check_statement(++index, s->first);
  for (size_t i = 0; i < fi.statements.size(); ++i)
    checker.check_statement(++index, fi.statements[i].tree);
  checker.check_label_uses();
  return checker.take();
}

std::string describe(const TreeProblem &p) {
  return "statement " + std::to_string(p.statement) + " (" + p.where + "): found " + p.found +
         ", wanted " + p.wanted;
}

std::string tree_check_message(const TreeProblem &p, const char *pass_name,
                               const char *function_name) {
  return std::string("Tree check after '") + pass_name + "' failed in " + function_name +
         "(): " + describe(p);
}

} // namespace zor
