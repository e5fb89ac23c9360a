// ir/xfloat.cpp - the extended software floating-point format of FCON values.
//
// Values are made only through XFLOAT::round(), which sees the exact value
// as a 128-bit integer scaled by a power of two; parsing keeps a sticky bit
// for digits beyond 128 bits so that long texts still round correctly.
#include "ir/xfloat.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "ir/node_info.h"

namespace zor {
namespace {

using u128 = unsigned __int128;

struct Format {
  int64_t precision;   // significand bits
  int64_t emin;        // exponent of the leading bit of the smallest normal
  int64_t emax;        // exponent of the leading bit of the largest finite
};

constexpr Format kFormats[] = {
    {24, -126, 127},
    {53, -1022, 1023},
    {64, 1 - XFLOAT::kBias, XFLOAT::kBias},
};

// Exponent of bit 0 of the mantissa of a tiny (exp == 0) value.
constexpr int64_t kTinyExp = 1 - XFLOAT::kBias - 63;

int top_bit(u128 v) {
  uint64_t hi = static_cast<uint64_t>(v >> 64);
  if (hi)
    return 127 - __builtin_clzll(hi);
  return 63 - __builtin_clzll(static_cast<uint64_t>(v));
}

bool starts_with_nocase(const char *s, const char *word) {
  for (; *word; ++s, ++word)
    if (std::tolower(static_cast<unsigned char>(*s)) != *word)
      return false;
  return true;
}

const char *skip_blanks(const char *s) {
  while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r')
    ++s;
  return s;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Hexadecimal significand and optional binary exponent, after "0x".
// Returns the end of the number, or null when it is malformed.
const char *parse_hex_body(const char *s, u128 &m, int64_t &e) {
  bool any_digit = false, after_point = false, sticky = false;
  m = 0;
  e = 0;
  for (;; ++s) {
    if (*s == '.' && !after_point) {
      after_point = true;
      continue;
    }
    int d = hex_value(*s);
    if (d < 0)
      break;
    any_digit = true;
    if ((m >> 124) == 0) {
      m = m * 16 + static_cast<unsigned>(d);
      if (after_point)
        e -= 4;
    } else {
      sticky |= d != 0;
      if (!after_point)
        e += 4;
    }
  }
  if (!any_digit)
    return nullptr;
  if (*s == 'p' || *s == 'P') {
    ++s;
    bool eneg = false;
    if (*s == '+' || *s == '-')
      eneg = *s++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*s)))
      return nullptr;
    int64_t x = 0;
    for (; std::isdigit(static_cast<unsigned char>(*s)); ++s)
      if (x < 100000000)   // far beyond any format's range
        x = x * 10 + (*s - '0');
    e += eneg ? -x : x;
  }
  // Dropped non-zero digits lie far below any rounding position.
  if (sticky)
    m |= 1;
  return s;
}

bool is_decimal_text(const char *s) {
  bool digit = false;
  for (; *s; ++s) {
    if (std::isdigit(static_cast<unsigned char>(*s)))
      digit = true;
    else if (!std::strchr(".eE+-", *s) && !std::isspace(static_cast<unsigned char>(*s)))
      return false;
  }
  return digit;
}

} // namespace

XPrecision xprec_for_size(uint32_t size_bits) {
  if (size_bits <= 32)
    return XPREC_SINGLE;
  if (size_bits <= 64)
    return XPREC_DOUBLE;
  return XPREC_EXTENDED;
}

XFLOAT XFLOAT::round(bool negative, u128 m, int64_t e, XPrecision p) {
  if (m == 0)
    return zero(negative);
  const Format &f = kFormats[p];
  int64_t lead = e + top_bit(m);
  int64_t q = std::max(lead - f.precision + 1, f.emin - f.precision + 1);
  int64_t shift = q - e;
  u128 kept;
  if (shift <= 0) {
    kept = m << -shift;   // at most `precision` bits: exact
  } else if (shift > 128) {
    kept = 0;             // below half of the smallest step
  } else {
    u128 rem = shift == 128 ? m : m & ((u128(1) << shift) - 1);
    u128 half = u128(1) << (shift - 1);
    kept = shift == 128 ? 0 : m >> shift;
    if (rem > half || (rem == half && (kept & 1)))
      ++kept;
  }
  if (kept == 0)
    return zero(negative);
  int tk = top_bit(kept);
  int64_t lead_final = q + tk;
  if (lead_final > f.emax)
    return infinity(negative);
  XFLOAT r;
  r.neg = negative;
  if (lead_final >= 1 - kBias) {
    r.exp = static_cast<uint16_t>(lead_final + kBias);
    r.mant = static_cast<uint64_t>(tk <= 63 ? kept << (63 - tk) : kept >> (tk - 63));
  } else {
    r.exp = 0;   // only reached at extended precision
    r.mant = static_cast<uint64_t>(kept << (q - kTinyExp));
  }
  return r;
}

