// tools/zrun/eval.cpp - evaluation of compiled trees and execution of
// statements (see interp.h).
//
// Integer values are held sign- or zero-extended into 64 bits as the type of
// their node says; float values as doubles, rounded to single precision when
// the type is 32 bits wide (every single operation computed in double and
// rounded once is correctly rounded).  Aggregates are addresses.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "tools/zrun/interp.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

inline double round_to(double v, bool single) {
  return single ? static_cast<double>(static_cast<float>(v)) : v;
}

inline uint64_t width_mask(unsigned w) {
  return w >= 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
}

// A float converted to an integer of layout l: truncated towards zero,
// saturated at the ends of the range; NaN gives 0.
int64_t float_to_int(double d, const Layout &l) {
  if (std::isnan(d))
    return 0;
  d = std::trunc(d);
  unsigned w = l.width;
  if (l.sgn) {
    double hi = std::ldexp(1.0, static_cast<int>(w) - 1);
    if (d >= hi)
      return static_cast<int64_t>(width_mask(w - 1));
    if (d < -hi)
      return wrap(static_cast<int64_t>(uint64_t{1} << (w - 1)), l);
    return wrap(static_cast<int64_t>(d), l);
  }
  if (d <= 0)
    return 0;
  double hi = std::ldexp(1.0, static_cast<int>(w));
  if (d >= hi)
    return static_cast<int64_t>(width_mask(w));
  return static_cast<int64_t>(static_cast<uint64_t>(d));
}

double int_to_float(int64_t v, const Layout &from, bool single) {
  double d = from.sgn ? static_cast<double>(v) : static_cast<double>(static_cast<uint64_t>(v));
  if (single) {
    // Round once, straight to single (a double in between could round twice).
    return static_cast<double>(from.sgn ? static_cast<float>(v)
                                        : static_cast<float>(static_cast<uint64_t>(v)));
  }
  return d;
}

} // namespace

// ------------------------------------------------------------------ memory

void Interpreter::check(int64_t addr, uint32_t units, bool write) {
  if (addr < 0 || addr >= static_cast<int64_t>(kMemoryUnits)) {
    if ((addr & kPoison) && (static_cast<uint64_t>(addr) >> 33) == 0)
      fail("use of an uninitialized pointer");
    fail("access outside any object");
  }
  if (addr < static_cast<int64_t>(kNullPage))
    fail("access through a null pointer");
  if (addr + units > kMemoryUnits)
    fail("access outside any object");
  const uint8_t *s = &shadow_[static_cast<uint32_t>(addr)];
  for (uint32_t i = 0; i < units; ++i) {
    if (!(s[i] & SH_OBJECT))
      fail("access outside any object");
    if (write && (s[i] & SH_READONLY))
      fail("write to a read-only object");
  }
}

int64_t Interpreter::load_int(uint32_t a, const Layout &l, bool chk) {
  if (chk)
    check(a, l.units, false);
  const uint16_t *m = &memory_[a];
  uint64_t v;
  switch (l.units) {
  case 1: v = m[0]; break;
  case 2: v = m[0] | (static_cast<uint64_t>(m[1]) << 16); break;
  default:
    v = 0;
    for (uint32_t i = 0; i < l.units && i < 4; ++i)
      v |= static_cast<uint64_t>(m[i]) << (16 * i);
    break;
  }
  if (l.ptr && !(shadow_[a] & SH_INIT))
    return kPoison;
  return wrap(static_cast<int64_t>(v), l);
}

void Interpreter::store_int(uint32_t a, const Layout &l, int64_t v, bool chk) {
  if (chk)
    check(a, l.units, true);
  uint16_t *m = &memory_[a];
  uint8_t *s = &shadow_[a];
  uint64_t u = static_cast<uint64_t>(v);
  // An uninitialized pointer stays one when it is stored.
  uint8_t init = (l.ptr && poisoned(v)) ? 0 : SH_INIT;
  for (uint32_t i = 0; i < l.units && i < 4; ++i) {
    m[i] = static_cast<uint16_t>(u >> (16 * i));
    s[i] = static_cast<uint8_t>((s[i] & ~SH_INIT) | init);
  }
}

