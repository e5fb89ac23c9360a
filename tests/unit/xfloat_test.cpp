// The extended floating format of FCON values: parsing, rounding to the
// type's precision, "%a" text, host conversions and comparison.
#include "ir/xfloat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "ir/node_info.h"

namespace zor {
namespace {

std::string printf_a(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", d);
  return buf;
}

// Parses and prints back at the given precision; "error" when rejected.
std::string reprint(const char *text, XPrecision p) {
  std::optional<XFLOAT> v = XFLOAT::parse(text, p);
  return v ? v->hex_text() : "error";
}

TEST(XFloatText, HexRoundTripsAtDoublePrecision) {
  for (const char *t : {"0x1p+0", "0x1.8p+1", "-0x1.921fb54442d18p+1", "0x0p+0", "-0x0p+0",
                        "0x1.fffffffffffffp+1023", "0x1p-1022", "0x0.0000000000001p-1022",
                        "0x1.0000001p+0"})
    EXPECT_EQ(reprint(t, XPREC_DOUBLE), t);
}

TEST(XFloatText, AcceptsTheFormsPrintfAndStrtodKnow) {
  EXPECT_EQ(reprint("0X1.8P1", XPREC_DOUBLE), "0x1.8p+1");
  EXPECT_EQ(reprint("0x18", XPREC_DOUBLE), "0x1.8p+4");        // exponent optional
  EXPECT_EQ(reprint("0x.8p1", XPREC_DOUBLE), "0x1p+0");
  EXPECT_EQ(reprint("+0x10p-4", XPREC_DOUBLE), "0x1p+0");
  EXPECT_EQ(reprint("  0x1p+0 ", XPREC_DOUBLE), "0x1p+0");
  EXPECT_EQ(reprint("1.5", XPREC_DOUBLE), "0x1.8p+0");          // decimal courtesy
  EXPECT_EQ(reprint("-2e3", XPREC_DOUBLE), printf_a(-2000.0));
  EXPECT_EQ(reprint("0.1", XPREC_DOUBLE), printf_a(0.1));
  EXPECT_EQ(reprint("0.1", XPREC_SINGLE), printf_a(0.1f));
}

TEST(XFloatText, InfinitiesAndNaNs) {
  EXPECT_EQ(reprint("inf", XPREC_SINGLE), "inf");
  EXPECT_EQ(reprint("-INFINITY", XPREC_DOUBLE), "-inf");
  EXPECT_EQ(reprint("nan", XPREC_DOUBLE), "nan");
  EXPECT_EQ(reprint("-nan", XPREC_DOUBLE), "-nan");
  EXPECT_TRUE(XFLOAT::parse("NaN(123)", XPREC_DOUBLE)->is_nan());
  EXPECT_EQ(XFLOAT::parse("inf", XPREC_DOUBLE)->exp, XFLOAT::kExpSpecial);
  EXPECT_EQ(XFLOAT::parse("nan", XPREC_DOUBLE)->exp, XFLOAT::kExpSpecial);
}

TEST(XFloatText, RejectsMalformedText) {
  for (const char *t : {"", " ", "0x", "0xp1", "0x1p", "0x1p+", "abc", "1.5x", "0x1.8p+1 z",
                        "--1", "nan(", "infx", "."})
    EXPECT_FALSE(XFLOAT::parse(t, XPREC_DOUBLE).has_value()) << '"' << t << '"';
  EXPECT_FALSE(XFLOAT::parse(nullptr, XPREC_DOUBLE).has_value());
}

TEST(XFloatRounding, SinglePrecisionRoundsToNearestEven) {
  EXPECT_EQ(reprint("0x1.0000001p+0", XPREC_SINGLE), "0x1p+0");
  EXPECT_EQ(reprint("0x1.0000001p+0", XPREC_DOUBLE), "0x1.0000001p+0");
  // Exactly half way: to the even neighbour, down here and up there.
  EXPECT_EQ(reprint("0x1.000001p+0", XPREC_SINGLE), "0x1p+0");
  EXPECT_EQ(reprint("0x1.000003p+0", XPREC_SINGLE), "0x1.000004p+0");
  // Just above half way, by less than double precision resolves: a detour
  // through double would land on the tie and round down.
  EXPECT_EQ(reprint("0x1.0000010000000001p+0", XPREC_SINGLE), "0x1.000002p+0");
  // Digits beyond 128 bits still count.
  EXPECT_EQ(reprint("0x1.00000100000000000000000000000000000000000000001p+0", XPREC_SINGLE),
            "0x1.000002p+0");
  EXPECT_EQ(reprint("0x1.fffffffp+0", XPREC_SINGLE), "0x1p+1");   // carry into the exponent
}

TEST(XFloatRounding, RangeLimitsOfSingleAndDouble) {
  EXPECT_EQ(reprint("0x1.fffffep+127", XPREC_SINGLE), printf_a(FLT_MAX));
  EXPECT_EQ(reprint("0x1.ffffffp+127", XPREC_SINGLE), "inf");
  EXPECT_EQ(reprint("-0x1p+128", XPREC_SINGLE), "-inf");
  EXPECT_EQ(reprint("0x1p+1024", XPREC_DOUBLE), "inf");
  EXPECT_EQ(reprint("0x1p+1000", XPREC_SINGLE), "inf");
  // Subnormal ranges.
  EXPECT_EQ(reprint("0x1p-149", XPREC_SINGLE), printf_a(std::ldexp(1.0, -149)));
  EXPECT_EQ(reprint("0x1p-150", XPREC_SINGLE), "0x0p+0");           // tie, to even zero
  EXPECT_EQ(reprint("-0x1.8p-150", XPREC_SINGLE), printf_a(-std::ldexp(1.0, -149)));
  EXPECT_EQ(reprint("0x1.4p-148", XPREC_SINGLE), printf_a(std::ldexp(2.0, -149)));  // 2.5 steps
  EXPECT_EQ(reprint("0x1p-1075", XPREC_DOUBLE), "0x0p+0");
  EXPECT_EQ(reprint("0x1.0000000000001p-1075", XPREC_DOUBLE), "0x0.0000000000001p-1022");
  EXPECT_EQ(reprint("0x1p-99999999", XPREC_DOUBLE), "0x0p+0");
}

TEST(XFloatRounding, ExtendedKeepsSixtyFourBits) {
  XFLOAT v = *XFLOAT::parse("0x1.000000000000001p+0", XPREC_EXTENDED);
  EXPECT_EQ(v.mant, 0x8000000000000008ull);
  EXPECT_EQ(v.exp, XFLOAT::kBias);
  EXPECT_EQ(v.to_double(), 1.0);
  EXPECT_TRUE(v.rounded(XPREC_DOUBLE).identical(XFLOAT::from_double(1.0)));
  // Far below double's range, still a value in the extended format.
  XFLOAT tiny = *XFLOAT::parse("0x1p-16400", XPREC_EXTENDED);
  EXPECT_FALSE(tiny.is_zero());
  EXPECT_EQ(tiny.exp, 0);
  EXPECT_TRUE(tiny.rounded(XPREC_DOUBLE).is_zero());
}

TEST(XFloatHost, DoubleAndFloatRoundTrip) {
  const double values[] = {0.0, -0.0, 1.0, -2.5, 0.1, 1e308, DBL_MAX, DBL_MIN,
                           std::ldexp(1.0, -1074), std::ldexp(3.0, -1070), 123456789.125,
                           std::numeric_limits<double>::infinity()};
  for (double d : values) {
    XFLOAT x = XFLOAT::from_double(d);
    EXPECT_EQ(x.to_double(), d) << d;
    EXPECT_EQ(std::signbit(x.to_double()), std::signbit(d)) << d;
    EXPECT_EQ(x.hex_text(), printf_a(d));
  }
  for (float f : {0.1f, -3.0f, FLT_MAX, FLT_MIN, std::ldexp(1.0f, -149)})
    EXPECT_EQ(XFLOAT::from_float(f).to_float(), f) << f;
  EXPECT_TRUE(std::isnan(XFLOAT::from_double(std::nan("")).to_double()));
  EXPECT_EQ(XFLOAT::from_double(0.1).to_float(), 0.1f);
  EXPECT_EQ(XFLOAT::from_double(1e300).to_float(), std::numeric_limits<float>::infinity());
}

TEST(XFloatHost, RoundedIsIdempotent) {
  XFLOAT v = XFLOAT::from_double(0.1);
  XFLOAT s = v.rounded(XPREC_SINGLE);
  EXPECT_FALSE(s.identical(v));
  EXPECT_TRUE(s.rounded(XPREC_SINGLE).identical(s));
  EXPECT_EQ(s.to_double(), static_cast<double>(0.1f));
}

TEST(XFloatCompare, OutcomesAndOrdering) {
  auto x = [](double d) { return XFLOAT::from_double(d); };
  EXPECT_EQ(xf_compare(x(1), x(2)), FO_LESS);
  EXPECT_EQ(xf_compare(x(2), x(1)), FO_GREATER);
  EXPECT_EQ(xf_compare(x(-2), x(-1)), FO_LESS);
  EXPECT_EQ(xf_compare(x(-1), x(0.5)), FO_LESS);
  EXPECT_EQ(xf_compare(x(0.0), x(-0.0)), FO_EQUAL);
  EXPECT_EQ(xf_compare(x(-0.0), x(1e-300)), FO_LESS);
  EXPECT_EQ(xf_compare(x(HUGE_VAL), x(DBL_MAX)), FO_GREATER);
  EXPECT_EQ(xf_compare(x(-HUGE_VAL), x(-DBL_MAX)), FO_LESS);
  EXPECT_EQ(xf_compare(x(std::ldexp(1.0, -1074)), x(0)), FO_GREATER);
  EXPECT_EQ(xf_compare(XFLOAT::quiet_nan(), x(1)), FO_UNORDERED);
  EXPECT_EQ(xf_compare(x(1), XFLOAT::quiet_nan()), FO_UNORDERED);
  EXPECT_FALSE(x(0.0).identical(x(-0.0)));
}

TEST(XFloatCompare, FoldsFloatComparisonsThroughMicroOps) {
  auto holds = [](uint32_t op, const XFLOAT &a, const XFLOAT &b) {
    return (float_op_to_micro_ops(op) & xf_compare(a, b)) != 0;
  };
  XFLOAT one = XFLOAT::from_double(1), two = XFLOAT::from_double(2), nan = XFLOAT::quiet_nan();
  EXPECT_TRUE(holds(FLE, one, two));
  EXPECT_FALSE(holds(FGT, one, two));
  EXPECT_FALSE(holds(FLE, nan, one));
  EXPECT_TRUE(holds(FLEN, nan, one));
  EXPECT_TRUE(holds(FNEQN, nan, nan));
  EXPECT_FALSE(holds(FNEQ, nan, nan));
  EXPECT_TRUE(holds(FUNO, one, nan));
  EXPECT_TRUE(holds(FORD, one, two));
}

} // namespace
} // namespace zor