void XFLOAT::unpack(uint64_t &m, int64_t &e) const {
  m = mant;
  e = exp == 0 ? kTinyExp : static_cast<int64_t>(exp) - kBias - 63;
}

XFLOAT XFLOAT::rounded(XPrecision p) const {
  if (!is_finite())
    return *this;
  uint64_t m;
  int64_t e;
  unpack(m, e);
  return round(neg, m, e, p);
}

std::optional<XFLOAT> XFLOAT::parse(const char *text, XPrecision p) {
  if (!text)
    return std::nullopt;
  const char *s = skip_blanks(text);
  const char *number = s;
  bool negative = false;
  if (*s == '+' || *s == '-')
    negative = *s++ == '-';
  XFLOAT r;
  if (starts_with_nocase(s, "inf")) {
    s += starts_with_nocase(s, "infinity") ? 8 : 3;
    r = infinity(negative);
  } else if (starts_with_nocase(s, "nan")) {
    s += 3;
    if (*s == '(') {
      const char *close = std::strchr(s, ')');
      if (!close)
        return std::nullopt;
      s = close + 1;
    }
    r = quiet_nan(negative);
  } else if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    u128 m;
    int64_t e;
    s = parse_hex_body(s + 2, m, e);
    if (!s)
      return std::nullopt;
    r = round(negative, m, e, p);
  } else {
    if (!is_decimal_text(s))
      return std::nullopt;
    char *end = nullptr;
    errno = 0;
    long double v = std::strtold(number, &end);
    if (end == number)
      return std::nullopt;
    s = end;
    r = from_long_double(v, p);
  }
  if (*skip_blanks(s) != '\0')
    return std::nullopt;
  return r;
}

XFLOAT XFLOAT::from_double(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  bool negative = bits >> 63;
  int64_t be = static_cast<int64_t>((bits >> 52) & 0x7FF);
  uint64_t frac = bits & ((uint64_t(1) << 52) - 1);
  if (be == 0x7FF)
    return frac ? XFLOAT{negative, kExpSpecial, (uint64_t(1) << 63) | (frac << 11)}
                : infinity(negative);
  if (be == 0)
    return round(negative, frac, -1074, XPREC_EXTENDED);
  return round(negative, frac | (uint64_t(1) << 52), be - 1075, XPREC_EXTENDED);
}

XFLOAT XFLOAT::from_long_double(long double v, XPrecision p) {
  if (std::isnan(v))
    return quiet_nan(std::signbit(v));
  if (std::isinf(v))
    return infinity(std::signbit(v));
  if (v == 0)
    return zero(std::signbit(v));
  int ex = 0;
  long double f = std::frexp(std::fabs(v), &ex);   // [0.5, 1)
  long double scaled = std::ldexp(f, 64);
  long double hi = std::floor(scaled);
  long double lo = std::ldexp(scaled - hi, 64);    // exact for up to 128 bits
  u128 m = (u128(static_cast<uint64_t>(hi)) << 64) | static_cast<uint64_t>(lo);
  return round(std::signbit(v), m, static_cast<int64_t>(ex) - 128, p);
}

double XFLOAT::to_double() const {
  if (is_nan())
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), neg ? -1.0 : 1.0);
  if (is_inf())
    return neg ? -HUGE_VAL : HUGE_VAL;
  XFLOAT r = rounded(XPREC_DOUBLE);
  if (r.is_inf())
    return r.neg ? -HUGE_VAL : HUGE_VAL;
  uint64_t m;
  int64_t e;
  r.unpack(m, e);
  // m has at most 53 significant bits and the result is representable, so
  // both conversions are exact.
  double d = std::ldexp(static_cast<double>(m), static_cast<int>(e));
  return r.neg ? -d : d;
}