double Interpreter::load_float(uint32_t a, const Layout &l, bool chk) {
  if (chk)
    check(a, l.units, false);
  const uint16_t *m = &memory_[a];
  if (l.single) {
    uint32_t bits = m[0] | (static_cast<uint32_t>(m[1]) << 16);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  uint64_t bits = 0;
  for (uint32_t i = 0; i < 4; ++i)
    bits |= static_cast<uint64_t>(m[i]) << (16 * i);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void Interpreter::store_float(uint32_t a, const Layout &l, double v, bool chk) {
  if (chk)
    check(a, l.units, true);
  uint16_t *m = &memory_[a];
  uint64_t bits;
  uint32_t units;
  if (l.single) {
    float f = static_cast<float>(v);
    uint32_t b32;
    std::memcpy(&b32, &f, sizeof b32);
    bits = b32;
    units = 2;
  } else {
    std::memcpy(&bits, &v, sizeof bits);
    units = 4;
  }
  for (uint32_t i = 0; i < units; ++i) {
    m[i] = static_cast<uint16_t>(bits >> (16 * i));
    shadow_[a + i] |= SH_INIT;
  }
}

void Interpreter::copy_units(uint32_t dst, uint32_t src, uint32_t units, bool chk) {
  if (units == 0)
    return;
  if (chk) {
    check(src, units, false);
    check(dst, units, true);
  }
  std::memmove(&memory_[dst], &memory_[src], units * sizeof(uint16_t));
  if (dst <= src) {
    for (uint32_t i = 0; i < units; ++i)
      shadow_[dst + i] = static_cast<uint8_t>((shadow_[dst + i] & ~SH_INIT) |
                                              (shadow_[src + i] & SH_INIT));
  } else {
    for (uint32_t i = units; i-- > 0;)
      shadow_[dst + i] = static_cast<uint8_t>((shadow_[dst + i] & ~SH_INIT) |
                                              (shadow_[src + i] & SH_INIT));
  }
}

// ---------------------------------------------------------------- lvalues

uint32_t Interpreter::lvalue_address(CNode *c) {
  if (c->reg)
    return 0;
  int64_t a = ival(c->a);
  if (c->chk)
    check(a, c->lv.units, true);
  return static_cast<uint32_t>(a);
}

int64_t Interpreter::read_lvalue(CNode *c, uint32_t a) {
  if (c->reg)
    return rf_[c->slot].i;
  if (c->bf_width) {
    Layout unit{VC_INT, 64, false, false, false, false, c->lv.units};
    uint64_t raw = static_cast<uint64_t>(load_int(a, unit, false));
    uint64_t v = (raw >> c->bf_shift) & width_mask(c->bf_width);
    Layout field{VC_INT, c->bf_width, c->lv.sgn, false, false, false, 1};
    return wrap(static_cast<int64_t>(v), field);
  }
  return load_int(a, c->lv, false);
}

void Interpreter::write_lvalue(CNode *c, uint32_t a, int64_t v) {
  if (c->reg) {
    rf_[c->slot].i = v;
    return;
  }
  if (c->bf_width) {
    Layout unit{VC_INT, 64, false, false, false, false, c->lv.units};
    uint64_t raw = static_cast<uint64_t>(load_int(a, unit, false));
    uint64_t mask = width_mask(c->bf_width) << c->bf_shift;
    raw = (raw & ~mask) | ((static_cast<uint64_t>(v) << c->bf_shift) & mask);
    store_int(a, unit, static_cast<int64_t>(raw), false);
    return;
  }
  store_int(a, c->lv, v, false);
}

double Interpreter::read_lvalue_f(CNode *c, uint32_t a) {
  if (c->lv.cls == VC_INT) {
    int64_t v = read_lvalue(c, a);
    return int_to_float(v, c->lv, c->l.single);
  }
  if (c->reg)
    return rf_[c->slot].d;
  return load_float(a, c->lv, false);
}

void Interpreter::write_lvalue_f(CNode *c, uint32_t a, double v) {
  if (c->lv.cls == VC_INT) {
    int64_t i = c->lv.boolean ? (v != 0) : float_to_int(v, c->lv);
    write_lvalue(c, a, i);
    return;
  }
  v = round_to(v, c->lv.single);
  if (c->reg) {
    rf_[c->slot].d = v;
    return;
  }
  store_float(a, c->lv, v, false);
}

// ------------------------------------------------------------- arithmetic

int64_t Interpreter::int_binary(uint8_t x, const Layout &l, int64_t a, int64_t b) {
  uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  switch (x) {
  case X_ADD: return wrap(static_cast<int64_t>(ua + ub), l);
  case X_SUB: return wrap(static_cast<int64_t>(ua - ub), l);
  case X_MUL: return wrap(static_cast<int64_t>(ua * ub), l);
  case X_AND: return wrap(a & b, l);
  case X_OR: return wrap(a | b, l);
  case X_XOR: return wrap(a ^ b, l);
  case X_PADD:
    if (poisoned(a))
      return a;
    return wrap(static_cast<int64_t>(ua + ub), l);
  case X_PSUB:
    if (poisoned(a))
      return a;
    return wrap(static_cast<int64_t>(ua - ub), l);
  case X_DIV:
  case X_MOD:
    if (b == 0)
      fail("division by zero");
    if (l.sgn) {
      // The most negative value divided by -1 wraps to itself with the
      // remainder 0, as the machine's division routine computes it.
      if (b == -1)
        return x == X_DIV ? wrap(static_cast<int64_t>(0 - ua), l) : 0;
      return wrap(x == X_DIV ? a / b : a % b, l);
    }
    return wrap(static_cast<int64_t>(x == X_DIV ? ua / ub : ua % ub), l);
  case X_SHL:
    if (ub >= l.width)
      return 0;
    return wrap(static_cast<int64_t>(ua << ub), l);
  case X_SHR:
    if (ub >= l.width)
      return l.sgn && a < 0 ? wrap(-1, l) : 0;
    return l.sgn ? wrap(a >> ub, l) : wrap(static_cast<int64_t>(ua >> ub), l);
  default:
    fail("internal: integer case " + std::to_string(x));
  }
}

double Interpreter::float_binary(uint8_t x, bool single, double a, double b) {
  switch (x) {
  case XF_ADD: return round_to(a + b, single);
  case XF_SUB: return round_to(a - b, single);
  case XF_MUL: return round_to(a * b, single);
  case XF_DIV: return round_to(a / b, single);
  default:
    fail("internal: float case " + std::to_string(x));
  }
}

// Complex values: two parts of the part layout, real first.
uint32_t Interpreter::complex_op(CNode *c) {
  const Layout &p = c->lv;
  uint32_t out = scratch(c);
  auto part = [&](uint32_t at, int i) -> double {
    return p.cls == VC_FLOAT ? load_float(at + i * p.units, p, true)
                             : static_cast<double>(load_int(at + i * p.units, p, true));
  };
  auto put = [&](int i, double v) {
    if (p.cls == VC_FLOAT)
      store_float(out + i * p.units, p, round_to(v, p.single), true);
    else
      store_int(out + i * p.units, p, float_to_int(v, p), true);
  };
  auto put_int = [&](int i, int64_t v) { store_int(out + i * p.units, p, wrap(v, p), true); };
  if (c->sub == 0) {
    // Conversion: from a scalar (imaginary part 0) or another complex type.
    if (c->k) {
      if (p.cls == VC_FLOAT) {
        put(0, fval(c->a));
        put(1, 0);
      } else {
        put_int(0, ival(c->a));
        put_int(1, 0);
      }
      return out;
    }
    uint32_t src = static_cast<uint32_t>(ival(c->a));
    const TYPE *st = c->a->tree && c->a->tree->type && c->a->tree->type->is_complex()
                         ? c->a->tree->type->getr()->base : nullptr;
    Layout sp = st ? layout_of(st) : p;
    for (int i = 0; i < 2; ++i) {
      if (sp.cls == VC_FLOAT) {
        double v = load_float(src + i * sp.units, sp, true);
        if (p.cls == VC_FLOAT)
          put(i, v);
        else
          put_int(i, float_to_int(v, p));
      } else {
        int64_t v = load_int(src + i * sp.units, sp, true);
        if (p.cls == VC_FLOAT)
          put(i, int_to_float(v, sp, p.single));
        else
          put_int(i, v);
      }
    }
    return out;
  }
  uint32_t a = static_cast<uint32_t>(ival(c->a));
  if (c->sub == 5) {
    if (p.cls == VC_FLOAT) {
      put(0, -part(a, 0));
      put(1, -part(a, 1));
    } else {
      put_int(0, -load_int(a, p, true));
      put_int(1, -load_int(a + p.units, p, true));
    }
    return out;
  }
  uint32_t b = static_cast<uint32_t>(ival(c->b));
  if (p.cls != VC_FLOAT) {
    int64_t ar = load_int(a, p, true), ai = load_int(a + p.units, p, true);
    int64_t br = load_int(b, p, true), bi = load_int(b + p.units, p, true);
    auto u = [](int64_t v) { return static_cast<uint64_t>(v); };
    switch (c->sub) {
    case 1: put_int(0, u(ar) + u(br)); put_int(1, u(ai) + u(bi)); break;
    case 2: put_int(0, u(ar) - u(br)); put_int(1, u(ai) - u(bi)); break;
    case 3:
      put_int(0, static_cast<int64_t>(u(ar) * u(br) - u(ai) * u(bi)));
      put_int(1, static_cast<int64_t>(u(ar) * u(bi) + u(ai) * u(br)));
      break;
    default: {
      int64_t d = static_cast<int64_t>(u(br) * u(br) + u(bi) * u(bi));
      if (d == 0)
        fail("division by zero");
      put_int(0, static_cast<int64_t>(u(ar) * u(br) + u(ai) * u(bi)) / d);
      put_int(1, static_cast<int64_t>(u(ai) * u(br) - u(ar) * u(bi)) / d);
      break;
    }
    }
    return out;
  }
  double ar = part(a, 0), ai = part(a, 1), br = part(b, 0), bi = part(b, 1);
  switch (c->sub) {
  case 1: put(0, ar + br); put(1, ai + bi); break;
  case 2: put(0, ar - br); put(1, ai - bi); break;
  case 3: put(0, ar * br - ai * bi); put(1, ar * bi + ai * br); break;
  default: {
    double d = br * br + bi * bi;
    put(0, (ar * br + ai * bi) / d);
    put(1, (ai * br - ar * bi) / d);
    break;
  }
  }
  return out;
}

// Vector values: `f` lanes of layout lv, lane 0 first.
uint32_t Interpreter::vector_op(CNode *c) {
  const Layout &p = c->lv;
  uint32_t out = scratch(c);
  uint32_t lanes = static_cast<uint32_t>(c->f);
  uint32_t a = static_cast<uint32_t>(ival(c->a));
  uint32_t b = c->b ? static_cast<uint32_t>(ival(c->b)) : 0;
  if (c->sub == X_WRAP) {
    // Lane-by-lane conversion from the operand's lane type.
    const TYPE *st = c->a->tree && c->a->tree->type && c->a->tree->type->is_vector()
                         ? c->a->tree->type->getr()->base : nullptr;
    Layout sp = st ? layout_of(st) : p;
    for (uint32_t i = 0; i < lanes; ++i) {
      uint32_t at = out + i * p.units, from = a + i * sp.units;
      if (sp.cls == VC_FLOAT) {
        double v = load_float(from, sp, true);
        if (p.cls == VC_FLOAT)
          store_float(at, p, round_to(v, p.single), true);
        else
          store_int(at, p, float_to_int(v, p), true);
      } else {
        int64_t v = load_int(from, sp, true);
        if (p.cls == VC_FLOAT)
          store_float(at, p, int_to_float(v, sp, p.single), true);
        else
          store_int(at, p, wrap(v, p), true);
      }
    }
    return out;
  }
  for (uint32_t i = 0; i < lanes; ++i) {
    uint32_t at = out + i * p.units;
    if (p.cls == VC_FLOAT) {
      double x = load_float(a + i * p.units, p, true);
      double r = c->sub == XF_NEG ? -x
                                  : float_binary(c->sub, p.single, x,
                                               load_float(b + i * p.units, p, true));
      store_float(at, p, round_to(r, p.single), true);
    } else {
      int64_t x = load_int(a + i * p.units, p, true);
      int64_t r = c->sub == X_NEG ? wrap(static_cast<int64_t>(0 - static_cast<uint64_t>(x)), p)
                                  : int_binary(c->sub, p, x,
                                             load_int(b + i * p.units, p, true));
      store_int(at, p, r, true);
    }
  }
  return out;
}

// ------------------------------------------------------------- evaluation

void Interpreter::exec(CNode *c) {
  if (c->l.cls == VC_FLOAT)
    fval(c);
  else
    ival(c);
}

int64_t Interpreter::ival(CNode *c) {
  ++c->count;
  switch (c->x) {
  case X_ERR:
    fail(c->call->name);
  case X_NOP:
    return 0;
  case X_ICONST:
  case X_GADDR:
    return c->k;
  case X_FADDR:
    return fp_ + c->k;
  case X_ADDK: {
    int64_t p = ival(c->a);
    if (poisoned(p))
      return p;
    return static_cast<int64_t>((static_cast<uint64_t>(p) + static_cast<uint64_t>(c->k)) & 0xffff);
  }
  case X_REG:
    return rf_[c->slot].i;
  case X_LOAD: {
    int64_t a = ival(c->a);
    if (c->chk)
      check(a, c->lv.units, false);
    return load_int(static_cast<uint32_t>(a), c->lv, false);
  }
  case X_LOADBF: {
    int64_t a = ival(c->a);
    if (c->chk)
      check(a, c->lv.units, false);
    return read_lvalue(c, static_cast<uint32_t>(a));
  }
  case X_AGG: {
    int64_t a = ival(c->a);
    check(a, std::max<uint32_t>(1, c->l.units), false);
    return a;
  }
  case X_PCHK: {
    int64_t p = ival(c->a);
    if (poisoned(p))
      fail("use of an uninitialized pointer");
    return p;
  }
  case X_ADD: {
    int64_t a = ival(c->a);
    return wrap(static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(ival(c->b))),
                c->l);
  }
  case X_SUB: {
    int64_t a = ival(c->a);
    return wrap(static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(ival(c->b))),
                c->l);
  }
  case X_MUL: case X_DIV: case X_MOD: case X_AND: case X_OR: case X_XOR:
  case X_SHL: case X_SHR: case X_PADD: case X_PSUB: {
    int64_t a = ival(c->a);
    int64_t b = ival(c->b);
    return int_binary(static_cast<uint8_t>(c->x), c->l, a, b);
  }
  case X_NEG:
    return wrap(static_cast<int64_t>(0 - static_cast<uint64_t>(ival(c->a))), c->l);
  case X_NOT:
    return wrap(~ival(c->a), c->l);
  case X_LNOT:
    return ival(c->a) == 0 ? 1 : 0;
  case X_ABS: {
    int64_t a = ival(c->a);
    return wrap(a < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(a)) : a, c->l);
  }
  case X_SQR: {
    uint64_t a = static_cast<uint64_t>(ival(c->a));
    return wrap(static_cast<int64_t>(a * a), c->l);
  }
  case X_EQ: {
    int64_t a = ival(c->a);
    return ((a ^ ival(c->b)) & c->k) == 0;
  }
  case X_NE: {
    int64_t a = ival(c->a);
    return ((a ^ ival(c->b)) & c->k) != 0;
  }
  case X_LT_S: { int64_t a = ival(c->a); return a < ival(c->b); }
  case X_LE_S: { int64_t a = ival(c->a); return a <= ival(c->b); }
  case X_GT_S: { int64_t a = ival(c->a); return a > ival(c->b); }
  case X_GE_S: { int64_t a = ival(c->a); return a >= ival(c->b); }
  case X_LT_U: case X_LE_U: case X_GT_U: case X_GE_U: {
    uint64_t m = static_cast<uint64_t>(c->k);
    uint64_t a = static_cast<uint64_t>(ival(c->a)) & m;
    uint64_t b = static_cast<uint64_t>(ival(c->b)) & m;
    switch (c->x) {
    case X_LT_U: return a < b;
    case X_LE_U: return a <= b;
    case X_GT_U: return a > b;
    default: return a >= b;
    }
  }
  case X_FCMP: {
    double a = fval(c->a);
    double b = fval(c->b);
    uint32_t outcome = (std::isnan(a) || std::isnan(b)) ? FO_UNORDERED
                       : a == b ? FO_EQUAL : a < b ? FO_LESS : FO_GREATER;
    return (static_cast<uint32_t>(c->k) & outcome) != 0;
  }
  case X_CCMP: {
    uint32_t a = static_cast<uint32_t>(ival(c->a));
    uint32_t b = static_cast<uint32_t>(ival(c->b));
    const Layout &p = c->lv;
    bool eq;
    if (p.cls == VC_FLOAT)
      eq = load_float(a, p, true) == load_float(b, p, true) &&
           load_float(a + p.units, p, true) == load_float(b + p.units, p, true);
    else
      eq = load_int(a, p, true) == load_int(b, p, true) &&
           load_int(a + p.units, p, true) == load_int(b + p.units, p, true);
    return c->k ? eq : !eq;
  }
  case X_ANDAND:
    return ival(c->a) != 0 && ival(c->b) != 0;
  case X_OROR:
    return ival(c->a) != 0 || ival(c->b) != 0;
  case X_QUEST: {
    CNode *t = ival(c->a) ? c->b : c->c;
    if (t->l.cls == VC_FLOAT) {
      fval(t);
      return 0;
    }
    return ival(t);
  }
  case X_COMMAOP:
    exec(c->a);
    if (c->b->l.cls == VC_FLOAT) {
      fval(c->b);
      return 0;
    }
    return ival(c->b);
  case X_FTRUTH:
    return fval(c->a) != 0;
  case X_WRAP:
    return wrap(ival(c->a), c->l);
  case X_TOBOOL:
    return ival(c->a) != 0;
  case X_FTOI:
    return float_to_int(fval(c->a), c->l);
  case X_PMCONV:
    return wrap(static_cast<int64_t>(static_cast<uint64_t>(ival(c->a)) *
                                     static_cast<uint64_t>(c->k)), c->l);
  case X_PVCONV: {
    int64_t d = ival(c->a);
    if (c->sub)
      d = static_cast<int16_t>(d);
    if (c->k == -1)
      return wrap(static_cast<int64_t>(0 - static_cast<uint64_t>(d)), c->l);
    return wrap(d / c->k, c->l);
  }
  case X_ASG: {
    uint32_t a = lvalue_address(c);
    int64_t v = ival(c->b);
    if (c->bf_width) {
      Layout field{VC_INT, c->bf_width, c->lv.sgn, false, false, false, 1};
      v = wrap(v, field);
    }
    write_lvalue(c, a, v);
    return v;
  }
  case X_CASG: {
    uint32_t a = lvalue_address(c);
    int64_t old = read_lvalue(c, a);
    int64_t r = ival(c->b);
    int64_t v = int_binary(c->sub, c->c->l, old, r);
    if (c->lv.boolean)
      v = v != 0;
    else if (!(c->lv.ptr && poisoned(v)))
      v = wrap(v, c->lv);
    if (c->bf_width) {
      Layout field{VC_INT, c->bf_width, c->lv.sgn, false, false, false, 1};
      v = wrap(v, field);
    }
    write_lvalue(c, a, v);
    return v;
  }
  case X_POST: {
    uint32_t a = lvalue_address(c);
    int64_t old = read_lvalue(c, a);
    int64_t v = int_binary(c->sub, c->lv, old, ival(c->b));
    if (c->lv.boolean)
      v = v != 0;
    write_lvalue(c, a, v);
    return old;
  }
  case X_AASG: {
    int64_t dst = ival(c->a);
    int64_t src = ival(c->b);
    check(dst, std::max<uint32_t>(1, c->lv.units), true);
    check(src, std::max<uint32_t>(1, c->lv.units), false);
    copy_units(static_cast<uint32_t>(dst), static_cast<uint32_t>(src), c->lv.units, false);
    return dst;
  }
  case X_MEMCPY: {
    int64_t dst = ival(c->call->args[0]);
    int64_t src = ival(c->call->args[1]);
    int64_t n = ival(c->call->args[2]);
    if (n < 0 || n > static_cast<int64_t>(kMemoryUnits))
      fail("MEMCPY of " + std::to_string(n) + " units");
    if (n > 0) {
      check(src, static_cast<uint32_t>(n), false);
      check(dst, static_cast<uint32_t>(n), true);
      copy_units(static_cast<uint32_t>(dst), static_cast<uint32_t>(src),
                 static_cast<uint32_t>(n), false);
    }
    extra_loads_ += static_cast<uint64_t>(n + 1) / 2;
    extra_stores_ += static_cast<uint64_t>(n + 1) / 2;
    return 0;
  }
  case X_CALL:
    return call(c).i;
  case X_IDENT:
    return ival(c->a);
  case X_VA_START:
    return va_;
  case X_VLA_ALLOC:
    return vla_alloc(c, ival(c->a));
  case X_ENDLOOP:
    if (loop_counters_.empty())
      fail("ENDLOOP without LOOP");
    if (--loop_counters_.back() != 0)
      return 1;
    loop_counters_.pop_back();
    return 0;
  case X_COMPLEX: {
    uint32_t out = scratch(c);
    const Layout &p = c->lv;
    if (p.cls == VC_FLOAT) {
      double re = fval(c->a);
      double im = fval(c->b);
      store_float(out, p, re, true);
      store_float(out + p.units, p, im, true);
    } else {
      int64_t re = ival(c->a);
      int64_t im = ival(c->b);
      store_int(out, p, re, true);
      store_int(out + p.units, p, im, true);
    }
    return out;
  }
  case X_CPLXOP:
    return complex_op(c);
  case X_VPACK: {
    uint32_t out = scratch(c);
    const Layout &p = c->lv;
    uint32_t i = 0;
    for (CNode *item : c->call->args) {
      if (p.cls == VC_FLOAT)
        store_float(out + i * p.units, p, fval(item), true);
      else
        store_int(out + i * p.units, p, ival(item), true);
      ++i;
    }
    return out;
  }
  case X_VSPLAT: {
    uint32_t out = scratch(c);
    const Layout &p = c->lv;
    uint32_t lanes = static_cast<uint32_t>(c->f);
    if (p.cls == VC_FLOAT) {
      double v = fval(c->a);
      for (uint32_t i = 0; i < lanes; ++i)
        store_float(out + i * p.units, p, v, true);
    } else {
      int64_t v = ival(c->a);
      for (uint32_t i = 0; i < lanes; ++i)
        store_int(out + i * p.units, p, v, true);
    }
    return out;
  }
  case X_VOP:
    return vector_op(c);
  default:
    fail("internal: case " + std::to_string(c->x) + " has no integer value");
  }
}

