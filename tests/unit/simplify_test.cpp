// The expression simplifier: each rewrite rule with a case where it fires
// and cases where it must not (floats with NaN and signed zeros, side
// effects, volatile accesses, widths and signedness), hoisting, the
// conversions, and the pass over a function's statements.
#include "opt/simplify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cfg/flowgraph.h"
#include "ir/funinfo.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_print.h"
#include "ir/type.h"
#include "opt/fold.h"

namespace zor {
namespace {

class SimplifyTest : public testing::Test {
protected:
  SimplifyTest() {
    declare(x, "x", ty(IK_INT));
    declare(y, "y", ty(IK_INT));
    declare(s, "s", ty(IK_SHORT));
    declare(u, "u", ty(IK_UINT));
    declare(f, "f", flt());
    declare(g, "g", flt());
    declare(vx, "vx", pkg.mk_qualified(ty(IK_INT), Q_VOLATILE));
    declare(p, "p", pkg.mk_pointer(ty(IK_INT)));
    declare(fn, "fn", pkg.mk_function(ty(IK_INT)));
    saved_ = currfuninfo;
    currfuninfo = &fi;
  }
  ~SimplifyTest() override {
    for (NODE *n : trees_)
      erase_tree(n);
    currfuninfo = saved_;
  }

  void declare(SYMTAB &sym, const char *name, TYPE *t) {
    sym.name_text = name;
    sym.type_ = t;
    sym.otype = t;
  }

  TYPE *ty(IntKind k) { return pkg.mk_int(k); }
  TYPE *i32() { return ty(IK_INT); }
  TYPE *flt() { return pkg.mk_fltpt(FK_FLOAT); }
  NODE *n(SYMTAB &sym) { return mk_name(&sym); }
  NODE *k(int64_t v, TYPE *t = nullptr) { return mk_icon(v, t ? t : i32()); }
  NODE *fk(double v) { return mk_fcon(v, flt()); }
  NODE *bin(uint32_t op, NODE *l, NODE *r, TYPE *t = nullptr) {
    return mk_binary(op, l, r, t ? t : l->type);
  }
  NODE *un(uint32_t op, NODE *l, TYPE *t = nullptr) { return mk_unary(op, l, t ? t : l->type); }
  NODE *call() { return mk_unary(UCALL, n(fn), i32()); }   // has side effects
  NODE *cmp(uint32_t op, NODE *l, NODE *r) { return mk_binary(op, l, r, i32()); }

  // Simplifies and keeps the result for release at the end.
  NODE *simp(NODE *t) {
    NODE *r = simplify(t);
    trees_.push_back(r);
    return r;
  }
  std::string text(NODE *t) { return tree_source(simp(t)); }

