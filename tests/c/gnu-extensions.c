// The GNU extensions ordinary C code uses: attributes, __typeof__ and
// typeof, __restrict, branch hints (__builtin_expect is its first
// operand), __builtin_unreachable (nothing at run time) and a ?: b, which
// evaluates a once.
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
#include <stdio.h>

#define likely(x) __builtin_expect(!!(x), 1)

static inline __attribute__((always_inline)) int sq(int x) { return x * x; }

static int calls;
static int *next_or_null(int *p) {
  ++calls;
  return p;
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
  return 0;
}