double Interpreter::fval(CNode *c) {
  ++c->count;
  switch (c->x) {
  case X_ERR:
    fail(c->call->name);
  case XF_CONST:
    return c->f;
  case XF_REG:
    return rf_[c->slot].d;
  case XF_LOAD: {
    int64_t a = ival(c->a);
    if (c->chk)
      check(a, c->lv.units, false);
    return load_float(static_cast<uint32_t>(a), c->lv, false);
  }
  case XF_ITOF:
    return int_to_float(ival(c->a), c->a->l, c->l.single);
  case XF_FTOF:
    return round_to(fval(c->a), c->l.single);
  case XF_ADD: {
    double a = fval(c->a);
    return round_to(a + fval(c->b), c->l.single);
  }
  case XF_SUB: {
    double a = fval(c->a);
    return round_to(a - fval(c->b), c->l.single);
  }
  case XF_MUL: {
    double a = fval(c->a);
    return round_to(a * fval(c->b), c->l.single);
  }
  case XF_DIV: {
    double a = fval(c->a);
    return round_to(a / fval(c->b), c->l.single);
  }
  case XF_NEG:
    return -fval(c->a);
  case XF_ABS:
    return std::fabs(fval(c->a));
  case XF_SQRT:
    return round_to(std::sqrt(fval(c->a)), c->l.single);
  case XF_RECIP:
    return round_to(1.0 / fval(c->a), c->l.single);
  case XF_SQR: {
    double a = fval(c->a);
    return round_to(a * a, c->l.single);
  }
  case XF_QUEST:
    return ival(c->a) ? fval(c->b) : fval(c->c);
  case XF_COMMAOP:
    exec(c->a);
    return fval(c->b);
  case XF_ASG: {
    uint32_t a = lvalue_address(c);
    double v = fval(c->b);
    write_lvalue_f(c, a, v);
    return v;
  }
  case XF_CASG: {
    uint32_t a = lvalue_address(c);
    double old = read_lvalue_f(c, a);
    double r = fval(c->b);
    double v = float_binary(static_cast<uint8_t>(c->sub + XF_ADD), c->l.single, old, r);
    write_lvalue_f(c, a, v);
    return c->lv.cls == VC_FLOAT ? round_to(v, c->lv.single) : v;
  }
  case XF_POST: {
    uint32_t a = lvalue_address(c);
    double old = read_lvalue_f(c, a);
    double r = fval(c->b);
    write_lvalue_f(c, a, round_to(c->sub ? old - r : old + r, c->lv.single));
    return old;
  }
  case XF_CALL:
    return call(c).d;
  case XF_IDENT:
    return fval(c->a);
  default:
    fail("internal: case " + std::to_string(c->x) + " has no float value");
  }
}