  TYPE_PKG pkg;
  FUNINFO fi;
  SYMTAB x, y, s, u, f, g, vx, p, fn;

private:
  std::vector<NODE *> trees_;
  FUNINFO *saved_ = nullptr;
};

// ------------------------------------------------------- integer identities

TEST_F(SimplifyTest, NeutralElementsOfIntegerOperators) {
  EXPECT_EQ(text(bin(PLUS, n(x), k(0))), "x");
  EXPECT_EQ(text(bin(MINUS, n(x), k(0))), "x");
  EXPECT_EQ(text(bin(MULT, n(x), k(1))), "x");
  EXPECT_EQ(text(bin(DIV, n(x), k(1))), "x");
  EXPECT_EQ(text(bin(ORB, n(x), k(0))), "x");
  EXPECT_EQ(text(bin(XORB, n(x), k(0))), "x");
  EXPECT_EQ(text(bin(ANDB, n(x), k(-1))), "x");
  EXPECT_EQ(text(bin(ANDB, n(s), k(-1, ty(IK_SHORT)))), "s");
  EXPECT_EQ(text(bin(ANDB, n(u), k(0xFFFFFFFF, ty(IK_UINT)))), "u");
  EXPECT_EQ(text(bin(SRL, n(x), k(0))), "x");
  // x << 0 stays as written; so does an AND with a mask narrower than the type.
  EXPECT_EQ(text(bin(SLL, n(x), k(0))), "x<<0");
  EXPECT_EQ(text(bin(ANDB, n(x), k(0xFFFF))), "x&65535");
}

TEST_F(SimplifyTest, AbsorbingElementsKeepSideEffects) {
  EXPECT_EQ(text(bin(MULT, n(x), k(0))), "0");
  EXPECT_EQ(text(bin(ANDB, n(x), k(0))), "0");
  EXPECT_EQ(text(bin(ORB, n(s), k(-1, ty(IK_SHORT)))), "-1");
  EXPECT_EQ(text(bin(MOD, n(x), k(1))), "0");
  EXPECT_EQ(text(bin(MULT, call(), k(0))), "fn() , 0");
  EXPECT_EQ(text(bin(ANDB, n(vx), k(0))), "vx , 0");   // the volatile read stays
  EXPECT_EQ(text(bin(SLL, k(0), call())), "fn() , 0");
}

TEST_F(SimplifyTest, SelfCancellationNeedsAPureOperand) {
  EXPECT_EQ(text(bin(MINUS, n(x), n(x))), "0");
  EXPECT_EQ(text(bin(XORB, n(x), n(x))), "0");
  EXPECT_EQ(text(bin(ANDB, n(x), n(x))), "x");
  EXPECT_EQ(text(bin(ORB, n(x), n(x))), "x");
  EXPECT_EQ(text(bin(MINUS, n(vx), n(vx))), "vx-vx");
  EXPECT_EQ(text(bin(XORB, call(), call())), "fn()^fn()");
  EXPECT_EQ(text(bin(MINUS, n(x), n(y))), "x-y");
}

TEST_F(SimplifyTest, MinusOneAndShiftsByTheWidth) {
  EXPECT_EQ(text(bin(MULT, n(x), k(-1))), "-x");
  EXPECT_EQ(text(bin(DIV, n(x), k(-1))), "-x");
  EXPECT_EQ(text(bin(MOD, n(x), k(-1))), "0");
  // For an unsigned type the all-ones divisor is a large number.
  EXPECT_EQ(text(bin(DIV, n(u), k(0xFFFFFFFF, ty(IK_UINT)))), "u/4294967295");
  EXPECT_EQ(text(bin(MULT, n(u), k(0xFFFFFFFF, ty(IK_UINT)))), "-u");
  EXPECT_EQ(text(bin(XORB, n(x), k(-1))), "~x");
  EXPECT_EQ(text(bin(SLL, n(x), k(32))), "0");
  EXPECT_EQ(text(bin(SLL, n(s), k(16))), "0");
  EXPECT_EQ(text(bin(SLL, n(x), k(31))), "x<<31");
  EXPECT_EQ(text(bin(SRL, n(u), k(32))), "0");
  EXPECT_EQ(text(bin(SRL, n(x), k(40))), "x>>40");   // the sign fill stays
}

TEST_F(SimplifyTest, ConstantsReassociateAndWrap) {
  EXPECT_EQ(text(bin(PLUS, bin(PLUS, n(x), k(1)), k(2))), "x+3");
  EXPECT_EQ(text(bin(PLUS, bin(MINUS, n(x), k(1)), k(1))), "x");
  EXPECT_EQ(text(bin(MINUS, n(x), k(3))), "x+-3");
  EXPECT_EQ(text(bin(MULT, bin(MULT, n(x), k(6)), k(7))), "x*42");
  EXPECT_EQ(text(bin(ANDB, bin(ANDB, n(x), k(12)), k(10))), "x&8");
  EXPECT_EQ(text(bin(XORB, bin(XORB, n(x), k(5)), k(5))), "x");
  TYPE *s16 = ty(IK_SHORT);
  EXPECT_EQ(text(bin(PLUS, bin(PLUS, n(s), k(32767, s16)), k(1, s16))), "s+-32768");
  EXPECT_EQ(text(bin(MINUS, n(s), k(-32768, s16))), "s+-32768");
  // Floating addition does not associate.
  EXPECT_EQ(text(bin(PLUS, bin(PLUS, n(f), fk(1.0)), fk(2.0))), "f+1.0+2.0");
}

TEST_F(SimplifyTest, ConstantOperandsMoveRight) {
  EXPECT_EQ(text(cmp(LT, k(5), n(x))), "x > 5");
  EXPECT_EQ(text(bin(PLUS, k(0), n(x))), "x");
  EXPECT_EQ(text(bin(MULT, k(4), n(x))), "x*4");
  EXPECT_EQ(text(bin(DIV, k(5), n(x))), "5/x");
  EXPECT_EQ(text(bin(PLUS, bin(MULT, k(2), k(3)), n(x))), "x+6");
}

// -------------------------------------------------------- floating guards

TEST_F(SimplifyTest, FloatIdentitiesRespectSignedZerosAndNaN) {
  EXPECT_EQ(text(bin(PLUS, n(f), fk(-0.0))), "f");
  EXPECT_EQ(text(bin(MINUS, n(f), fk(0.0))), "f");
  EXPECT_EQ(text(bin(MULT, n(f), fk(1.0))), "f");
  EXPECT_EQ(text(bin(DIV, n(f), fk(1.0))), "f");
  EXPECT_EQ(text(bin(MULT, n(f), fk(-1.0))), "-f");
  // -0 + +0 is +0, and -0 - -0 is +0: neither is the operand.
  EXPECT_EQ(text(bin(PLUS, n(f), fk(0.0))), "f+0.0");
  EXPECT_EQ(text(bin(MINUS, n(f), fk(-0.0))), "f--0.0");
  // NaN, infinities and signed zeros: no absorbing zero, no self-cancellation.
  EXPECT_EQ(text(bin(MULT, n(f), fk(0.0))), "f*0.0");
  EXPECT_EQ(text(bin(MINUS, n(f), n(f))), "f-f");
  EXPECT_EQ(text(bin(DIV, n(f), n(f))), "f/f");
}

TEST_F(SimplifyTest, FloatSelfComparisonsFoldOnlyWhenNaNAgrees) {
  EXPECT_EQ(text(cmp(FEQ, n(f), n(f))), "f == f");
  EXPECT_EQ(text(cmp(FUNO, n(f), n(f))), "f unordered f");
  EXPECT_EQ(text(cmp(FNEQN, n(f), n(f))), "f ?<> f");
  EXPECT_EQ(text(cmp(FLEN, n(f), n(f))), "1");   // equal or unordered: always
  EXPECT_EQ(text(cmp(FGEN, n(f), n(f))), "1");
  EXPECT_EQ(text(cmp(FLT, n(f), n(f))), "0");    // never less, NaN or not
  EXPECT_EQ(text(cmp(FNEQ, n(f), n(f))), "0");
  EXPECT_EQ(text(cmp(EQ, n(x), n(x))), "1");
  EXPECT_EQ(text(cmp(ULT, n(x), n(x))), "0");
  EXPECT_EQ(text(cmp(EQ, n(vx), n(vx))), "vx == vx");
  EXPECT_EQ(text(cmp(LE, call(), call())), "fn() <= fn()");
}

// ------------------------------------------------- negations and truth

TEST_F(SimplifyTest, DoubleNegationsAndNegatedOperands) {
  EXPECT_EQ(text(un(UMINUS, un(UMINUS, n(x)))), "x");
  EXPECT_EQ(text(un(NOTB, un(NOTB, n(s)))), "s");
  EXPECT_EQ(text(un(UMINUS, un(UMINUS, n(f)))), "f");
  EXPECT_EQ(text(un(ABS, un(UMINUS, n(f)))), "ABS(f)");
  EXPECT_EQ(text(un(ABS, un(ABS, n(x)))), "ABS(x)");
  EXPECT_EQ(text(bin(PLUS, n(f), un(UMINUS, n(g)))), "f-g");
  EXPECT_EQ(text(bin(MINUS, n(x), un(UMINUS, n(y)))), "x+y");
  EXPECT_EQ(text(bin(MULT, un(UMINUS, n(f)), un(UMINUS, n(g)))), "f*g");
  // An int negation of a short is the short widened; a short negation of an
  // int negation is not the int.
  EXPECT_EQ(text(un(UMINUS, un(UMINUS, n(s), i32()))), "(int)s");
  EXPECT_EQ(text(un(UMINUS, un(UMINUS, n(x)), ty(IK_SHORT))), "--x");
}

TEST_F(SimplifyTest, NegatedComparisons) {
  EXPECT_EQ(text(un(EXCLAIM, cmp(LT, n(x), n(y)))), "x >= y");
  EXPECT_EQ(text(un(EXCLAIM, cmp(ULE, n(u), n(x)))), "u > x");
  NODE *fl = simp(un(EXCLAIM, cmp(FLT, n(f), n(g)), i32()));
  EXPECT_EQ(fl->op, FGEN);   // true for NaN operands, as !(f < g) is
  EXPECT_EQ(text(cmp(EQ, cmp(GT, n(x), n(y)), k(0))), "x <= y");
  EXPECT_EQ(text(cmp(NEQ, cmp(GT, n(x), n(y)), k(0))), "x > y");
  EXPECT_EQ(text(un(EXCLAIM, un(EXCLAIM, cmp(EQ, n(x), n(y))))), "x == y");
  EXPECT_EQ(text(un(EXCLAIM, un(EXCLAIM, n(x)))), "!!x");   // x is not 0 or 1
  EXPECT_EQ(text(cmp(ULT, n(u), k(0, ty(IK_UINT)))), "0");
  EXPECT_EQ(text(cmp(UGE, call(), k(0))), "fn() , 1");
  EXPECT_EQ(text(cmp(ULE, n(u), k(0, ty(IK_UINT)))), "u == 0");
  EXPECT_EQ(text(cmp(UGT, n(u), k(0, ty(IK_UINT)))), "u != 0");
  EXPECT_EQ(text(cmp(LT, n(x), k(0))), "x < 0");
}

TEST_F(SimplifyTest, LogicalOperatorsWithAConstantOperand) {
  EXPECT_EQ(text(bin(ANDAND, k(0), call())), "0");   // fn() is never called
  EXPECT_EQ(text(bin(OROR, k(1), call())), "1");
  EXPECT_EQ(text(bin(ANDAND, k(1), n(x))), "x != 0");
  EXPECT_EQ(text(bin(OROR, k(0), cmp(LT, n(x), n(y)))), "x < y");
  EXPECT_EQ(text(bin(ANDAND, n(x), k(0))), "0");
  EXPECT_EQ(text(bin(ANDAND, call(), k(0))), "fn() , 0");   // fn() is called
  EXPECT_EQ(text(bin(OROR, n(vx), k(7))), "vx , 1");
  EXPECT_EQ(text(bin(OROR, n(x), k(0))), "x != 0");
  NODE *fl = simp(bin(ANDAND, k(1), n(f), i32()));
  EXPECT_EQ(fl->op, FNEQN);   // a NaN counts as true
  EXPECT_EQ(text(bin(ANDAND, n(p), k(1), i32())), "p && 1");   // no pointer zero here
}

TEST_F(SimplifyTest, ConditionalsWithAKnownOrIrrelevantCondition) {
  EXPECT_EQ(text(bin(QUEST, k(3), bin(COLON, n(x), call()))), "x");
  EXPECT_EQ(text(bin(QUEST, k(0), bin(COLON, call(), n(y)))), "y");
  EXPECT_EQ(text(bin(QUEST, un(EXCLAIM, n(u), i32()), bin(COLON, n(x), n(y)))), "u ? y : x");
  EXPECT_EQ(text(bin(QUEST, n(u), bin(COLON, n(x), n(x)), i32())), "x");
  EXPECT_EQ(text(bin(QUEST, call(), bin(COLON, n(x), n(x)))), "fn() , x");
  EXPECT_EQ(text(bin(QUEST, n(u), bin(COLON, n(vx), n(vx)), i32())), "u ? vx : vx");
}

// ------------------------------------------------------------ conversions

TEST_F(SimplifyTest, ConversionsOfConstants) {
  TYPE *s16 = ty(IK_SHORT), *u16 = ty(IK_USHORT), *b = ty(IK_BOOL);
  EXPECT_EQ(text(un(SCONV, k(-1, s16), i32())), "-1");
  EXPECT_EQ(text(un(SCONV, k(-1), u16)), "65535");
  EXPECT_EQ(text(un(SCONV, k(98304), s16)), "-32768");
  EXPECT_EQ(text(un(SCONV, k(65536), b)), "1");   // a test for non-zero
  EXPECT_EQ(text(un(SCONV, k(3), flt())), "3.0");
  EXPECT_EQ(text(un(SCONV, fk(3.9), i32())), "3");
  EXPECT_EQ(text(un(SCONV, fk(-3.9), i32())), "-3");
  EXPECT_EQ(text(un(SCONV, fk(0.5), b)), "1");
  // Out of range, NaN, and overflow to infinity have no constant value.
  EXPECT_EQ(text(un(SCONV, fk(40000.0), s16)), "(short)4e+04");
  EXPECT_EQ(text(un(SCONV, fk(-1.0), u16)), "(unsigned short)-1.0");
  NODE *nan = simp(un(SCONV, fk(std::numeric_limits<double>::quiet_NaN()), i32()));
  EXPECT_EQ(nan->op, SCONV);
  NODE *big = simp(un(SCONV, mk_fcon(1e300, pkg.mk_fltpt(FK_LDOUBLE)), flt()));
  EXPECT_EQ(big->op, SCONV);
  NODE *small = simp(un(SCONV, mk_fcon(0.1, pkg.mk_fltpt(FK_LDOUBLE)), flt()));
  ASSERT_EQ(small->op, FCON);
  EXPECT_EQ(small->fval()->to_float(), 0.1f);
}

TEST_F(SimplifyTest, ConversionChains) {
  TYPE *s16 = ty(IK_SHORT), *u16 = ty(IK_USHORT), *u32 = ty(IK_UINT), *b = ty(IK_BOOL);
  EXPECT_EQ(text(un(SCONV, n(x), i32())), "x");
  // Widening then narrowing back, or narrowing twice: the inner one goes.
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(s), i32()), s16)), "s");
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(x), u32), s16)), "(short)x");
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(s), u32), i32())), "(int)s");
  // Narrowing then widening loses bits: both stay.
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(x), s16), i32())), "(int)(short)x");
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(x), u16), i32())), "(int)(unsigned short)x");
  // A signed value widened into an unsigned type changes value.
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(s), u32), ty(IK_LLONG))), "(long long)(unsigned)s");
  // bool tests for non-zero: never a plain truncation.
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(x), b), s16)), "(short)(bool)x");
  EXPECT_EQ(text(un(SCONV, un(SCONV, n(s), i32()), b)), "(bool)s");
}

