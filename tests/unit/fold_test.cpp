// Constant folding: 96-bit constants fitted to types, the integer folder
// (wrapping, unsafe folds left alone, operand swaps), the floating folder
// and the extended arithmetic under it (NaN, infinities, signed zeros,
// rounding to the type's precision).
#include "opt/fold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "ir/funinfo.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_print.h"
#include "ir/type.h"
#include "ir/xfloat.h"

namespace zor {
namespace {

class FoldTest : public testing::Test {
protected:
  FoldTest() {
    x.name_text = "x";
    x.type_ = ty(IK_INT);
    s.name_text = "s";
    s.type_ = ty(IK_SHORT);
    f.name_text = "f";
    f.type_ = flt();
  }
  ~FoldTest() override {
    for (NODE *n : trees_)
      erase_tree(n);
  }

  TYPE *ty(IntKind k) { return pkg.mk_int(k); }
  TYPE *flt() { return pkg.mk_fltpt(FK_FLOAT); }
  TYPE *ldbl() { return pkg.mk_fltpt(FK_LDOUBLE); }
  NODE *k(int64_t v, TYPE *t) { return mk_icon(v, t); }
  NODE *k(int64_t v) { return k(v, ty(IK_INT)); }
  NODE *fk(double v, TYPE *t = nullptr) { return mk_fcon(v, t ? t : flt()); }
  NODE *bin(uint32_t op, NODE *l, NODE *r, TYPE *t = nullptr) {
    return mk_binary(op, l, r, t ? t : ty(IK_INT));
  }
  NODE *un(uint32_t op, NODE *l, TYPE *t = nullptr) { return mk_unary(op, l, t ? t : ty(IK_INT)); }

  // Folds and keeps the result for release at the end.
  NODE *fold(NODE *n) {
    NODE *r = fold_constants(n);
    trees_.push_back(r);
    return r;
  }
  std::string folded(NODE *n) { return tree_source(fold(n)); }
  // The folded value of an ICON result, or "not folded: <text>".
  IntConst value(NODE *n) {
    NODE *r = fold(n);
    EXPECT_EQ(r->op, ICON) << tree_source(r);
    return r->op == ICON ? r->icon : IntConst{0x5eed, 0};
  }
  XFLOAT fvalue(NODE *n) {
    NODE *r = fold(n);
    EXPECT_EQ(r->op, FCON) << tree_source(r);
    return r->op == FCON && r->fval() ? *r->fval() : XFLOAT::quiet_nan();
  }
  bool stays(NODE *n, uint32_t op) {
    NODE *r = fold(n);
    return r->op == op;
  }