// ------------------------------------------------------------------ calls

namespace {

// An argument or result of class `from` given where `to` is expected.
Val convert_value(Val v, const Layout &from, const Layout &to) {
  Val r = v;
  if (to.cls == VC_INT) {
    if (from.cls == VC_FLOAT)
      r.i = to.boolean ? (v.d != 0) : float_to_int(v.d, to);
    else if (to.boolean)
      r.i = v.i != 0;
    else if (!(to.ptr && poisoned(v.i)))
      r.i = wrap(v.i, to);
  } else if (to.cls == VC_FLOAT) {
    if (from.cls == VC_FLOAT)
      r.d = round_to(v.d, to.single);
    else
      r.d = int_to_float(v.i, from, to.single);
  }
  return r;
}

// A runtime function's result as the call's type holds it.
Val convert_builtin_result(Val r, const Layout &to) {
  if (to.cls == VC_FLOAT)
    r.d = round_to(r.d, to.single);   // the math functions
  else if (to.cls == VC_INT)
    r.i = wrap(r.i, to);
  return r;
}

} // namespace

void Interpreter::resolve_callee(int64_t p, int &function, int &builtin) {
  if (poisoned(p))
    fail("use of an uninitialized pointer");
  uint32_t at = static_cast<uint32_t>(p);
  if (auto f = function_at_.find(at); f != function_at_.end())
    function = f->second;
  else if (auto b = builtin_at_.find(at); b != builtin_at_.end())
    builtin = b->second;
  else if (auto e = external_at_.find(at); e != external_at_.end())
    fail("call of unknown external function '" + e->second + "'");
  else if (at < kNullPage)
    fail("call through a null pointer");
  else
    fail("call through a pointer that does not point to a function");
}