TEST_F(SimplifyTest, PointerConversionsAndAddresses) {
  TYPE *pc = pkg.mk_pointer(ty(IK_CHAR));
  EXPECT_EQ(text(un(PCONV, n(p), p.type())), "p");
  EXPECT_EQ(text(un(PCONV, un(PCONV, n(p), pkg.mk_pointer(ty(IK_LONG))), pc)), "(char *)p");
  EXPECT_EQ(text(un(UMULT, un(UAND, n(x), p.type()), i32())), "x");
  EXPECT_EQ(text(un(UAND, un(UMULT, n(p), i32()), p.type())), "p");
  EXPECT_EQ(text(bin(PLUS, n(p), k(0))), "p");
}

// --------------------------------------------------------------- hoisting

TEST_F(SimplifyTest, CommaOperandsAndConstantAssignmentsAreHoisted) {
  EXPECT_EQ(text(bin(PLUS, bin(COMMAOP, call(), n(x)), n(y))), "fn() , x+y");
  EXPECT_EQ(text(bin(MULT, n(y), bin(COMMAOP, call(), n(x)))), "fn() , y*x");
  EXPECT_EQ(text(bin(PLUS, bin(COMMAOP, n(u), n(x), i32()), n(y))), "x+y");   // u has no effect
  EXPECT_EQ(text(bin(PLUS, bin(ASG, n(x), k(5)), n(y))), "x = 5 , y+5");
  EXPECT_EQ(text(bin(MULT, bin(ASG, n(x), k(2)), k(3))), "x = 2 , 6");
  // Not out of the right operand of an assignment, nor out of && and ?:.
  EXPECT_EQ(text(bin(ASG, n(y), bin(ASG, n(x), k(5)))), "y = x = 5");
  EXPECT_EQ(text(bin(ANDAND, n(y), bin(COMMAOP, call(), n(x)))), "y && (fn() , x)");
}

