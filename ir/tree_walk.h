// ir/tree_walk.h - the preorder walk over a tree that passes share.
//
// Visits every node of a tree, root first, then the first operand's tree,
// then the second's, without recursion (trees may be 10000 levels deep).
// The operands of a CSE_DUPE belong to the tree it duplicates and are not
// visited.  The visitor may change the node it is given but not detach its
// operands.
#pragma once

#include <vector>

#include "ir/node.h"
#include "ir/opcodes.h"

namespace zor {

template <class Node, class Fn> void walk_tree(Node *root, Fn &&visit) {
  if (!root)
    return;
  std::vector<Node *> stack{root};
  while (!stack.empty()) {
    Node *n = stack.back();
    stack.pop_back();
    visit(n);
    if (n->op == CSE_DUPE)
      continue;
    if (n->right)
      stack.push_back(n->right);
    if (n->left)
      stack.push_back(n->left);
  }
}

} // namespace zor
