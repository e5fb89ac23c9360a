// Volatile objects keep their qualifier in the I-code, so that the
// optimizer keeps every access: the dead stores to x stay after -o3.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.o3 | FileCheck %s --check-prefix=O3
#include <stdio.h>

volatile int g;
typedef volatile short vshort;

int main(void) {
  volatile int x = 1;
  vshort y = 2;
  x = 2;
  x = 3;
  g = x + y;
  printf("%d %d\n", x, g);
  // CHECK: 3 5
  return 0;
}
// IC: symbol @g volatile.int
// IC: symbol %x volatile.int
// IC: symbol %y volatile.short
// O3: (ASG volatile.int (NAME volatile.int %x) (ICON volatile.int 2))
// O3: (ASG volatile.int (NAME volatile.int %x) (ICON volatile.int 3))