TEST_F(SimplifyTest, AnUnusedValueLeavesItsSideEffects) {
  auto effect = [&](NODE *t) {
    NODE *r = simplify(t, SimpContext::effect);
    std::string out = tree_source(r);
    erase_tree(r);
    return out;
  };
  EXPECT_EQ(effect(bin(PLUS, call(), k(1))), "fn()");
  EXPECT_EQ(effect(un(SCONV, bin(MULT, n(x), call()), ty(IK_SHORT))), "fn()");
  EXPECT_EQ(effect(cmp(LT, call(), un(UCALL, n(fn), i32()))), "fn() , fn()");
  EXPECT_EQ(text(bin(COMMAOP, bin(XORB, call(), n(x)), n(y))), "fn() , y");
  // Without side effects the statement stays; a division may trap.
  EXPECT_EQ(effect(bin(PLUS, n(x), k(1))), "x+1");
  EXPECT_EQ(effect(bin(DIV, call(), n(x))), "fn()/x");
  // A used value keeps its operator.
  EXPECT_EQ(text(bin(PLUS, call(), k(1))), "fn()+1");
}

// ------------------------------------------------------- the other rules

TEST_F(SimplifyTest, CompoundAssignmentsWithANeutralOperand) {
  EXPECT_EQ(text(bin(PLUSASG, n(x), k(0))), "x");
  EXPECT_EQ(text(bin(MULTASG, n(x), k(1))), "x");
  EXPECT_EQ(text(bin(PLUSASG, n(vx), k(0))), "vx += 0");   // the store stays
  EXPECT_EQ(text(bin(SLLASG, n(x), k(0))), "x <<= 0");
  EXPECT_EQ(text(bin(PLUSASG, n(x), k(1))), "x += 1");
}

