// ir/verify.h - the tree verifier: what every pass must leave behind.
//
// Checks every statement tree of a function:
//   - operator codes are assigned codes of if_node_info and not ILLOP (an
//     erased node);
//   - operands are present as the operator's arity says (SKIP has none;
//     operators without a fixed arity are not checked);
//   - no node is reached twice, within a statement or across statements,
//     except the operands of a CSE_DUPE, which belong to the tree it
//     duplicates and are not walked;
//   - every node has a type;
//   - LABELDEF numbers are above 0 and defined once, and every LABEL names a
//     label defined in the function;
//   - every NAME has a symbol.
// The driver runs it after each pass under --verify or debug output and ends
// the run on the first problem (driver/pipeline.cpp).  Trees are walked
// without recursion, so the deepest trees the reader accepts are fine.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zor {

class FUNINFO;

struct TreeProblem {
  size_t statement = 0;   // 1-based index in the statement list
  std::string where;      // "root", or the operand path from it: "root.L.R"
  std::string found;
  std::string wanted;
};

// The problems of `fi`'s trees in walking order, at most `limit`.
std::vector<TreeProblem> check_function_trees(const FUNINFO &fi, size_t limit = 20);

// "statement 3 (root.L): found PLUS with 1 operand, wanted 2 operands".
std::string describe(const TreeProblem &p);

// The message that ends the run: "Tree check after 'lcse' failed in f():
// statement 3 (root.L): found ..., wanted ...".
std::string tree_check_message(const TreeProblem &p, const char *pass_name,
                               const char *function_name);

} // namespace zor
