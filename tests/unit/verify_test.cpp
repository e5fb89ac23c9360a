// The tree verifier: what it accepts (the bundled example as read, the
// operands a CSE_DUPE shares, SKIP without an operand, trees deeper than any
// recursion would allow) and what it reports, with the operand path and the
// found/wanted texts of each problem.
#include "ir/verify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icode/reader.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "ir/tree_build.h"

namespace zor {
namespace {

class VerifyTest : public ::testing::Test {
protected:
  void SetUp() override {
    file_ = std::fopen(ZOR_SOURCE_DIR "/examples/demo.if", "rb");
    ASSERT_NE(file_, nullptr);
    auto reader = IcodeReader::open(file_, program_, program_.types());
    ASSERT_TRUE(reader);
    reader->read_all();
    ASSERT_EQ(program_.functions().size(), 2u);
    // Types and a symbol of the example for the trees the tests build.
    const NODE *asg = program_.functions()[1]->statements[0].tree;   // counter = scale(4)
    int_type_ = asg->type;
    counter_ = asg->left->sym();
    void_type_ = program_.functions()[1]->statements[1].tree->type;  // LABELDEF
  }
  void TearDown() override {
    if (file_)
      std::fclose(file_);
  }

  NODE *name() { return mk_name(counter_, int_type_); }
  NODE *icon(int64_t v) { return mk_icon(v, int_type_); }
  NODE *bin(uint32_t op, NODE *l, NODE *r) { return make_node(op, l, r, int_type_); }
  NODE *label_node(uint32_t op, uint32_t number) {
    NODE *n = new_node(op, void_type_);
    n->set_label_number(number);
    return n;
  }
  void add(NODE *tree) { fi_.statements.push_back({tree, SrcPos()}); }

  std::vector<std::string> problems(size_t limit = 20) {
    std::vector<std::string> out;
    for (const TreeProblem &p : check_function_trees(fi_, limit))
      out.push_back(describe(p));
    return out;
  }

  FILE *file_ = nullptr;
  PROGRAM program_;
  TYPE *int_type_ = nullptr;
  TYPE *void_type_ = nullptr;
  SYMTAB *counter_ = nullptr;
  FUNINFO fi_;   // destroyed before the program: its trees use the program's types
};

TEST_F(VerifyTest, AcceptsTheExampleAsRead) {
  for (const FUNINFO *fi : program_.functions())
    EXPECT_TRUE(check_function_trees(*fi).empty()) << fi->symbol->name();
}

TEST_F(VerifyTest, SharedSubtreesAreReportedWithTheirPath) {
  NODE *x = name();
  NODE *plus = bin(PLUS, x, x);
  add(bin(ASG, name(), plus));
  EXPECT_EQ(problems(), std::vector<std::string>{
                            "statement 1 (root.R.R): found NAME reached a second time, wanted a "
                            "node of its own (only the operands of CSE_DUPE are shared)"});
  plus->right = name();

  // A node shared by two statements.
  NODE *k = icon(7);
  add(bin(ASG, name(), k));
  add(make_node(RETURN, k, new_node(NOP, void_type_), int_type_));
  EXPECT_EQ(problems(), std::vector<std::string>{
                            "statement 3 (root.L): found ICON reached a second time, wanted a "
                            "node of its own (only the operands of CSE_DUPE are shared)"});
  fi_.statements[2].tree->left = icon(7);
}

TEST_F(VerifyTest, CseDupeSharesItsOperandsAndTheyAreNotWalked) {
  NODE *sum = bin(PLUS, name(), icon(1));
  add(bin(ASG, name(), sum));
  NODE *dupe = make_node(CSE_DUPE, nullptr, nullptr, int_type_);
  dupe->left = sum->left;
  dupe->right = sum->right;
  add(bin(ASG, name(), dupe));
  EXPECT_TRUE(problems().empty());
}

TEST_F(VerifyTest, OperandsFollowTheArity) {
  NODE *plus = bin(PLUS, name(), nullptr);
  NODE *neg = make_node(UMINUS, name(), icon(1), int_type_);
  NODE *leaf = icon(3);
  leaf->right = icon(4);
  add(plus);
  add(neg);
  add(leaf);
  EXPECT_EQ(problems(),
            (std::vector<std::string>{
                "statement 1 (root): found PLUS with 1 operand, wanted 2 operands",
                "statement 2 (root): found UMINUS with 2 operands, wanted 1 operand (the first)",
                "statement 3 (root): found ICON with only a second operand, wanted no operands"}));

  // SKIP carries a number instead of the operand its arity announces.
  fi_.statements.clear();
  erase_tree(plus);
  erase_tree(neg);
  erase_tree(leaf);
  NODE *skip = new_node(SKIP, int_type_);
  skip->set_skip_number(16);
  add(skip);
  EXPECT_TRUE(problems().empty());
  skip->left = icon(1);
  EXPECT_EQ(problems(), std::vector<std::string>{
                            "statement 1 (root): found SKIP with 1 operand, wanted no operands"});
}

TEST_F(VerifyTest, OperatorCodesMustBeAssignedAndLive) {
  NODE *odd = icon(1);
  odd->op = 30;   // unassigned
  NODE *dead = icon(2);
  dead->op = ILLOP;
  add(bin(ASG, name(), odd));
  add(bin(ASG, name(), dead));
  EXPECT_EQ(problems(),
            (std::vector<std::string>{
                "statement 1 (root.R): found operator code 30, wanted an assigned operator code",
                "statement 2 (root.R): found ILLOP (an erased node), wanted a live node"}));
  odd->op = ICON;
  dead->op = ICON;
}

TEST_F(VerifyTest, TypesSymbolsAndLabels) {
  add(make_node(ASG, name(), new_node(ICON, nullptr), int_type_));
  add(bin(ASG, new_node(NAME, int_type_), icon(0)));
  add(label_node(LABELDEF, 0));
  add(label_node(LABELDEF, 4));
  add(make_node(BRANCH, label_node(LABEL, 9), nullptr, void_type_));
  add(label_node(LABELDEF, 4));
  add(make_node(BRANCH, label_node(LABEL, 4), nullptr, void_type_));
  EXPECT_EQ(problems(),
            (std::vector<std::string>{
                "statement 1 (root.R): found ICON without a type, wanted a type on every node",
                "statement 2 (root.L): found NAME without a symbol, wanted a symbol",
                "statement 3 (root): found LABELDEF 0, wanted a label number above 0",
                "statement 6 (root): found LABELDEF 4 defined again, wanted one definition per "
                "label (first in statement 4)",
                "statement 5 (root.L): found LABEL 9 with no LABELDEF, wanted a label defined in "
                "the function"}));
  EXPECT_EQ(problems(2).size(), 2u);
}

// Trees as deep as the reader accepts are walked without recursion.
TEST_F(VerifyTest, DeepTreesAreWalkedWithoutRecursion) {
  NODE *t = icon(1);
  for (int i = 0; i < 100000; ++i)
    t = make_node(UMINUS, t, nullptr, int_type_);
  add(bin(ASG, name(), t));
  EXPECT_TRUE(problems().empty());
  // Released level by level: erase_tree walks the first operand in a loop.
}

TEST_F(VerifyTest, MessageNamesPassFunctionFoundAndWanted) {
  TreeProblem p{3, "root.L", "PLUS with 1 operand", "2 operands"};
  EXPECT_EQ(tree_check_message(p, "lcse", "main"),
            "Tree check after 'lcse' failed in main(): statement 3 (root.L): found PLUS with 1 "
            "operand, wanted 2 operands");
}

} // namespace
} // namespace zor