TEST_F(SimplifyTest, ScaledPointerArithmeticBecomesUnits) {
  EXPECT_EQ(text(bin(PMCONV, n(x), k(32))), "x*2");
  EXPECT_EQ(text(bin(PVCONV, n(x), k(48))), "x/3");
  EXPECT_EQ(text(bin(PMCONV, n(x), k(16))), "x");
  NODE *odd = simp(bin(PMCONV, n(x), k(8)));
  EXPECT_EQ(odd->op, PMCONV);   // less than one unit: no division by zero
}

TEST_F(SimplifyTest, PowersPartsStructuresAndBranches) {
  EXPECT_EQ(text(bin(EXPT, n(x), k(1))), "x");
  EXPECT_EQ(text(bin(EXPT, call(), k(0))), "fn() , 1");
  EXPECT_EQ(text(bin(EXPT, n(x), k(2))), "x^^2");
  TYPE *cf = pkg.mk_complex(flt());
  EXPECT_EQ(text(un(REAL, bin(COMPLEX, n(f), n(g), cf), flt())), "f");
  NODE *keep = simp(un(IMAG, bin(COMPLEX, call(), n(g), cf), flt()));
  EXPECT_EQ(keep->op, IMAG);

  TYPE *st = pkg.mk_struct(TK_STRUCT, "S", 32, 32, {});
  SYMTAB a, prm;
  declare(a, "a", st);
  declare(prm, "prm", st);
  EXPECT_EQ(simp(bin(STASG, n(a), n(a)))->op, NAME);
  fi.params.push_back(&prm);
  EXPECT_EQ(simp(bin(STASG, n(prm), n(prm)))->op, STASG);   // the parameter copy stays
  EXPECT_EQ(simp(bin(STASG, n(a), n(prm)))->op, STASG);

  NODE *label = new_node(LABEL, i32());
  label->set_label_number(3);
  NODE *br = simp(make_node(BRANCH, label, nullptr, i32()));
  EXPECT_TRUE(br->type->is_void());
  EXPECT_TRUE(br->left->type->is_void());
}