  TYPE_PKG pkg;
  SYMTAB x, s, f;

private:
  std::vector<NODE *> trees_;
};

IntConst ic(int64_t v) { return IntConst::from_signed(v); }

// ----------------------------------------------------------- constants

TEST_F(FoldTest, MakeIntConstantCutsAndExtendsByTheType) {
  TYPE *s8 = pkg.mk_integral(IK_CHAR, 8, 8);
  TYPE *u8 = pkg.mk_integral(IK_UCHAR, 8, 8);
  EXPECT_EQ(make_int_constant(ic(255), s8), ic(-1));
  EXPECT_EQ(make_int_constant(ic(255), u8), ic(255));
  EXPECT_EQ(make_int_constant(ic(-1), u8), ic(255));
  // The ZOR char is 16 bits wide.
  EXPECT_EQ(make_int_constant(ic(255), ty(IK_CHAR)), ic(255));
  EXPECT_EQ(make_int_constant(ic(65535), ty(IK_CHAR)), ic(-1));
  EXPECT_EQ(make_int_constant(ic(65535), ty(IK_USHORT)), ic(65535));
  EXPECT_EQ(make_int_constant(ic(0x80000000), ty(IK_INT)), ic(INT32_MIN));
  EXPECT_EQ(make_int_constant(ic(-1), ty(IK_UINT)), ic(0xFFFFFFFF));
  // 64-bit types: the extension word follows the sign only when signed.
  EXPECT_EQ(make_int_constant(IntConst{-1, 0}, ty(IK_LLONG)), (IntConst{-1, -1}));
  EXPECT_EQ(make_int_constant(IntConst{-1, -1}, ty(IK_ULLONG)), (IntConst{-1, 0}));
  // A pointer is the unsigned integer of its size.
  EXPECT_EQ(make_int_constant(ic(-2), pkg.mk_pointer(ty(IK_INT))), ic(65534));
}

TEST_F(FoldTest, MakePromotedConstantUsesTheStandardTypeOfTheClass) {
  EXPECT_EQ(make_promoted_constant(ic(-1), ty(IK_BOOL)), ic(65535));
  EXPECT_EQ(make_promoted_constant(ic(70000), ty(IK_WCHAR)), ic(70000 - 65536));
  EXPECT_EQ(make_promoted_constant(ic(65535), ty(IK_CHAR)), ic(-1));
  EXPECT_EQ(make_promoted_constant(ic(-1), pkg.mk_pointer(ty(IK_CHAR))), ic(65535));
}

TEST_F(FoldTest, ConstantOfANonIntegerTypeIsAnInternalError) {
  EXPECT_DEATH(make_int_constant(ic(1), flt()), "TYPE_IS_INT\\(type\\)");
  EXPECT_DEATH(make_int_constant(ic(1), nullptr), "TYPE_IS_INT\\(type\\)");
}

TEST_F(FoldTest, NinetySixBitArithmeticCarriesIntoTheExtensionWord) {
  const IntConst low_all_ones{-1, 0};   // 2^64 - 1
  EXPECT_EQ(ic_add(low_all_ones, ic(1)), (IntConst{0, 1}));
  EXPECT_EQ(ic_sub(IntConst{0, 1}, ic(1)), low_all_ones);
  EXPECT_EQ(ic_neg(IntConst{0, 1}), (IntConst{0, -1}));
  EXPECT_EQ(ic_mul(IntConst{INT64_MIN, 0}, ic(2)), (IntConst{0, 1}));
  // Wraps at 96 bits.
  EXPECT_EQ(ic_add(IntConst{-1, 0x7FFFFFFF}, ic(1)), (IntConst{0, INT32_MIN}));
  // Extension word signed, then the 64-bit field unsigned.
  EXPECT_EQ(compare_int_constants(IntConst{INT64_MIN, 0}, IntConst{INT64_MAX, 0}), 1);
  EXPECT_EQ(compare_int_constants(IntConst{0, 1}, low_all_ones), 1);
  EXPECT_EQ(compare_int_constants(ic(-1), ic(0)), -1);
  EXPECT_EQ(compare_int_constants(ic(7), ic(7)), 0);
}

// ----------------------------------------------------------- fold_int

TEST_F(FoldTest, IntegerResultsWrapAtTheTypeWidth) {
  TYPE *s16 = ty(IK_SHORT), *u16 = ty(IK_USHORT), *u32 = ty(IK_UINT);
  EXPECT_EQ(value(bin(PLUS, k(32767, s16), k(1, s16), s16)), ic(-32768));
  EXPECT_EQ(value(bin(MULT, k(200, u16), k(200, u16), u16)), ic(40000));
  EXPECT_EQ(value(bin(MINUS, k(0, u32), k(1, u32), u32)), ic(0xFFFFFFFF));
  EXPECT_EQ(value(bin(PLUS, k(INT32_MAX), k(1))), ic(INT32_MIN));
  EXPECT_EQ(value(un(NOTB, k(0, u16), u16)), ic(65535));
  EXPECT_EQ(value(bin(XORB, k(0x0F0F), k(0x00FF))), ic(0x0FF0));
  EXPECT_EQ(value(bin(SLL, k(1), k(31))), ic(INT32_MIN));
  EXPECT_EQ(value(bin(SLL, k(1), k(32))), ic(0));
  EXPECT_EQ(value(bin(SLL, k(1), k(200))), ic(0));
}

TEST_F(FoldTest, RightShiftIsChosenByTheNodeType) {
  TYPE *u32 = ty(IK_UINT);
  EXPECT_EQ(value(bin(SRL, k(-8), k(1))), ic(-4));
  EXPECT_EQ(value(bin(SRL, k(-8), k(40))), ic(-1));   // sign fill
  EXPECT_EQ(value(bin(SRL, k(-8, u32), k(1), u32)), ic(0x7FFFFFFC));
  // An int-typed operand of an unsigned shift is masked to the width first.
  EXPECT_EQ(value(bin(SRL, k(-8), k(1), u32)), ic(0x7FFFFFFC));
  EXPECT_EQ(value(bin(SRL, k(-8, u32), k(32), u32)), ic(0));
  EXPECT_TRUE(stays(bin(SRL, k(8), k(-1)), SRL));   // negative count
}

TEST_F(FoldTest, DivisionTruncatesAndDivisionByZeroStays) {
  TYPE *u32 = ty(IK_UINT);
  EXPECT_EQ(value(bin(DIV, k(-7), k(2))), ic(-3));
  EXPECT_EQ(value(bin(MOD, k(-7), k(2))), ic(-1));
  EXPECT_EQ(value(bin(DIV, k(INT32_MIN), k(-1))), ic(INT32_MIN));
  EXPECT_EQ(value(bin(DIV, k(-1, u32), k(2, u32), u32)), ic(0x7FFFFFFF));
  EXPECT_EQ(value(bin(MOD, k(-1, u32), k(10, u32), u32)), ic(5));
  EXPECT_TRUE(stays(bin(DIV, k(5), k(0)), DIV));
  EXPECT_TRUE(stays(bin(MOD, k(5), k(0)), MOD));
}

TEST_F(FoldTest, NegationOfTheMostNegativeValueStays) {
  TYPE *s16 = ty(IK_SHORT), *u16 = ty(IK_USHORT);
  EXPECT_TRUE(stays(un(UMINUS, k(-32768, s16), s16), UMINUS));
  EXPECT_TRUE(stays(un(ABS, k(-32768, s16), s16), ABS));
  EXPECT_TRUE(stays(un(UMINUS, k(INT32_MIN)), UMINUS));
  EXPECT_EQ(value(un(UMINUS, k(-32767, s16), s16)), ic(32767));
  EXPECT_EQ(value(un(ABS, k(-5))), ic(5));
  EXPECT_EQ(value(un(UMINUS, k(1, u16), u16)), ic(65535));   // unsigned wraps
}

TEST_F(FoldTest, ComparisonsAndTruthValues) {
  TYPE *u32 = ty(IK_UINT);
  EXPECT_EQ(value(bin(LT, k(-1), k(0))), ic(1));
  EXPECT_EQ(value(bin(ULT, k(-1, u32), k(0, u32))), ic(0));
  // The unsigned comparisons read int-typed operands as unsigned too.
  EXPECT_EQ(value(bin(ULT, k(-1), k(0))), ic(0));
  EXPECT_EQ(value(bin(UGT, k(-1), k(1))), ic(1));
  EXPECT_EQ(value(bin(GE, k(3), k(3))), ic(1));
  EXPECT_EQ(value(bin(NEQ, k(3), k(3))), ic(0));
  EXPECT_EQ(value(bin(ANDAND, k(2), k(0))), ic(0));
  EXPECT_EQ(value(bin(OROR, k(0), k(-4))), ic(1));
  EXPECT_EQ(value(un(EXCLAIM, k(0))), ic(1));
  EXPECT_EQ(value(un(EXCLAIM, k(9))), ic(0));
}

TEST_F(FoldTest, PowersFoldByRepeatedSquaring) {
  EXPECT_EQ(value(bin(EXPT, k(2), k(10))), ic(1024));
  EXPECT_EQ(value(bin(EXPT, k(0), k(0))), ic(1));
  EXPECT_EQ(value(bin(EXPT, k(0), k(5))), ic(0));
  EXPECT_EQ(value(bin(EXPT, k(1), k(-3))), ic(1));
  EXPECT_EQ(value(bin(EXPT, k(-3), k(3))), ic(-27));
  EXPECT_EQ(value(bin(EXPT, k(7), k(1))), ic(7));
  EXPECT_EQ(value(bin(EXPT, k(3), k(21))), ic(10460353203LL - 2 * 4294967296LL));   // wraps
  EXPECT_TRUE(stays(bin(EXPT, k(2), k(-1)), EXPT));
  EXPECT_TRUE(stays(bin(EXPT, k(0), k(-1)), EXPT));
}

TEST_F(FoldTest, AConstantLeftOperandMovesRightWhereTheOperatorHasASwap) {
  NODE *lt = fold(bin(LT, k(5), mk_name(&x)));
  EXPECT_EQ(tree_source(lt), "x > 5");
  NODE *sub = fold(bin(FLTN, fk(1.0), mk_name(&f)));
  EXPECT_EQ(sub->op, FGTN);
  EXPECT_EQ(sub->left->op, NAME);
  EXPECT_EQ(folded(bin(DIV, k(5), mk_name(&x))), "5/x");   // no swap exists
  EXPECT_EQ(folded(bin(MINUS, k(5), mk_name(&x))), "5-x");
}

TEST_F(FoldTest, IdentitiesAfterTheSwapGoBackThroughTheSimplifier) {
  EXPECT_EQ(folded(bin(PLUS, k(0), mk_name(&x))), "x");
  EXPECT_EQ(folded(bin(MULT, k(1), mk_name(&x))), "x");
  EXPECT_EQ(folded(bin(PLUS, k(2), bin(PLUS, mk_name(&x), k(1)))), "x+3");
  EXPECT_EQ(folded(bin(MULT, k(3), bin(MULT, mk_name(&x), k(5)))), "x*15");
  // Operands fold first.
  EXPECT_EQ(folded(bin(PLUS, bin(MULT, k(2), k(3)), bin(MINUS, k(10), k(4)))), "12");
  // x * 0 is no identity of this step.
  EXPECT_EQ(folded(bin(MULT, k(0), mk_name(&x))), "x*0");
}

// ----------------------------------------------------------- fold_float

TEST_F(FoldTest, FloatResultsAreRoundedToTheNodeType) {
  XFLOAT sum = fvalue(bin(PLUS, fk(0.1), fk(0.2), flt()));
  EXPECT_EQ(sum.to_float(), 0.1f + 0.2f);
  XFLOAT third = fvalue(bin(DIV, fk(1.0, ldbl()), fk(3.0, ldbl()), ldbl()));
  EXPECT_EQ(third.to_double(), 1.0 / 3.0);
  XFLOAT q = fvalue(bin(DIV, fk(1.0), fk(3.0), flt()));
  EXPECT_EQ(q.to_float(), 1.0f / 3.0f);
  // An integer operand of a floating node becomes a constant of its type.
  EXPECT_EQ(fvalue(bin(PLUS, k(16777217), fk(0.0), flt())).to_float(), 16777216.0f);
  EXPECT_EQ(fvalue(un(SQRT, fk(2.0), flt())).to_float(), std::sqrt(2.0f));
  EXPECT_EQ(fvalue(un(SQR, fk(3.0), flt())).to_float(), 9.0f);
  EXPECT_EQ(fvalue(bin(MULT, fk(1e20), fk(1e10, ldbl()), flt())).to_float(), 1e30f);
}

TEST_F(FoldTest, SignedZerosFollowIeee) {
  EXPECT_TRUE(fvalue(bin(PLUS, fk(-0.0), fk(-0.0), flt())).identical(XFLOAT::zero(true)));
  EXPECT_TRUE(fvalue(bin(PLUS, fk(-0.0), fk(0.0), flt())).identical(XFLOAT::zero(false)));
  EXPECT_TRUE(fvalue(bin(MINUS, fk(1.5), fk(1.5), flt())).identical(XFLOAT::zero(false)));
  EXPECT_TRUE(fvalue(bin(MULT, fk(-2.0), fk(0.0), flt())).identical(XFLOAT::zero(true)));
  EXPECT_TRUE(fvalue(un(SQRT, fk(-0.0), flt())).identical(XFLOAT::zero(true)));
  EXPECT_TRUE(fvalue(un(UMINUS, fk(0.0), flt())).identical(XFLOAT::zero(true)));
}

TEST_F(FoldTest, FloatErrorsCancelTheFold) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(stays(bin(DIV, fk(1.0), fk(0.0), flt()), DIV));
  EXPECT_TRUE(stays(bin(DIV, fk(0.0), fk(0.0), flt()), DIV));
  EXPECT_TRUE(stays(bin(MINUS, fk(inf), fk(inf), flt()), MINUS));
  EXPECT_TRUE(stays(bin(MULT, fk(inf), fk(0.0), flt()), MULT));
  EXPECT_TRUE(stays(bin(MULT, fk(1e30), fk(1e30), flt()), MULT));   // overflow
  EXPECT_TRUE(stays(bin(PLUS, fk(nan), fk(1.0), flt()), PLUS));
  EXPECT_TRUE(stays(un(UMINUS, fk(nan), flt()), UMINUS));
  EXPECT_TRUE(stays(un(SQRT, fk(-1.0), flt()), SQRT));
  // Infinite operands that give a defined result fold.
  EXPECT_TRUE(fvalue(bin(PLUS, fk(inf), fk(1.0), flt())).is_inf());
  EXPECT_TRUE(fvalue(bin(DIV, fk(1.0), fk(-inf), flt())).identical(XFLOAT::zero(true)));
}

TEST_F(FoldTest, ReciprocalsFoldOnlyWhenExact) {
  EXPECT_EQ(fvalue(un(RECIP, fk(4.0), flt())).to_float(), 0.25f);
  EXPECT_EQ(fvalue(un(RECIP, fk(-0.5), flt())).to_float(), -2.0f);
  // 1/3 rounds to a value whose reciprocal is 3 again; 1/7 does not.
  EXPECT_EQ(fvalue(un(RECIP, fk(3.0), flt())).to_float(), 1.0f / 3.0f);
  EXPECT_TRUE(stays(un(RECIP, fk(7.0), flt()), RECIP));
  EXPECT_TRUE(stays(un(RECIP, fk(0.0), flt()), RECIP));
  // RECIP(c) * x is the division it stands for.
  NODE *d = fold(bin(MULT, un(RECIP, fk(7.0), flt()), mk_name(&f), flt()));
  EXPECT_EQ(d->op, DIV);
  EXPECT_EQ(d->left->op, NAME);
  EXPECT_EQ(d->right->op, FCON);
  EXPECT_EQ(fvalue(bin(MULT, un(RECIP, fk(4.0), flt()), fk(6.0), flt())).to_float(), 1.5f);
  EXPECT_EQ(fvalue(bin(MULT, un(RECIP, fk(7.0), flt()), fk(14.0), flt())).to_float(), 2.0f);
}

TEST_F(FoldTest, FloatComparisonsKeepTheUnorderedOutcome) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    uint32_t op;
    double a, b;
    int64_t want;
  } cases[] = {
      {FEQ, nan, nan, 0},  {FNEQN, nan, 1.0, 1}, {FNEQ, nan, 1.0, 0}, {FUNO, 1.0, nan, 1},
      {FORD, 1.0, nan, 0}, {FLEN, nan, 1.0, 1},  {FLE, nan, 1.0, 0},  {FGT, 2.0, 1.0, 1},
      {FEQ, 0.0, -0.0, 1}, {FLT, -0.0, 0.0, 0},  {FGEN, 1.0, 2.0, 0}, {FORD, 1.0, 2.0, 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(value(bin(c.op, fk(c.a), fk(c.b))), ic(c.want)) << op_name(c.op) << " " << c.a;
  // An integer operand is compared as a value of the other operand's type.
  EXPECT_EQ(value(bin(FEQ, k(16777217), fk(16777216.0))), ic(1));
}

// ----------------------------------------------- the extended arithmetic

double bits_to_double(uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

// Random finite values over the whole double range, subnormals
// included, checked against the host's IEEE arithmetic at both precisions.
TEST(XFloatArith, AgreesWithHostArithmetic) {
  std::mt19937_64 rng(12345);
  auto pick = [&]() {
    switch (rng() % 8) {
    case 0: return bits_to_double(rng() & 0x800FFFFFFFFFFFFFull);   // subnormal
    case 1: return static_cast<double>(static_cast<int32_t>(rng() % 2001) - 1000);
    case 2: return bits_to_double((rng() & 0x800FFFFFFFFFFFFFull) | (uint64_t(1023) << 52));
    default: {
      double d = bits_to_double(rng());
      return std::isfinite(d) ? d : 1.0;
    }
    }
  };
  for (int i = 0; i < 20000; ++i) {
    double a = pick(), b = pick();
    if (i % 2) {   // single precision on single values
      float fa = static_cast<float>(a), fb = static_cast<float>(b);
      if (!std::isfinite(fa) || !std::isfinite(fb))
        continue;
      XFLOAT xa = XFLOAT::from_float(fa), xb = XFLOAT::from_float(fb);
      struct {
        XFLOAT got;
        float want;
        const char *what;
      } checks[] = {
          {[&] { uint32_t fl = 0; return xf_add(xa, xb, XPREC_SINGLE, fl); }(), fa + fb, "+"},
          {[&] { uint32_t fl = 0; return xf_sub(xa, xb, XPREC_SINGLE, fl); }(), fa - fb, "-"},
          {[&] { uint32_t fl = 0; return xf_mul(xa, xb, XPREC_SINGLE, fl); }(), fa * fb, "*"},
          {[&] { uint32_t fl = 0; return xf_div(xa, xb, XPREC_SINGLE, fl); }(), fa / fb, "/"},
          {[&] { uint32_t fl = 0; return xf_sqrt(xa.abs(), XPREC_SINGLE, fl); }(),
           std::sqrt(std::fabs(fa)), "sqrt"},
      };
      for (const auto &c : checks) {
        if (std::isnan(c.want))
          continue;
        float got = c.got.to_float();
        ASSERT_EQ(std::memcmp(&got, &c.want, sizeof got), 0)
            << fa << " " << c.what << " " << fb << ": " << got << " want " << c.want;
      }
    } else {
      XFLOAT xa = XFLOAT::from_double(a), xb = XFLOAT::from_double(b);
      uint32_t fl = 0;
      double got[] = {xf_add(xa, xb, XPREC_DOUBLE, fl).to_double(),
                      xf_sub(xa, xb, XPREC_DOUBLE, fl).to_double(),
                      xf_mul(xa, xb, XPREC_DOUBLE, fl).to_double(),
                      xf_div(xa, xb, XPREC_DOUBLE, fl).to_double(),
                      xf_sqrt(xa.abs(), XPREC_DOUBLE, fl).to_double()};
      double want[] = {a + b, a - b, a * b, a / b, std::sqrt(std::fabs(a))};
      for (int j = 0; j < 5; ++j) {
        if (std::isnan(want[j]))
          continue;
        ASSERT_EQ(std::memcmp(&got[j], &want[j], sizeof(double)), 0)
            << a << " op" << j << " " << b << ": " << got[j] << " want " << want[j];
      }
    }
  }
}

TEST(XFloatArith, FlagsReportWhatTheTargetWouldSignal) {
  const XFLOAT one = XFLOAT::from_double(1.0), zero = XFLOAT::zero();
  const XFLOAT inf = XFLOAT::infinity(), nan = XFLOAT::quiet_nan();
  auto flags_of = [](auto op) {
    uint32_t fl = 0;
    op(fl);
    return fl;
  };
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_div(one, zero, XPREC_SINGLE, fl); }), XF_DIVBYZERO);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_div(zero, zero, XPREC_SINGLE, fl); }), XF_INVALID);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_add(inf, inf.negated(), XPREC_SINGLE, fl); }),
            XF_INVALID);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_add(nan, one, XPREC_DOUBLE, fl); }), XF_INVALID);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_sqrt(one.negated(), XPREC_DOUBLE, fl); }),
            XF_INVALID);
  const XFLOAT big = XFLOAT::from_double(3e38);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_add(big, big, XPREC_SINGLE, fl); }), XF_OVERFLOW);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_add(big, big, XPREC_DOUBLE, fl); }), 0u);
  EXPECT_EQ(flags_of([&](uint32_t &fl) { xf_mul(inf, one, XPREC_SINGLE, fl); }), 0u);
}

