// tools/zrun/stdlib.cpp - the runtime functions of zrun that parse numbers
// (atoi, atol, strtol, strtoul; atof and the strtod family) and those that
// call back into the program (qsort, bsearch).
//
// long is 32 bits: strtol saturates at LONG_MIN and LONG_MAX, strtoul at
// ULONG_MAX.  A floating number is rounded once, from its text straight to
// the type of the result (single for atof, strtod and strtof, double for
// strtold), as the host's strtof and strtod do in the C locale.
//
// qsort sorts with a merge sort on the element indexes, calling the
// comparator on the elements where they are, and then moves the elements
// once: the comparator always sees the array as it was passed, and a
// comparator that is not consistent cannot take the sort out of bounds.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zrun/builtins.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

// The value of a digit in bases up to 36, or 36 when c is none.
int digit_value(uint16_t c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z')
    return c - 'A' + 10;
  return 36;
}

// Whether c may be part of the text of a floating number: blanks before
// it, the sign, digits, the point, the exponent, hexadecimal digits and
// prefix, "inf", "infinity" and "nan(...)".
bool in_float_text(uint16_t c) {
  return c != 0 && c < 128 &&
         (std::isalnum(c) || std::strchr(" \t\n\v\f\r+-.()_", static_cast<char>(c)));
}

} // namespace

// Reads the floating number at s into v; returns the address after it, s
// when there is none (v is then 0).
uint32_t Interpreter::parse_float(uint32_t s, bool single, double &v) {
  std::string text;
  for (uint32_t a = s;; ++a) {
    check(a, 1, false);
    if (!in_float_text(memory_[a]))
      break;
    text.push_back(static_cast<char>(memory_[a]));
  }
  char *end = nullptr;
  v = single ? std::strtof(text.c_str(), &end) : std::strtod(text.c_str(), &end);
  return s + static_cast<uint32_t>(end - text.c_str());
}

int64_t Interpreter::parse_integer(int id, const std::vector<CNode *> &arg_nodes,
                                   std::vector<Val> &args) {
  const bool full = id == B_STRTOL || id == B_STRTOUL;
  if (args.size() < (full ? 3u : 1u))
    fail(builtin_name(id) + " with too few arguments");
  if (poisoned(args[0].i))
    fail("use of an uninitialized pointer");
  const uint32_t start = static_cast<uint32_t>(args[0].i);
  int64_t base = full ? wrap(as_int(args[2], arg_nodes[2]), kIntLayout) : 10;
  auto unit = [&](uint32_t a) {
    check(a, 1, false);
    return memory_[a];
  };
  uint32_t s = start;
  uint32_t end = start;   // no digits: the end is the start
  uint64_t v = 0;
  bool neg = false, overflow = false;
  if (base == 0 || (base >= 2 && base <= 36)) {
    while (unit(s) == ' ' || (unit(s) >= '\t' && unit(s) <= '\r'))
      ++s;
    neg = unit(s) == '-';
    if (unit(s) == '-' || unit(s) == '+')
      ++s;
    // 0x is a prefix only when a hexadecimal digit follows.
    if ((base == 0 || base == 16) && unit(s) == '0' && (unit(s + 1) | 0x20) == 'x' &&
        digit_value(unit(s + 2)) < 16) {
      s += 2;
      base = 16;
    } else if (base == 0) {
      base = unit(s) == '0' ? 8 : 10;
    }
    // Anything beyond 32 bits overflows every result type.
    for (int d; (d = digit_value(unit(s))) < base; ++s) {
      v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
      if (v > UINT32_MAX) {
        overflow = true;
        v = UINT32_MAX;
      }
      end = s + 1;
    }
  }
  int64_t r;
  if (id == B_STRTOUL) {
    r = overflow ? UINT32_MAX : static_cast<int64_t>(neg ? (0 - v) & UINT32_MAX : v);
  } else {
    uint64_t limit = neg ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (v > limit)
      v = limit;
    r = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  }
  if (full && args[1].i != 0) {
    check(args[1].i, 1, true);
    store_int(static_cast<uint32_t>(args[1].i), kPointerLayout, end, false);
  }
  return r;
}

Val Interpreter::sort_or_search(int id, const std::vector<CNode *> &arg_nodes,
                                std::vector<Val> &args) {
  // qsort(base, n, size, cmp); bsearch(key, base, n, size, cmp)
  const size_t at = id == B_BSEARCH ? 1 : 0;
  if (args.size() < at + 4)
    fail(builtin_name(id) + " with too few arguments");
  auto size_arg = [&](size_t k) {
    return static_cast<uint64_t>(wrap(as_int(args[k], arg_nodes[k]), kUnsignedLayout));
  };
  const int64_t base = args[at].i;
  const uint64_t n = size_arg(at + 1), size = size_arg(at + 2);
  const int64_t cmp = args[at + 3].i;
  Val r;
  r.i = 0;
  if (n == 0 || size == 0)
    return r;
  if (n * size > kMemoryUnits)
    fail(builtin_name(id) + " of " + std::to_string(n) + " elements of " + std::to_string(size) +
         " units");
  check(base, static_cast<uint32_t>(n * size), id == B_QSORT);
  const std::vector<Layout> layouts = {kPointerLayout, kPointerLayout};
  auto element = [&](uint64_t i) {
    Val v;
    v.i = base + static_cast<int64_t>(i * size);
    return v;
  };
  auto compare = [&](Val a, Val b) { return call_address(cmp, {a, b}, layouts, kIntLayout).i; };

  if (id == B_BSEARCH) {
    uint64_t lo = 0, hi = n;
    while (lo < hi) {
      uint64_t mid = lo + (hi - lo) / 2;
      int64_t c = compare(args[0], element(mid));
      if (c == 0)
        return element(mid);
      if (c < 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    return r;
  }

  // Bottom-up merge sort of the indexes; equal elements keep their order.
  std::vector<uint64_t> order(n), merged(n);
  for (uint64_t i = 0; i < n; ++i)
    order[i] = i;
  for (uint64_t width = 1; width < n; width *= 2) {
    for (uint64_t lo = 0; lo < n; lo += 2 * width) {
      uint64_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      uint64_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi)
        merged[k++] = compare(element(order[i]), element(order[j])) > 0 ? order[j++] : order[i++];
      while (i < mid)
        merged[k++] = order[i++];
      while (j < hi)
        merged[k++] = order[j++];
    }
    order.swap(merged);
  }
  // The comparator may have written the array: take it as it is now.
  const uint32_t b = static_cast<uint32_t>(base);
  std::vector<uint16_t> units(memory_.begin() + b, memory_.begin() + b + n * size);
  std::vector<uint8_t> shadow(shadow_.begin() + b, shadow_.begin() + b + n * size);
  for (uint64_t i = 0; i < n; ++i) {
    for (uint64_t u = 0; u < size; ++u) {
      memory_[b + i * size + u] = units[order[i] * size + u];
      shadow_[b + i * size + u] = shadow[order[i] * size + u];
    }
  }
  return r;
}

} // namespace zor::run