TEST_F(SimplifyTest, NodeTypesBecomeCanonical) {
  TYPE *alias = pkg.mk_typedef("myint", i32());
  NODE *t = simp(bin(PLUS, n(x), n(y), alias));
  EXPECT_EQ(t->type, i32());
}

TEST_F(SimplifyTest, OperatorsThatMustNotReachTheSimplifierAreFatal) {
  EXPECT_DEATH(simplify(make_node(CSE_ORIG, n(x), n(y), i32())),
               "Bad opcode in simplifier \\(173\\) CSE_ORIG");
  EXPECT_DEATH(simplify(bin(PLUS, n(x), make_node(CSE_DUPE, n(x), n(y), i32()))),
               "Bad opcode in simplifier \\(172\\) CSE_DUPE");
}

// ------------------------------------------------- random integer trees

// The value of an integer tree under the data model's rules, or nothing
// when it divides by zero.
std::optional<__int128> eval(const NODE *t, const std::map<const SYMTAB *, int64_t> &env) {
  auto fit = [](__int128 v, const TYPE *ty) { return fit_int_to_type(v, ty).to_i128(); };
  auto unsigned_of = [](__int128 v, const TYPE *ty) {
    return fit_int(v, int_width_of(ty), false).to_i128();
  };
  if (t->op == ICON)
    return t->icon.to_i128();
  if (t->op == NAME)
    return fit(env.at(t->sym()), t->type);
  std::optional<__int128> a = eval(t->left, env), b;
  if (!a)
    return std::nullopt;
  if (t->right && !(b = eval(t->right, env)))
    return std::nullopt;
  const uint32_t w = int_width_of(t->type);
  const bool sgn = int_type_is_signed(t->type);
  auto wrap = [&](unsigned __int128 v) { return fit(static_cast<__int128>(v), t->type); };
  using U = unsigned __int128;
  switch (t->op) {
  case PLUS: return wrap(U(*a) + U(*b));
  case MINUS: return wrap(U(*a) - U(*b));
  case MULT: return wrap(U(*a) * U(*b));
  case ANDB: return wrap(U(*a & *b));
  case ORB: return wrap(U(*a | *b));
  case XORB: return wrap(U(*a ^ *b));
  case NOTB: return wrap(~U(*a));
  case UMINUS: return wrap(U(0) - U(*a));
  case SLL: return *b < 0 || *b >= w ? 0 : wrap(U(*a) << int(*b));
  case SRL:
    if (!sgn)
      return *b < 0 || *b >= w ? 0 : unsigned_of(*a, t->type) >> int(*b);
    return fit(*a, t->type) >> int(*b < 0 || *b > 127 ? 127 : *b);
  case DIV:
  case MOD: {
    __int128 x = fit(*a, t->type), y = fit(*b, t->type);
    if (y == 0)
      return std::nullopt;
    return wrap(U(t->op == DIV ? x / y : x % y));
  }
  case EQ: return *a == *b;
  case NEQ: return *a != *b;
  case LT: return *a < *b;
  case LE: return *a <= *b;
  case GT: return *a > *b;
  case GE: return *a >= *b;
  case ULT: return unsigned_of(*a, t->left->type) < unsigned_of(*b, t->right->type);
  case UGE: return unsigned_of(*a, t->left->type) >= unsigned_of(*b, t->right->type);
  case ULE: return unsigned_of(*a, t->left->type) <= unsigned_of(*b, t->right->type);
  case UGT: return unsigned_of(*a, t->left->type) > unsigned_of(*b, t->right->type);
  case EXCLAIM: return *a == 0;
  case ANDAND: return *a != 0 && *b != 0;
  case OROR: return *a != 0 || *b != 0;
  case SCONV: return is_int_type(t->type) && t->type->getr()->subkind == IK_BOOL ? *a != 0 : fit(*a, t->type);
  case COMMAOP: return *b;
  default: ADD_FAILURE() << "eval: " << op_name(t->op); return 0;
  }
}