Val Interpreter::call(CNode *c) {
  CallSite *cs = c->call;
  int function = cs->function;
  int builtin_index = cs->builtin;
  if (cs->target)
    resolve_callee(ival(cs->target), function, builtin_index);
  std::vector<Val> args;
  args.reserve(cs->args.size());
  for (CNode *a : cs->args)
    args.push_back(value(a));
  // A structure result: the callee left it in return_buffer_; it goes to
  // the call's scratch area, whose address is the call's value.
  auto aggregate = [&](Val r) {
    uint32_t out = scratch(c);
    uint32_t units = std::min<uint32_t>(c->l.units, static_cast<uint32_t>(return_buffer_.size()));
    for (uint32_t i = 0; i < units; ++i) {
      memory_[out + i] = return_buffer_[i];
      shadow_[out + i] |= SH_INIT;
    }
    r.i = out;
    return r;
  };
  if (function >= 0) {
    Function &f = functions_[function];
    Val r = execute(f, cs->args, args);
    if (!f.has_result || c->l.cls == VC_VOID) {
      r.i = 0;
      return r;
    }
    if (c->l.cls == VC_AGG)
      return aggregate(r);
    return convert_value(r, f.result, c->l);
  }
  if (builtin_index >= 0) {
    Val r = builtin(builtin_index, cs->args, args);
    return c->l.cls == VC_AGG ? aggregate(r) : convert_builtin_result(r, c->l);
  }
  fail("call of unknown external function '" + cs->name + "'");
}

