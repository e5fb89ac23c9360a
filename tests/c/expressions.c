// Operators with C's conversions made explicit: compound assignments whose
// computation type differs from the target (char /= int, int %= unsigned),
// pre- and post-increment, ?:, the comma operator, && and || with side
// effects, shifts, casts between signed and unsigned widths, long long.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o0 %t.if %t.o0 && %zrun %t.o0 | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

int n;
int next(void) { return ++n; }

// c /= i is done in int: c = (char)((int)c / i).
// IC-LABEL: function @divide
// IC: (ASG char
// IC-NEXT: (NAME char %c)
// IC-NEXT: (SCONV char (DIV int (SCONV int (NAME char %c)) (NAME int %i))))
char divide(char c, int i) {
  c /= i;
  return c;
}

int main(void) {
  int i = -7, a[4] = {10, 20, 30, 40}, k = 0;
  unsigned u = 3;
  unsigned short us = 65535;
  long long ll = 1;
  int *p = a;
  printf("%d %d\n", divide(-100, 7), divide(100, -3));
  // CHECK: -14 -33
  i %= u;                 // (int)(4294967289u % 3)
  printf("%d\n", i);
  // CHECK-NEXT: 0
  us += 2;                // wraps at 16 bits
  us <<= 15;
  printf("%u\n", us);
  // CHECK-NEXT: 32768
  a[k++] += 5;
  *p++ *= 2;
  a[++k]--;
  printf("%d %d %d %d %d %d\n", a[0], a[1], a[2], a[3], k, (int)(p - a));
  // CHECK-NEXT: 30 20 29 40 2 1
  k = (next(), next(), next());
  printf("%d %d\n", k, n);
  // CHECK-NEXT: 3 3
  k = (n > 5 && next()) || (n < 5 && next());
  printf("%d %d\n", k, n);
  // CHECK-NEXT: 1 4
  k = n ? n * 2 : -1;
  printf("%d %d\n", k, !k);
  // CHECK-NEXT: 8 0
  ll <<= 40;
  ll += -1;
  printf("%lld %llu %d\n", ll, (unsigned long long)-ll, (int)(ll >> 38));
  // CHECK-NEXT: 1099511627775 18446742974197923841 3
  printf("%d %u %d %d\n", (short)40000, (unsigned)-1 >> 28, -17 >> 2, -17 / 4);
  // CHECK-NEXT: -25536 15 -5 -4
  printf("%d %d %d\n", 7 & 12, 7 | 12, 7 ^ 12);
  // CHECK-NEXT: 4 15 11
  return 0;
}