// Random trees over variables of five integer types, with the constants
// that sit at the edges of those types, checked value for value before and
// after simplification.
TEST_F(SimplifyTest, RandomIntegerTreesKeepTheirValues) {
  SYMTAB ll, us;
  declare(ll, "ll", ty(IK_LLONG));
  declare(us, "us", ty(IK_USHORT));
  SYMTAB *vars[] = {&x, &s, &u, &ll, &us};
  const int64_t edges[] = {0, 1, -1, 2, 3, 5, 15, 16, 31, 32, 63, 255, 32767, -32768, 65535,
                           INT32_MAX, INT32_MIN, 0xFFFFFFFFll, INT64_MAX, INT64_MIN};
  const uint32_t binary[] = {PLUS, MINUS, MULT, ANDB, ORB, XORB, SLL, SRL, DIV, MOD};
  const uint32_t compares[] = {EQ, NEQ, LT, LE, GT, GE, ULT, ULE, UGT, UGE};
  std::mt19937 rng(2026);
  auto pick = [&](auto &arr) { return arr[rng() % std::size(arr)]; };
  std::function<NODE *(TYPE *, int)> gen = [&](TYPE *t, int depth) -> NODE * {
    uint32_t r = depth <= 0 ? rng() % 3 : rng() % 12;
    if (r == 0)
      return k(pick(edges), t);
    if (r == 1) {
      for (SYMTAB *v : vars)
        if (v->type() == t)
          return n(*v);
    }
    if (r <= 2)
      return un(SCONV, gen(pick(vars)->type(), depth - 1), t);
    if (r == 3)
      return un(rng() % 2 ? UMINUS : NOTB, gen(t, depth - 1), t);
    if (r == 4)
      return bin(pick(compares), gen(t, depth - 1), gen(t, depth - 1), t);
    if (r == 5)
      return bin(rng() % 2 ? ANDAND : OROR, gen(t, depth - 1), gen(t, depth - 1), t);
    if (r == 6)
      return un(EXCLAIM, gen(t, depth - 1), t);
    uint32_t op = pick(binary);
    return bin(op, gen(t, depth - 1), op == SLL || op == SRL ? gen(i32(), depth - 1) : gen(t, depth - 1), t);
  };
  int compared = 0;
  for (int i = 0; i < 3000; ++i) {
    TYPE *t = pick(vars)->type();
    NODE *tree = gen(t, 4);
    NODE *before = copy_node(tree, false, true);
    NODE *after = simp(tree);
    for (int e = 0; e < 4; ++e) {
      std::map<const SYMTAB *, int64_t> env;
      for (SYMTAB *v : vars)
        env[v] = e == 0 ? 0
                       : static_cast<int64_t>(static_cast<uint64_t>(pick(edges)) +
                                              (e == 3 ? rng() % 7 : 0));
      std::optional<__int128> want = eval(before, env);
      if (!want)
        continue;
      std::optional<__int128> got = eval(after, env);
      ++compared;
      ASSERT_TRUE(got && *got == *want)
          << tree_source(before) << "\n  became " << tree_source(after) << "\n  want "
          << static_cast<int64_t>(*want) << " got " << (got ? static_cast<int64_t>(*got) : 0);
    }
    erase_tree(before);
  }
  EXPECT_GT(compared, 5000);
}