Val Interpreter::call_address(int64_t p, const std::vector<Val> &args,
                              const std::vector<Layout> &layouts, const Layout &result) {
  int function = -1, builtin_index = -1;
  resolve_callee(p, function, builtin_index);
  // The layouts travel on nodes, as the operands of a call do.
  std::vector<CNode> holders(layouts.size());
  std::vector<CNode *> arg_nodes;
  for (size_t i = 0; i < layouts.size(); ++i) {
    holders[i].l = layouts[i];
    arg_nodes.push_back(&holders[i]);
  }
  std::vector<Val> values = args;
  if (function >= 0) {
    Function &f = functions_[function];
    Val r = execute(f, arg_nodes, values);
    if (result.cls == VC_VOID)
      return r;   // called for its effects (an exit handler)
    if (!f.has_result || f.result.cls == VC_AGG)
      fail("callback of " + f.name + " does not return a value");
    return convert_value(r, f.result, result);
  }
  Val r = builtin(builtin_index, arg_nodes, values);
  return result.cls == VC_VOID ? r : convert_builtin_result(r, result);
}

// Units below the current frame for a variable-length array, an object of
// its own with no unit initialized.  When the same declaration runs again
// in this call, its earlier instance and everything allocated after it are
// dead (C ends their lifetime when control goes back before the
// declaration), so they are released first.
uint32_t Interpreter::vla_alloc(const CNode *site, int64_t units) {
  if (poisoned(units) || units < 0 || units >= static_cast<int64_t>(kMemoryUnits))
    fail("variable-length array of " + std::to_string(units) + " units");
  for (size_t i = vla_frame_; i < vla_blocks_.size(); ++i) {
    if (vla_blocks_[i].site != site)
      continue;
    const uint32_t top = vla_blocks_[i].sp_before;
    std::memset(&shadow_[sp_], 0, top - sp_);
    sp_ = top;
    vla_blocks_.resize(i);
    break;
  }
  const uint32_t n = units ? static_cast<uint32_t>(units) : 1;
  if (n + 1 > sp_ - heap_top_)
    fail("stack overflow");
  vla_blocks_.push_back({site, sp_});
  sp_ -= n + 1;   // and a unit of no object above, as frames have
  std::memset(&shadow_[sp_], SH_OBJECT, n);
  return sp_;
}

