// Pointers and arrays: arithmetic scaled by the element size in units,
// differences, multi-dimensional arrays, pointers to pointers, string
// literals (one character per 16-bit unit) and char arrays.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o0 %t.if %t.o0 && %zrun %t.o0 | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

long long big[4] = {1, 2, 3, 4};
int grid[3][4];

// p + 2 on a long long pointer: PMCONV scales by 64 bits.
// IC-LABEL: function @third
// IC: (PLUS *llong (NAME *llong %p) (PMCONV int (ICON int 2) (ICON int 64)))
long long third(long long *p) { return *(p + 2); }

// q - p: the difference in units divided by the element size.
// IC-LABEL: function @distance
// IC: (PVCONV int (MINUS *int (NAME *int %q) (NAME *int %p)) (ICON int 32))
int distance(int *p, int *q) { return q - p; }

int sum(const int *a, int n) {
  int s = 0;
  const int *end = a + n;
  while (a < end)
    s += *a++;
  return s;
}

void fill(int (*g)[4], int rows) {
  int i, j;
  for (i = 0; i < rows; i++)
    for (j = 0; j < 4; j++)
      g[i][j] = i * 10 + j;
}

int len(const char *s) {
  const char *p = s;
  while (*p)
    p++;
  return p - s;
}

int main(void) {
  int a[5] = {3, 1, 4, 1, 5};
  int *p = &a[1], **pp = &p;
  char word[8] = "zor";
  char *w = word;
  printf("%lld %d %d\n", third(big), distance(a, a + 4), sum(a, 5));
  // CHECK: 3 4 14
  fill(grid, 3);
  printf("%d %d %d\n", grid[2][3], grid[1][0], *(*(grid + 1) + 2));
  // CHECK-NEXT: 23 10 12
  **pp = 9;
  (*pp)++;
  printf("%d %d %d\n", a[1], *p, p[-1]);
  // CHECK-NEXT: 9 4 9
  printf("%d %d %s\n", len("hello"), len(word), w);
  // CHECK-NEXT: 5 3 zor
  w[1] = 'a';
  *(w + 2) += 1;
  printf("%s %c %d\n", word, "xyz"[1], (int)sizeof word);
  // CHECK-NEXT: zas y 8
  printf("%d %d\n", (int)(&grid[2][1] - &grid[0][0]), p > a);
  // CHECK-NEXT: 9 1
  return 0;
}
