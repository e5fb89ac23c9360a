// Control flow: if/else, the three loops with break and continue, goto and
// labels, switch with fall-through and default.  The program runs the same
// before and after the optimizer at every level; the I-code shows the
// lowering: CBRANCH jumps when its condition is false.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o0 %t.if %t.o0 && %zrun %t.o0 | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

int classify(int x) {
  // IC-LABEL: function @classify
  // IC: (CBRANCH void (LT int (NAME int %x) (ICON int 0)) (LABEL void L1))
  // IC: (RETURN int (ICON int -1) (NOP void))
  // IC: label L1
  if (x < 0)
    return -1;
  else if (x == 0)
    return 0;
  return 1;
}

// Fall-through, default in the middle, a case after it; no default
// elsewhere: the switch then has a DEFAULT to its end.
int sw(int v) {
  int r = 0;
  switch (v) {
  case 1:
    r += 1;
  case 2:
    r += 10;
    break;
  default:
    r = 100;
  case 7:
    r += 7;
    break;
  case -3:
    return -3;
  }
  return r;
}
// IC-LABEL: function @sw
// IC: (SWITCH void 4
// IC-NEXT: (NAME int %v)
// IC: (CASE void (ICON int 1) (LABEL void

int sw_nodefault(unsigned v) {
  switch (v) {
  case 4000000000u:
    return 1;
  case 5:
    return 2;
  }
  return 3;
}

int main(void) {
  int i, n;
  printf("%d %d %d\n", classify(-5), classify(0), classify(9));
  // CHECK: -1 0 1
  printf("%d %d %d %d %d\n", sw(1), sw(2), sw(7), sw(-3), sw(42));
  // CHECK-NEXT: 11 10 7 -3 107
  printf("%d %d %d\n", sw_nodefault(4000000000u), sw_nodefault(5), sw_nodefault(6));
  // CHECK-NEXT: 1 2 3

  n = 0;
  for (i = 0; i < 10; i++) {
    if (i == 2)
      continue;
    if (i == 6)
      break;
    n += i;
  }
  printf("for %d %d\n", i, n);
  // CHECK-NEXT: for 6 13

  i = 0;
  n = 1;
  while (n < 1000) {
    n *= 3;
    if (++i > 100)
      break;
  }
  printf("while %d %d\n", i, n);
  // CHECK-NEXT: while 7 2187

  i = 10;
  do {
    --i;
    if (i % 2)
      continue;
    n -= i;
  } while (i > 3);
  printf("do %d %d\n", i, n);
  // CHECK-NEXT: do 3 2169

  // A loop built from goto.
  i = 0;
again:
  i += 5;
  if (i < 23)
    goto again;
  printf("goto %d\n", i);
  // CHECK-NEXT: goto 25

  // An empty for with only a condition and a loop without condition.
  for (; i > 20;)
    i -= 2;
  for (;;) {
    if (++i == 22)
      break;
  }
  printf("end %d\n", i);
  // CHECK-NEXT: end 22
  return 0;
}
