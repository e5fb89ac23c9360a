// The GNU extensions ordinary C code uses: attributes, __typeof__ and
// typeof, __restrict, branch hints (__builtin_expect is its first
// operand), __builtin_unreachable (nothing at run time), a ?: b, which
// evaluates a once, case ranges, statement expressions without control
// flow (the max macro of GNU code), and the bit builtins (calls of zrun's runtime; the
// results agree with gcc -m32, and a count of leading zeros of 0 is
// reported).
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
// RUN: %expect_exit 3 %zrun %t.if --entry clz_of_zero 2>&1 | FileCheck %s --check-prefix=ZERO
#include <stdio.h>

#define likely(x) __builtin_expect(!!(x), 1)

static inline __attribute__((always_inline)) int sq(int x) { return x * x; }

#define max(a, b)                                                                          \
  ({                                                                                       \
    __typeof__(a) _a = (a);                                                                \
    __typeof__(b) _b = (b);                                                                \
    _a > _b ? _a : _b;                                                                     \
  })

static int calls;
static int *next_or_null(int *p) {
  ++calls;
  return p;
}

static const char *kind(int c) {
  switch (c) {
  case '0' ... '9':
    return "digit";
  case -5 ... -1:
    return "negative";
  case 'a':
    return "a";
  default:
    return "other";
  }
}

static int sign(int x) {
  if (x > 0)
    return 1;
  if (x < 0)
    return -1;
  if (x == 0)
    return 0;
  __builtin_unreachable();
}

// ZERO: zrun: error: __builtin_clz of 0 in clz_of_zero
int clz_of_zero(void) { return __builtin_clz(0u * (unsigned)calls); }

int main(void) {
  int *__restrict unused = 0;
  (void)unused;
  __typeof__(sq(2)) y = sq(3);
  typeof(y) z = y + 1;
  if (likely(z > 1))
    printf("%d %d\n", y, z);
  // CHECK: 9 10
  int d = 4, e = 5;
  int a = *(next_or_null(&e) ?: &d);
  int b = *(next_or_null(0) ?: &d);
  printf("%d %d %d %d\n", a, b, calls, (y - 9) ?: -1);
  // CHECK-NEXT: 5 4 2 -1
  printf("%d %d %d\n", sign(-3), sign(0), sign(8));
  // CHECK-NEXT: -1 0 1
  printf("%s %s %s %s %s\n", kind('0'), kind('9'), kind(-3), kind('a'), kind(':'));
  // CHECK-NEXT: digit digit negative a other
  // Each operand of max is evaluated once.
  int m1 = max(*next_or_null(&d), 2), m2 = max(1, *next_or_null(&e) * 3);
  ({ printf("%d %d ", m1, m2); });
  printf("%d %d\n", ({ int t = 3; t *= 4; t + 1; }), calls);
  // CHECK-NEXT: 4 15 13 4
  unsigned long long big = 0x8000000000000001ull;
  printf("%d %d %d %d ", __builtin_popcount(0xF0F0u), __builtin_popcountll(~0ull),
         __builtin_clz(1u), __builtin_clzll(big));
  printf("%d %d %d %d %d ", __builtin_ctz(8u), __builtin_ctzll(big), __builtin_parity(7u),
         __builtin_ffs(0), __builtin_ffsl(12L));
  printf("%x %x %llx\n", __builtin_bswap16(0x1234), __builtin_bswap32(0x12345678u),
         (unsigned long long)__builtin_bswap64(0x0102030405060708ull));
  // CHECK-NEXT: 8 64 31 0 3 0 1 0 3 3412 78563412 807060504030201
  return 0;
}
