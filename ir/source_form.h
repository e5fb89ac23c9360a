// ir/source_form.h - the C-like source form of expression trees.
//
// One line of C-like infix text ("a[i] = b + 1" style): an operand is put in
// parentheses when its operator's printing precedence is lower than its
// parent's; calls print as calls, conversions as casts, the other operators
// with their infix spelling or as a function-like name.  Spellings and
// precedences come from if_node_info (ir/node_info.h).
//
// The printer is shared by the debug log's tree printer (ir/tree_print.h,
// over NODE trees) and the I-code text form (tools/textform, over the node
// records of a file), so both show a tree the same way.  `Tree` adapts a tree
// representation:
//
//   using Node = ...;                       // a handle, copied freely
//   bool null(Node) const;
//   uint32_t op(Node) const;
//   Node left(Node) const; Node right(Node) const;
//   bool leaf_text(Node, std::string &) const;   // names, constants, labels
//   std::string callee(Node) const;         // ICALL, UICALL, MCALL, UMCALL
//   std::string cast_type(Node) const;      // a conversion's target type
//   bool is_unit(Node) const;               // the ICON 1 of x++
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "ir/node_info.h"
#include "ir/opcodes.h"

namespace zor {

// Spellings printed between or before operands rather than as a function
// name: no letters, or padded with blanks (" unordered ", " INITLOOP ").
inline bool is_operator_spelling(const char *s) {
  if (s[0] == ' ')
    return true;
  for (; *s; ++s)
    if (std::isalpha(static_cast<unsigned char>(*s)))
      return false;
  return true;
}

template <class Tree>
class SourceForm {
public:
  using Node = typename Tree::Node;

  SourceForm(const Tree &tree, std::string &out) : tree_(tree), out_(out) {}

  // Prints `n` in a context of precedence `ctx`.
  void expr(Node n, unsigned ctx) {
    if (tree_.null(n)) {
      out_ += "<null>";
      return;
    }
    bool paren = op_prec(tree_.op(n)) < ctx;
    if (paren)
      out_ += '(';
    body(n);
    if (paren)
      out_ += ')';
  }

private:
  static std::string trimmed(const char *s) {
    std::string r(s ? s : "");
    while (!r.empty() && r.back() == ' ')
      r.pop_back();
    return r;
  }

  static bool is_conversion(uint32_t op) { return op == SCONV || op == PCONV || op == ACONV; }

  // Operands in a list: the arguments of a function-like operator.
  void operands(Node n, unsigned ctx) {
    bool first = true;
    for (Node c : {tree_.left(n), tree_.right(n)}) {
      if (tree_.null(c))
        continue;
      if (!first)
        out_ += ", ";
      expr(c, ctx);
      first = false;
    }
  }

  void body(Node n) {
    std::string leaf;
    if (tree_.leaf_text(n, leaf)) {
      out_ += leaf;
      return;
    }
    uint32_t op = tree_.op(n);
    unsigned prec = op_prec(op);
    const char *sp = op_infix(op);
    Node l = tree_.left(n);
    Node r = tree_.right(n);
    if (op == CALL || op == UCALL) {
      expr(l, 15);
      out_ += '(';
      if (op == CALL && !tree_.null(r))
        expr(r, 1);
      out_ += ')';
    } else if (op == ICALL || op == UICALL || op == MCALL || op == UMCALL) {
      out_ += tree_.callee(n);
      out_ += '(';
      if (!tree_.null(l) && (op == ICALL || op == MCALL))
        expr(l, 1);
      out_ += ')';
    } else if (is_conversion(op)) {
      out_ += "(" + tree_.cast_type(n) + ")";
      expr(l, prec);
    } else if (op == PLUSPLUS || op == MINMIN) {
      expr(l, prec);
      out_ += sp;
      if (!tree_.null(r) && !tree_.is_unit(r)) {
        out_ += '(';
        expr(r, 0);
        out_ += ')';
      }
    } else if (op == RETURN || op == URETURN) {
      // The NOP that fills an unused operand (docs/icode.md) is not shown.
      out_ += "return";
      bool first = true;
      for (Node c : {l, r}) {
        if (tree_.null(c) || tree_.op(c) == NOP)
          continue;
        out_ += first ? " " : ", ";
        expr(c, 2);
        first = false;
      }
    } else if (op_arity(op) == 2 && !tree_.null(l) && !tree_.null(r) && is_operator_spelling(sp)) {
      expr(l, prec);
      out_ += sp;
      expr(r, prec);
    } else if (op_arity(op) == 1 && !tree_.null(l) && tree_.null(r) && is_operator_spelling(sp) &&
               !std::strchr(sp, ' ')) {
      out_ += sp;
      expr(l, prec);
    } else {
      out_ += trimmed(sp);
      out_ += '(';
      operands(n, 2);
      out_ += ')';
    }
  }

  const Tree &tree_;
  std::string &out_;
};

} // namespace zor
