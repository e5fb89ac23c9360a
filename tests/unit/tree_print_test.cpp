// The tree printer: source form with the precedence rule, constants in C
// form, pragmas by kind, and the dump form.
#include "ir/tree_print.h"

#include <gtest/gtest.h>

#include <cmath>

#include "icode/position.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/type.h"

namespace zor {
namespace {

class TreePrintTest : public testing::Test {
protected:
  TreePrintTest() {
    for (SYMTAB *s : {&a, &b, &c, &p}) {
      s->name_text = s == &a ? "a" : s == &b ? "b" : s == &c ? "c" : "p";
      s->type_ = i32();
    }
    p.type_ = pkg.mk_pointer(i32());
  }
  ~TreePrintTest() override {
    for (NODE *n : trees_)
      erase_tree(n);
  }

  TYPE *i32() { return pkg.mk_int(IK_INT); }
  NODE *name(SYMTAB &s) { return mk_name(&s); }
  NODE *bin(uint32_t op, NODE *l, NODE *r) { return mk_binary(op, l, r, i32()); }
  NODE *un(uint32_t op, NODE *l) { return mk_unary(op, l, i32()); }
  NODE *k(int64_t v, TYPE *t = nullptr) { return mk_icon(v, t ? t : i32()); }

  std::string src(NODE *n, PrintOptions opt = {}) {
    trees_.push_back(n);
    return tree_source(n, opt);
  }
  std::string dump(NODE *n) {
    trees_.push_back(n);
    return tree_dump(n);
  }