// ---------------------------------------------------------------- the pass

TEST_F(SimplifyTest, SimpAllTreesRewritesEveryStatement) {
  fi.statements.push_back({bin(ASG, n(x), bin(PLUS, n(y), k(0))), {}});
  fi.statements.push_back({bin(ASG, n(x), n(y)), {}});
  fi.statements.push_back({bin(ASG, n(y), cmp(LT, k(2), n(x))), {}});
  EXPECT_TRUE(simp_all_trees(fi));
  EXPECT_EQ(tree_source(fi.statements[0].tree), "x = y");
  EXPECT_EQ(tree_source(fi.statements[1].tree), "x = y");
  EXPECT_EQ(tree_source(fi.statements[2].tree), "y = x > 2");
  EXPECT_FALSE(simp_all_trees(fi));   // a fixed point
  fi.release_statements();
}

TEST_F(SimplifyTest, SimpAllTreesReachesTheBlocksOfAFlowGraph) {
  fi.types = &pkg;
  fi.statements.push_back({bin(ASG, n(x), bin(PLUS, n(y), k(0))), {}});
  NODE *nop = new_node(NOP, pkg.mk_void());
  fi.statements.push_back({make_node(URETURN, nop, nullptr, pkg.mk_void()), {}});
  build_flow_graph();
  ASSERT_NE(fi.bb_list, nullptr);
  EXPECT_TRUE(simp_all_trees(fi));
  std::vector<std::string> texts;
  for_each_statement_tree(fi, [&](NODE *&t) { texts.push_back(tree_source(t)); });
  EXPECT_NE(std::find(texts.begin(), texts.end(), "x = y"), texts.end());
}

TEST_F(SimplifyTest, DeepTreesDoNotExhaustTheStack) {
  // 10000 levels, as deep as the reader accepts.
  NODE *t = n(x);
  for (int i = 0; i < 10000; ++i)
    t = bin(PLUS, t, k(1));
  EXPECT_EQ(text(t), "x+10000");
  NODE *c = n(y);
  for (int i = 0; i < 10000; ++i)
    c = bin(COMMAOP, c, call());
  NODE *r = simp(c);
  EXPECT_EQ(r->op, COMMAOP);
}

} // namespace
} // namespace zor
