// The second part of the C library zrun provides: floating numbers read
// with their end pointers and rounded once to the type of the call, the
// spans and tokens of string.h (strtok keeps its place between calls),
// isgraph, the math functions that take or store an int or a whole part,
// the classification macros and constants of math.h for the three floating
// types, and perror, which writes to stderr between the lines of stdout.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if 2>&1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 2>&1 | FileCheck %s
// The runtime checks what it reads and writes, as the program's accesses are.
// RUN: %expect_exit 3 %zrun %t.if --entry token_in_constant 2>&1 | FileCheck %s --check-prefix=CONST
// RUN: %expect_exit 3 %zrun %t.if --entry whole_too_small 2>&1 | FileCheck %s --check-prefix=SMALL
// RUN: %expect_exit 3 %zrun %t.if --entry unterminated 2>&1 | FileCheck %s --check-prefix=UNTERM
#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Where strtod stopped, as an offset from the start.
static void show_double(const char *s) {
  char *end;
  double d = strtod(s, &end);
  printf("[%.9g %d] ", d, (int)(end - s));
}

// CONST: zrun: error: write to a read-only object in token_in_constant
int token_in_constant(void) { return *strtok("key value", " "); }

// modff stores a 32-bit float: two units.
// SMALL: zrun: error: access outside any object in whole_too_small
int whole_too_small(void) {
  short half;
  return (int)modff(1.5f, (float *)&half);
}

// The digits run to the end of the array without a terminator.
// UNTERM: zrun: error: access outside any object in unterminated
int unterminated(void) {
  char digits[2] = {'4', '2'};
  return (int)strtod(digits, 0);
}