  TYPE_PKG pkg;
  SYMTAB a, b, c, p;

private:
  std::vector<NODE *> trees_;
};

TEST_F(TreePrintTest, LowerPrecedenceOperandsGetParentheses) {
  EXPECT_EQ(src(bin(MULT, bin(PLUS, name(a), name(b)), name(c))), "(a+b)*c");
  EXPECT_EQ(src(bin(PLUS, name(a), bin(MULT, name(b), name(c)))), "a+b*c");
  EXPECT_EQ(src(bin(ASG, name(a), bin(PLUS, name(b), k(1)))), "a = b+1");
  EXPECT_EQ(src(bin(PLUSASG, name(a), bin(COMMAOP, name(b), name(c)))), "a += (b , c)");
  EXPECT_EQ(src(bin(ANDAND, bin(LT, name(a), name(b)), bin(FNEQN, name(b), name(c)))),
            "a < b && b ?<> c");
  EXPECT_EQ(src(bin(ANDB, bin(EQ, name(a), k(0)), bin(SLL, name(b), k(2)))), "a == 0&b<<2");
  EXPECT_EQ(src(bin(QUEST, name(a), bin(COLON, name(b), name(c)))), "a ? b : c");
  EXPECT_EQ(src(bin(FUNO, name(a), name(b))), "a unordered b");
}

TEST_F(TreePrintTest, PrefixAndFunctionLikeOperators) {
  EXPECT_EQ(src(un(UMINUS, bin(PLUS, name(a), name(b)))), "-(a+b)");
  EXPECT_EQ(src(un(UMULT, bin(PLUS, name(p), k(1)))), "*(p+1)");
  EXPECT_EQ(src(un(EXCLAIM, name(a))), "!a");
  EXPECT_EQ(src(un(RECIP, name(a))), "1/a");
  EXPECT_EQ(src(un(SQRT, bin(PLUS, name(a), name(b)))), "sqrt(a+b)");
  EXPECT_EQ(src(un(ABS, name(a))), "ABS(a)");
  EXPECT_EQ(src(bin(DFG_MAX, name(a), name(b))), "DFG_MAX(a, b)");
  EXPECT_EQ(src(bin(VPACK1P, name(a), bin(COMMA, name(b), name(c)))), "VPACK1P(a, (b, c))");
  EXPECT_EQ(src(make_node(SCONV, name(a), nullptr, pkg.mk_int(IK_USHORT))),
            "(unsigned short)a");
  EXPECT_EQ(src(bin(PLUSPLUS, name(a), k(1))), "a++");
  EXPECT_EQ(src(bin(MINMIN, name(p), k(2))), "p--(2)");
}

TEST_F(TreePrintTest, CallsAndStatements) {
  EXPECT_EQ(src(bin(CALL, name(a), bin(COMMA, name(b), bin(PLUS, name(c), k(1))))),
            "a(b, c+1)");
  EXPECT_EQ(src(un(UCALL, name(a))), "a()");
  NODE *ic = new_node(ICALL, i32());
  ic->set_callee_name("memset");
  ic->left = bin(COMMA, name(p), k(0));
  EXPECT_EQ(src(ic), "memset(p, 0)");
  EXPECT_EQ(src(un(URETURN, name(a))), "return a");
  NODE *lab = new_node(LABEL, pkg.mk_void());
  lab->set_label_number(12);
  EXPECT_EQ(src(make_node(CBRANCH, bin(LT, name(a), k(3)), lab, pkg.mk_void())),
            "CBRANCH(a < 3, L12)");
}

TEST_F(TreePrintTest, ConstantsInCForm) {
  EXPECT_EQ(src(k(-5, pkg.mk_int(IK_SHORT))), "-5");
  EXPECT_EQ(src(k(-1, pkg.mk_int(IK_USHORT))), "65535");
  EXPECT_EQ(src(mk_fcon(1.5, pkg.mk_fltpt(FK_LDOUBLE))), "1.5");
  EXPECT_EQ(src(mk_fcon(3.0, pkg.mk_fltpt(FK_LDOUBLE))), "3.0");
  EXPECT_EQ(src(mk_fcon(1e300, pkg.mk_fltpt(FK_LDOUBLE))), "1e+300");
  EXPECT_EQ(src(mk_fcon(0.1, pkg.mk_fltpt(FK_FLOAT))), "0.1");   // shortest at single
  EXPECT_EQ(src(mk_fcon(0.1, pkg.mk_fltpt(FK_LDOUBLE))), "0.1");
  EXPECT_EQ(src(mk_fcon(-HUGE_VAL, pkg.mk_fltpt(FK_FLOAT))), "-inf");
  NODE *s = new_node(SCON, pkg.mk_pointer(pkg.mk_int(IK_CHAR)));
  s->set_scon("a\"b\n\0", 5);
  EXPECT_EQ(src(s), "\"a\\\"b\\n\\000\"");
  EXPECT_EQ(src(bin(PLUS, name(a), k(2)), PrintOptions{true}), "a{int}+2{int}");
}

TEST_F(TreePrintTest, PragmasPrintByKind) {
  EXPECT_EQ(pragma_text(PragmaRecord(37, {"4"})), "#pragma UNROLL(4)");
  EXPECT_EQ(pragma_text(PragmaRecord(38, {"2"})), "// LOOP BELOW UNROLLED BY FACTOR(2)");
  EXPECT_EQ(pragma_text(PragmaRecord(66, {})), "#pragma SOFTWARE PIPELINE CONSTRAINTS()");
  EXPECT_EQ(pragma_text(PragmaRecord(43, {"p:f.c:3", "", "x"})),
            "#pragma ALIGN_ADVICE(p:f.c:3, , x)");
  EXPECT_EQ(pragma_text(PragmaRecord(99, {"x", "y"})), "#pragma[99] (x, y)");
  EXPECT_EQ(pragma_head(112), "#pragma PARALLEL_LOOP(");
  EXPECT_EQ(pragma_head(35), "#pragma[35] (");
  NODE *n = new_node(PPRAGMA, pkg.mk_void());
  n->pragma = new PragmaRecord(39, {"1", "8"});
  EXPECT_EQ(src(n), "#pragma MUST_ITERATE(1, 8)");
}

TEST_F(TreePrintTest, DumpFormOneNodePerLine) {
  EXPECT_EQ(dump(bin(ASG, name(a), bin(PLUS, name(p), k(-1, pkg.mk_int(IK_USHORT))))),
            "=        i32\n"
            "  NAME     i32 a\n"
            "  +        i32\n"
            "    NAME     p16 p\n"
            "    ICON     u16 65535\n");
  NODE *f = mk_fcon(0.5, pkg.mk_fltpt(FK_FLOAT));
  EXPECT_EQ(dump(un(SQR, f)), "SQUARE   i32\n  FCON     f32 0x1p-1\n");
  NODE *ill = new_node(ILLOP, nullptr);
  EXPECT_EQ(tree_dump(ill), " ?ILLOP? -\n");
  ill->op = NOP;   // erase refuses a node that looks erased already
  erase_tree(ill);
  EXPECT_EQ(dump(new_node(30, pkg.mk_void())), "?NODE?   v\n");
  EXPECT_EQ(tree_dump(nullptr), "");
}

TEST_F(TreePrintTest, TypeSpellings) {
  EXPECT_EQ(type_text(pkg.mk_pointer(pkg.mk_qualified(pkg.mk_int(IK_UCHAR), Q_CONST | Q_VOLATILE))),
            "const volatile unsigned char *");
  EXPECT_EQ(type_text(pkg.mk_typedef("size_t", pkg.mk_int(IK_UINT))), "size_t");
  EXPECT_EQ(type_text(pkg.mk_struct(TK_UNION, "U", 32, 16, {})), "union U");
  EXPECT_EQ(type_text(pkg.mk_fltpt(FK_LDOUBLE)), "long double");
}

} // namespace
} // namespace zor