uint32_t Interpreter::push_variadic_area(const std::vector<CNode *> &arg_nodes,
                                         const std::vector<Val> &args, size_t first) {
  // Each argument takes its size rounded up to 2 units; the area starts at
  // an even address and a unit of no object stays above it.
  auto slot = [](const Layout &l) { return (std::max<uint32_t>(1, l.units) + 1) & ~1u; };
  uint32_t units = 0;
  for (size_t i = first; i < args.size(); ++i)
    units += slot(arg_nodes[i]->l);
  if (units + 4 > sp_ - heap_top_)
    fail("stack overflow");   // reported at the call
  uint32_t area = (sp_ - 1 - units) & ~1u;
  std::memset(&memory_[area], 0, units * sizeof(uint16_t));
  std::memset(&shadow_[area], SH_OBJECT | SH_INIT, units);
  uint32_t at = area;
  for (size_t i = first; i < args.size(); ++i) {
    const Layout &l = arg_nodes[i]->l;
    if (l.cls == VC_AGG)
      copy_units(at, static_cast<uint32_t>(args[i].i), l.units, true);
    else if (l.cls == VC_FLOAT)
      store_float(at, l, args[i].d, false);
    else
      store_int(at, l, args[i].i, false);
    at += slot(l);
  }
  return area;
}