float XFLOAT::to_float() const {
  if (is_nan())
    return std::copysign(std::numeric_limits<float>::quiet_NaN(), neg ? -1.0f : 1.0f);
  return static_cast<float>(rounded(XPREC_SINGLE).to_double());
}

std::string XFLOAT::hex_text() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", to_double());
  return buf;
}

// ------------------------------------------------------------ arithmetic

namespace {

// A finite non-zero value as m * 2^e with bit 63 of m set.
struct Unpacked {
  uint64_t m;
  int64_t e;
};

Unpacked normalized_parts(const XFLOAT &v) {
  Unpacked u;
  v.unpack(u.m, u.e);
  int shift = __builtin_clzll(u.m);
  u.m <<= shift;
  u.e -= shift;
  return u;
}

XFLOAT invalid(uint32_t &flags) {
  flags |= XF_INVALID;
  return XFLOAT::quiet_nan();
}

// Rounds an exact (or sticky-marked) result; a finite result that rounds to
// infinity is an overflow.
XFLOAT rounded_result(bool negative, u128 m, int64_t e, XPrecision p, uint32_t &flags) {
  XFLOAT r = XFLOAT::round(negative, m, e, p);
  if (r.is_inf())
    flags |= XF_OVERFLOW;
  return r;
}

// |a| >= |b| for finite non-zero values.
bool magnitude_at_least(const Unpacked &a, const Unpacked &b) {
  return a.e != b.e ? a.e > b.e : a.m >= b.m;
}

u128 isqrt(u128 &rem) {
  u128 root = 0;
  u128 bit = u128(1) << 126;
  while (bit > rem)
    bit >>= 2;
  while (bit) {
    if (rem >= root + bit) {
      rem -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return root;
}

} // namespace

XFLOAT xf_add(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags) {
  if (a.is_nan() || b.is_nan())
    return invalid(flags);
  if (a.is_inf() || b.is_inf()) {
    if (a.is_inf() && b.is_inf() && a.neg != b.neg)
      return invalid(flags);
    return a.is_inf() ? a : b;
  }
  if (a.is_zero() && b.is_zero())
    return XFLOAT::zero(a.neg && b.neg);   // -0 only for -0 + -0
  if (a.is_zero() || b.is_zero()) {
    const XFLOAT &x = a.is_zero() ? b : a;
    uint64_t m;
    int64_t e;
    x.unpack(m, e);
    return rounded_result(x.neg, m, e, p, flags);
  }
  Unpacked ua = normalized_parts(a), ub = normalized_parts(b);
  bool big_neg = a.neg, small_neg = b.neg;
  if (!magnitude_at_least(ua, ub)) {
    std::swap(ua, ub);
    std::swap(big_neg, small_neg);
  }
  // The larger value with 62 guard bits; the smaller aligned to it, the bits
  // shifted out kept as a sticky half unit below the last guard bit, so the
  // sum lies strictly inside the same rounding interval as the exact one.
  int64_t d = ua.e - ub.e;
  u128 big = u128(ua.m) << 62;
  u128 small_full = u128(ub.m) << 62;
  u128 small = d >= 126 ? 0 : small_full >> d;
  bool sticky = d >= 126 ? true : (small << d) != small_full;
  big <<= 1;
  small = (small << 1) | (sticky ? 1 : 0);
  int64_t e = ua.e - 63;
  u128 m = big_neg == small_neg ? big + small : big - small;
  if (m == 0)
    return XFLOAT::zero(false);   // x + (-x) is +0 when rounding to nearest
  return rounded_result(big_neg, m, e, p, flags);
}

XFLOAT xf_sub(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags) {
  if (b.is_nan())
    return invalid(flags);
  return xf_add(a, b.negated(), p, flags);
}

XFLOAT xf_mul(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags) {
  if (a.is_nan() || b.is_nan())
    return invalid(flags);
  bool negative = a.neg != b.neg;
  if (a.is_inf() || b.is_inf()) {
    if (a.is_zero() || b.is_zero())
      return invalid(flags);
    return XFLOAT::infinity(negative);
  }
  if (a.is_zero() || b.is_zero())
    return XFLOAT::zero(negative);
  uint64_t ma, mb;
  int64_t ea, eb;
  a.unpack(ma, ea);
  b.unpack(mb, eb);
  return rounded_result(negative, u128(ma) * mb, ea + eb, p, flags);
}

XFLOAT xf_div(const XFLOAT &a, const XFLOAT &b, XPrecision p, uint32_t &flags) {
  if (a.is_nan() || b.is_nan())
    return invalid(flags);
  bool negative = a.neg != b.neg;
  if (a.is_inf())
    return b.is_inf() ? invalid(flags) : XFLOAT::infinity(negative);
  if (b.is_inf())
    return XFLOAT::zero(negative);
  if (b.is_zero()) {
    if (a.is_zero())
      return invalid(flags);
    flags |= XF_DIVBYZERO;
    return XFLOAT::infinity(negative);
  }
  if (a.is_zero())
    return XFLOAT::zero(negative);
  Unpacked ua = normalized_parts(a), ub = normalized_parts(b);
  u128 num = u128(ua.m) << 64;
  u128 q = num / ub.m;
  u128 r = num % ub.m;
  int64_t e = ua.e - ub.e - 64;
  if ((q >> 64) == 0) {   // one more quotient bit: 65 in all
    r <<= 1;
    q <<= 1;
    --e;
    if (r >= ub.m) {
      r -= ub.m;
      q |= 1;
    }
  }
  // The remainder as a sticky half unit below the last quotient bit.
  return rounded_result(negative, (q << 1) | (r != 0 ? 1 : 0), e - 1, p, flags);
}

XFLOAT xf_sqrt(const XFLOAT &a, XPrecision p, uint32_t &flags) {
  if (a.is_nan() || p == XPREC_EXTENDED)
    return invalid(flags);
  if (a.is_zero())
    return a;   // sqrt(-0) is -0
  if (a.neg)
    return invalid(flags);
  if (a.is_inf())
    return a;
  Unpacked u = normalized_parts(a);
  // m * 2^k with an even exponent e - k and 127 or 128 significant bits.
  int k = (u.e & 1) ? 63 : 64;
  u128 rem = u128(u.m) << k;
  u128 root = isqrt(rem);   // 64 bits
  int64_t e = (u.e - k) / 2;
  return rounded_result(false, (root << 1) | (rem != 0 ? 1 : 0), e - 1, p, flags);
}

XFLOAT xf_from_int(__int128 v, XPrecision p) {
  bool negative = v < 0;
  u128 mag = negative ? u128(0) - static_cast<u128>(v) : static_cast<u128>(v);
  return XFLOAT::round(negative, mag, 0, p);
}

bool xf_to_int(const XFLOAT &a, __int128 &out) {
  if (!a.is_finite())
    return false;
  uint64_t m;
  int64_t e;
  a.unpack(m, e);
  u128 mag;
  if (m == 0 || e <= -64) {
    mag = 0;
  } else if (e < 0) {
    mag = m >> -e;
  } else {
    if (e + 64 - __builtin_clzll(m) > 100)
      return false;
    mag = u128(m) << e;
  }
  out = a.neg ? -static_cast<__int128>(mag) : static_cast<__int128>(mag);
  return true;
}

uint32_t xf_compare(const XFLOAT &a, const XFLOAT &b) {
  if (a.is_nan() || b.is_nan())
    return FO_UNORDERED;
  if (a.is_zero() && b.is_zero())
    return FO_EQUAL;
  if (a.neg != b.neg)
    return a.neg ? FO_LESS : FO_GREATER;
  int mag = 0;
  if (a.exp != b.exp)
    mag = a.exp < b.exp ? -1 : 1;
  else if (a.mant != b.mant)
    mag = a.mant < b.mant ? -1 : 1;
  if (mag == 0)
    return FO_EQUAL;
  if (a.neg)
    mag = -mag;
  return mag < 0 ? FO_LESS : FO_GREATER;
}

} // namespace zor