TEST(XFloatArith, IntegerConversionsRoundOnceAndTruncate) {
  EXPECT_EQ(xf_from_int(16777217, XPREC_SINGLE).to_float(), 16777216.0f);
  EXPECT_EQ(xf_from_int(16777219, XPREC_SINGLE).to_float(), 16777220.0f);   // ties to even
  EXPECT_EQ(xf_from_int(-((__int128)1 << 95), XPREC_DOUBLE).to_double(), -std::ldexp(1.0, 95));
  __int128 v = 0;
  ASSERT_TRUE(xf_to_int(XFLOAT::from_double(-3.99), v));
  EXPECT_EQ(static_cast<int64_t>(v), -3);
  ASSERT_TRUE(xf_to_int(XFLOAT::from_double(0.5), v));
  EXPECT_EQ(static_cast<int64_t>(v), 0);
  ASSERT_TRUE(xf_to_int(XFLOAT::from_double(0x1p80), v));
  EXPECT_TRUE(v == (__int128)1 << 80);
  EXPECT_FALSE(xf_to_int(XFLOAT::from_double(0x1p101), v));
  EXPECT_FALSE(xf_to_int(XFLOAT::quiet_nan(), v));
  EXPECT_FALSE(xf_to_int(XFLOAT::infinity(true), v));
}

} // namespace
} // namespace zor
