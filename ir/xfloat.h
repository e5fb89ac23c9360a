// ir/xfloat.h - the extended software floating-point format of FCON values.
//
// An XFLOAT holds a sign, a 15-bit biased exponent and a 64-bit mantissa
// with an explicit integer bit, so every single and double value (and more)
// is held exactly:
//
//   exp == 0,      mant == 0   signed zero
//   exp == 0,      mant != 0   tiny value  mant * 2^(1 - kBias - 63)
//   0 < exp < 0x7FFF           mant * 2^(exp - kBias - 63), bit 63 set
//   exp == 0x7FFF, mant == 0   signed infinity
//   exp == 0x7FFF, mant != 0   NaN
//
// Constants are kept rounded to the precision of their node's type: 32-bit
// types hold IEEE single values, 64-bit types IEEE double values.  Every
// operation that makes a value goes through XFLOAT::round(), which rounds an
// exact (sign, 128-bit integer, binary exponent) triple to nearest-even at a
// given precision; arithmetic for the constant folder computes such a triple
// and calls it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zor {

enum XPrecision : uint8_t {
  XPREC_SINGLE,     // 24-bit significand, IEEE single range
  XPREC_DOUBLE,     // 53-bit significand, IEEE double range
  XPREC_EXTENDED,   // 64-bit significand, the format's own range
};

// The precision of a floating type of `size_bits` bits: 32 single, 64 double
// (a size of 32 or less rounds to single, above 64 keeps the full format).
XPrecision xprec_for_size(uint32_t size_bits);

class XFLOAT {
public:
  static constexpr int kBias = 0x3FFF;
  static constexpr uint16_t kExpSpecial = 0x7FFF;

  bool neg = false;
  uint16_t exp = 0;
  uint64_t mant = 0;

  static XFLOAT zero(bool negative = false) { return XFLOAT{negative, 0, 0}; }
  static XFLOAT infinity(bool negative = false) { return XFLOAT{negative, kExpSpecial, 0}; }
  static XFLOAT quiet_nan(bool negative = false) {
    return XFLOAT{negative, kExpSpecial, 0xC000000000000000ull};
  }

  // (-1)^negative * m * 2^e rounded to nearest-even at precision p;
  // overflow gives infinity, underflow zero (through the target's
  // subnormal range).
  static XFLOAT round(bool negative, unsigned __int128 m, int64_t e, XPrecision p);

  // Parses C floating text: hexadecimal ("%a" form, "0x1.8p+1", the exponent
  // optional), "inf"/"infinity"/"nan" in any case, each with an optional
  // sign, and decimal text (read with strtold, then rounded).  Leading and
  // trailing blanks are allowed; anything else is an error (nullopt).
  static std::optional<XFLOAT> parse(const char *text, XPrecision p);

  static XFLOAT from_double(double d);
  static XFLOAT from_float(float f) { return from_double(static_cast<double>(f)); }
  static XFLOAT from_long_double(long double v, XPrecision p);

  double to_double() const;
  float to_float() const;

  // This value rounded to precision p (a no-op when it already fits).
  XFLOAT rounded(XPrecision p) const;

  // C "%a" text of the value rounded to a double, exactly as printf prints
  // it ("0x1.8p+1", "-0x0p+0", "inf", "-nan", ...).
  std::string hex_text() const;

  bool is_nan() const { return exp == kExpSpecial && mant != 0; }
  bool is_inf() const { return exp == kExpSpecial && mant == 0; }
  bool is_finite() const { return exp != kExpSpecial; }
  bool is_zero() const { return exp == 0 && mant == 0; }
  bool is_negative() const { return neg; }

  XFLOAT negated() const { return XFLOAT{!neg, exp, mant}; }
  XFLOAT abs() const { return XFLOAT{false, exp, mant}; }

  // Unpacks a finite value into m * 2^e (m is 0 for a zero).
  void unpack(uint64_t &m, int64_t &e) const;

  // Same bits (tells -0 from +0 and NaN payloads apart).
  bool identical(const XFLOAT &o) const {
    return neg == o.neg && exp == o.exp && mant == o.mant;
  }
};

// ------------------------------------------------------------ arithmetic
//
// Each operation computes the exact result and rounds it once, to nearest
// even, at precision p (the precision of the node's floating type), so a
// folded constant is the value the target computes.  Signed zeros and
// infinities follow IEEE rules.  What the target would signal is reported in
// `flags` (the library's error flag): an operation that sets a flag has no
// trustworthy constant result and the constant folder keeps the expression.
// A NaN operand counts as invalid, so no fold ever makes a NaN.
enum XfFlag : uint32_t {
  XF_INVALID = 1,     // NaN operand, inf - inf, 0 * inf, 0 / 0, sqrt of a negative
  XF_DIVBYZERO = 2,   // finite non-zero value divided by zero
  XF_OVERFLOW = 4,    // finite operands, result beyond the precision's range
};

XFLOAT xf_add(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags);
XFLOAT xf_sub(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags);
XFLOAT xf_mul(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags);
XFLOAT xf_div(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags);
// Square root.  At XPREC_EXTENDED the result would need more bits than the
// computation keeps, so it sets XF_INVALID there (no type asks for it).
XFLOAT xf_sqrt(const XFLOAT &a, XPrecision p, uint32_t &flags);
// The integer v (a 96-bit constant widened to 128 bits) rounded to p.
XFLOAT xf_from_int(__int128 v, XPrecision p);
// The value truncated towards zero into `out`; false for NaNs, infinities
// and magnitudes of 2^100 or more.
bool xf_to_int(const XFLOAT &a, __int128 &out);

// Compares two values; the result is one outcome bit of ir/node_info.h:
// FO_EQUAL (1), FO_LESS (2), FO_GREATER (4) or FO_UNORDERED (8) when either
// is a NaN.  +0 and -0 compare equal.
uint32_t xf_compare(const XFLOAT &a, const XFLOAT &b);

} // namespace zor