int main(void) {
  // A token that is no number leaves the end at the start, blanks included;
  // "1e" and "0x" stop before the letter; inf, nan and hexadecimal read whole.
  show_double("  -1.5e3xyz");
  show_double(" \t+.5");
  show_double("  abc");
  show_double("1e+");
  show_double("0x");
  show_double("0x1.8p1");
  show_double("-Infinity!");
  show_double("1e39");
  printf("%d\n", isnan(strtod("nan(12)", 0)));
  // CHECK: [-1500 8] [0.5 5] [0 0] [1 1] [0 1] [3 7] [-inf 9] [inf 4] 1

  // One rounding from the text: 0.1 in single and in double precision, a
  // decimal just above the float halfway point between 1 and 1 + 2^-23.
  char *end;
  long double ld = strtold("0.1", &end);
  float f = strtof("1.00000005960464477539062501", 0);
  printf("%.9g %.17Lg %.9g %.9g %d\n", atof("0.1"), ld, (double)f, atof(" 7e-46"), *end);
  // CHECK-NEXT: 0.100000001 0.10000000000000001 1.00000012 0 0

  // Spans: the set may be empty; strpbrk finds the first of any.
  const char *path = "usr/local:bin;;lib";
  printf("%d %d %d %d %s %d\n", (int)strspn(path, "rsu"), (int)strcspn(path, ":;"),
         (int)strspn(path, ""), (int)strcspn(path, ""), strpbrk(path, ";:"),
         strpbrk(path, "#") == 0);
  // CHECK-NEXT: 3 9 0 18 :bin;;lib 1

  // strtok: empty tokens are skipped, each call may change the delimiters,
  // and after the last token a null first argument keeps giving null.
  printf("%d ", strtok(0, ",") == 0);
  char list[] = ";;usr/local:bin;;lib;";
  for (char *t = strtok(list, ":;"); t; t = strtok(0, ";"))
    printf("<%s>", t);
  printf(" %d %d|", strtok(0, ";") == 0, strtok(0, ":") == 0);
  char pair[] = "a=b=c";
  char *key = strtok(pair, "=");
  char *rest = strtok(0, "");
  printf("%s %s %d\n", key, rest, strtok(0, "=") == 0);
  // CHECK-NEXT: 1 <usr/local><bin><lib> 1 1|a b=c 1

  // isgraph: printable but not the blank.
  int graph = 0;
  for (int c = -1; c < 256; c++)
    graph += isgraph(c) != 0;
  printf("%d %d %d\n", graph, isgraph(' '), isgraph('~') != 0);
  // CHECK-NEXT: 94 0 1

  // frexp of zero, a negative value and a long double; ldexp rounds to the
  // type of the call (2^-150 is half the least float); modf's whole part in
  // the type of the call.
  int e1 = 7, e2, e3;
  double m1 = frexp(0.0, &e1), m2 = frexp(-0.375, &e2);
  long double m3 = frexpl(3.0L * ldexpl(1, 1000), &e3);
  printf("%g %d %g %d %Lg %d ", m1, e1, m2, e2, m3, e3);
  printf("%g %g %Lg\n", ldexp(3, 4), ldexpf(1, -150), ldexpl(1, -150) * ldexpl(1, 150));
  // CHECK-NEXT: 0 0 -0.75 -1 0.75 1002 48 0 1
  double whole;
  float wholef;
  long double wholel;
  double frac = modf(-3.75, &whole);
  float fracf = modff(2.5f, &wholef);
  long double fracl = modfl(1e15L + 0.25L, &wholel);
  printf("%g %g %g %g %.17Lg %.2Lf\n", frac, whole, fracf, wholef, wholel, fracl);
  // CHECK-NEXT: -0.75 -3 0.5 2 1000000000000000 0.25

  // cbrt, log2, exp2 and copysign, rounded to single precision.
  printf("%g %g %g %g %g %.9g %.9g\n", cbrt(-27.0), log2(1024.0), exp2f(10.0f),
         copysign(3.0, -0.0), copysignf(-2.0f, 1.0f), exp2(0.5), M_PI);
  // CHECK-NEXT: -3 10 1024 -3 2 1.41421354 3.14159274

  // The macros on values the optimizer cannot see, for all three types.
  volatile float vf[3] = {1.5f, 0.0f, 0.0f};
  vf[1] = vf[0] / vf[2];          // inf
  vf[2] = vf[2] / vf[2];          // NaN
  volatile double vd = -HUGE_VAL;
  volatile long double vl = HUGE_VALL;
  volatile long double vn = NAN;
  for (int i = 0; i < 3; i++)
    printf("%d%d%d ", isnan(vf[i]), isinf(vf[i]), isfinite(vf[i]));
  printf("%d%d%d %d%d%d %d%d%d %d %d\n", isnan(vd), isinf(vd), isfinite(vd), isnan(vl),
         isinf(vl), isfinite(vl), isnan(vn), isinf(vn), isfinite(vn), vd < 0,
         isinf(INFINITY) && isnan(NAN) && !isfinite(HUGE_VALF));
  // CHECK-NEXT: 001 010 100 010 010 100 1 1
  // The constants are constants in static initializers as well.
  static const float table[3] = {NAN, INFINITY, -HUGE_VALF};
  printf("%d %d %d\n", isnan(table[0]), isinf(table[1]), table[2] < 0);
  // CHECK-NEXT: 1 1 1

  // perror writes to stderr, in order with stdout.
  printf("before\n");
  perror("libc2");
  perror("");
  printf("after\n");
  // CHECK-NEXT: before
  // CHECK-NEXT: libc2: unknown error
  // CHECK-NEXT: unknown error
  // CHECK-NEXT: after

  // div and friends return structures; the most negative value divided by
  // -1 gives itself with remainder 0, as the division operators do.
  div_t a = div(-17, 5);
  ldiv_t b = ldiv(100000L, -7L);
  lldiv_t c = lldiv(-123456789012LL, 1000LL);
  div_t m = div(INT_MIN, -1);
  printf("%d %d %ld %ld %lld %lld %d %d %d\n", a.quot, a.rem, b.quot, b.rem, c.quot, c.rem,
         div(7, 2).quot, m.quot == INT_MIN, m.rem);
  // CHECK-NEXT: -3 -2 -14285 5 -123456789 -12 3 1 0
  return 0;
}
