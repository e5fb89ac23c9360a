// Loop pragmas and assertions: "#pragma UNROLL(n)" and
// "#pragma MUST_ITERATE(min, max, multiple)" become pragma records (kinds 37
// and 39, the arguments as written) right before the loop they precede;
// `_nassert(e);` becomes ASSERT(e), which the optimizer's test folding uses
// and zrun checks.  A loop pragma that precedes no loop is dropped with a
// warning.
// RUN: %zcc %s -o %t.if 2>%t.err
// RUN: FileCheck %s --check-prefix=WARN < %t.err
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
#include <stdio.h>

#define FACTOR 4

int sum(const int *a, int n) {
  int i, s = 0;
  _nassert(n >= 8);
#pragma MUST_ITERATE(8, , 4)
#pragma UNROLL(FACTOR)
  for (i = 0; i < n; i++)
    s += a[i];
  return s;
}
// IC-LABEL: function @sum
// IC: (ASSERT void (GE int (NAME int %n) (ICON int 8)))
// IC: (ASG int (NAME int %i) (ICON int 0))
// IC-NEXT: attr 39 "8" "" "4"
// IC-NEXT: attr 37 "4"
// IC-NEXT: label L1

int main(void) {
  int a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int x = 0;
#pragma UNROLL(2)
  x = sum(a, 8);
  // WARN: pragmas.c:[[@LINE-2]]:1: warning: #pragma UNROLL does not precede a loop; ignored
  printf("%d\n", x);
  // CHECK: 36
  return 0;
}