Val Interpreter::execute(Function &f, const std::vector<CNode *> &arg_nodes,
                         std::vector<Val> &args) {
  // A frame and the unit of no object below it must stay above the heap.
  if (depth_ >= kMaxCallDepth || f.frame_units + 1 > sp_ - heap_top_ ||
      reg_top_ + f.regs > registers_.size()) {
    fail("stack overflow");   // reported at the call
  }
  const Function *saved_fun = current_fun_;
  const CStmt *saved_stmt = current_stmt_;
  uint32_t saved_fp = fp_;
  Val *saved_rf = rf_;
  size_t saved_loops = loop_counters_.size();
  const size_t saved_vla_frame = vla_frame_;

  uint32_t saved_sp = sp_;
  uint32_t saved_va = va_;
  uint32_t va_units = 0;
  if (f.varargs) {
    va_ = push_variadic_area(arg_nodes, args, f.params.size());
    va_units = sp_ - 1 - va_;
    sp_ = va_;
  } else {
    va_ = empty_area_;
  }
  if (f.frame_units + 1 > sp_ - heap_top_)
    fail("stack overflow");
  uint32_t base = sp_ - f.frame_units - 1;
  sp_ = base;
  if (f.frame_units) {
    std::memcpy(&shadow_[base], f.frame_shadow.data(), f.frame_units);
    std::memset(&memory_[base], 0, f.frame_units * sizeof(uint16_t));
  }
  Val *regs = registers_.data() + reg_top_;
  reg_top_ += f.regs;
  for (uint32_t i = 0; i < f.regs; ++i)
    regs[i].i = f.reg_is_ptr[i] ? kPoison : 0;
  ++depth_;
  current_fun_ = &f;
  current_stmt_ = nullptr;

  // Parameters: the arguments converted to their types.
  for (size_t i = 0; i < f.params.size(); ++i) {
    const VarSlot &p = f.params[i];
    Val v;
    v.i = 0;
    Layout from = p.l;
    if (i < args.size()) {
      v = args[i];
      from = i < arg_nodes.size() ? arg_nodes[i]->l : p.l;
    }
    if (p.l.cls == VC_AGG) {
      if (i < args.size())
        copy_units(base + p.where, static_cast<uint32_t>(v.i), p.l.units, true);
      continue;
    }
    if (i < args.size())
      v = convert_value(v, from, p.l);
    if (p.reg) {
      regs[p.where] = v;
    } else if (p.l.cls == VC_FLOAT) {
      store_float(base + p.where, p.l, v.d, false);
    } else {
      store_int(base + p.where, p.l, v.i, false);
    }
  }
  fp_ = base;
  rf_ = regs;
  vla_frame_ = vla_blocks_.size();
  const size_t my_vla_frame = vla_frame_;
  const uint32_t my_va = va_;
  const uint64_t my_frame = ++frame_serial_;
  const uint64_t saved_frame = frame_;
  frame_ = my_frame;
  frames_.push_back(my_frame);

  Val ret;
  ret.i = 0;
  bool returned = false;
  const CStmt *stmts = f.stmts.data();
  const uint32_t n = static_cast<uint32_t>(f.stmts.size());
  uint32_t pc = 0;
  const uint64_t max_steps = options_.max_steps;
  for (;;) {
  try {
  while (pc < n) {
    const CStmt &st = stmts[pc++];
    current_stmt_ = &st;
    if (++steps_ > max_steps)
      fail("step limit exceeded", kExitStepLimit);
    if (options_.trace) {
      std::fflush(stdout);
      std::fprintf(stderr, "trace: %s %s:%u:%u: %s\n", f.name.c_str(),
                   st.pos.file ? st.pos.file : "?", st.pos.line, st.pos.column, st.text.c_str());
    }
    switch (st.kind) {
    case ST_EXPR:
      exec(st.e);
      break;
    case ST_BRANCH:
      pc = st.target;
      ++branches_;
      break;
    case ST_CBRANCH:
      if (ival(st.e) == 0) {
        pc = st.target;
        ++branches_;
      }
      break;
    case ST_IF:
      pc = ival(st.e) ? st.target : st.target2;
      ++branches_;
      break;
    case ST_SWITCH: {
      int64_t v = ival(st.e);
      const SwitchTable &t = f.switches[st.table];
      auto it = std::lower_bound(t.cases.begin(), t.cases.end(), v,
                                 [](const auto &e, int64_t x) { return e.first < x; });
      if (it != t.cases.end() && it->first == v) {
        pc = it->second;
        ++branches_;
      } else {
        if (t.fallthrough != pc)
          ++branches_;
        pc = t.fallthrough;
      }
      break;
    }
    case ST_RETURN:
      returned = true;
      if (f.has_result) {
        if (f.result.cls == VC_AGG) {
          uint32_t src = static_cast<uint32_t>(ival(st.e));
          check(src, std::max<uint32_t>(1, f.result.units), false);
          return_buffer_.assign(memory_.begin() + src, memory_.begin() + src + f.result.units);
          ret.i = 0;
        } else {
          ret = value(st.e);
        }
      } else {
        exec(st.e);
      }
      pc = n;
      break;
    case ST_URETURN:
      pc = n;
      break;
    case ST_LOOP: {
      int64_t count = ival(st.e);
      if (count < 1)
        fail("counted loop with a count below 1");
      loop_counters_.push_back(count);
      break;
    }
    case ST_ENDLOOP:
      if (loop_counters_.size() <= saved_loops)
        fail("ENDLOOP without LOOP");
      if (--loop_counters_.back() != 0) {
        pc = st.target;
        ++branches_;
      } else {
        loop_counters_.pop_back();
      }
      break;
    case ST_ASSERT:
      if (ival(st.e) == 0)
        fail("assertion failed");
      break;
    }
  }
  break;
  } catch (const LongJump &jump) {
    const JumpTarget &t = jump_targets_[jump.target];
    if (t.frame != my_frame)
      throw;   // an outer call's
    // The calls between the longjmp and this frame are gone: their frames,
    // registers, loops and arrays are released, and the statement that
    // called setjmp runs again, setjmp now returning the value.
    if (sp_ < t.sp)
      std::memset(&shadow_[sp_], 0, t.sp - sp_);
    sp_ = t.sp;
    reg_top_ = t.reg_top;
    depth_ = t.depth;
    loop_counters_.resize(t.loops);
    vla_blocks_.resize(t.vla_blocks);
    vla_frame_ = my_vla_frame;
    frames_.resize(t.frames);
    frame_ = my_frame;
    current_fun_ = &f;
    fp_ = base;
    rf_ = regs;
    va_ = my_va;
    pc = t.stmt;
    setjmp_result_ = jump.value;
  }
  }
  frames_.pop_back();
  frame_ = saved_frame;
  if (!returned && f.has_result && f.result.cls == VC_AGG)
    return_buffer_.assign(f.result.units, 0);   // fell off the end
  --depth_;
  if (sp_ < base)
    std::memset(&shadow_[sp_], 0, base - sp_);   // variable-length arrays
  vla_blocks_.resize(vla_frame_);
  vla_frame_ = saved_vla_frame;
  if (f.frame_units)
    std::memset(&shadow_[base], 0, f.frame_units);
  if (va_units)
    std::memset(&shadow_[va_], 0, va_units);
  sp_ = saved_sp;
  va_ = saved_va;
  reg_top_ -= f.regs;
  loop_counters_.resize(saved_loops);
  fp_ = saved_fp;
  rf_ = saved_rf;
  current_fun_ = saved_fun;
  current_stmt_ = saved_stmt;
  return ret;
}

} // namespace zor::run
