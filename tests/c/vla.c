// Variable-length arrays, of one dimension and more, and parameters that
// point to them: storage of the function's frame from the intrinsic
// "__vla_alloc", sizeof and row steps computed at run time, the storage of a
// declaration reused each time the declaration runs again (a loop of 3000
// arrays of up to 198 units fits in the 64K units of memory only so), released at
// return, and kept when a tail call passes it on (zopt keeps that call).
// RUN: %zcc %s -o %t.if
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
// RUN: %same_after_zopt %t.if | FileCheck %s
// RUN: %zopt -o2 -d 1 %t.if %t.o2 && FileCheck %s --check-prefix=TAIL < %t.odb
// RUN: %zcc -D OVERRUN %s -o %t.bad.if
// RUN: %expect_exit 3 %zrun %t.bad.if 2>&1 | FileCheck %s --check-prefix=BAD
#include <stdio.h>

static long sum(int n, const long *a) {
  long s = 0;
  for (int i = 0; i < n; i++)
    s += a[i];
  return s;
}

static int squares(int n) {
  int a[n];
  for (int i = 0; i < n; i++)
    a[i] = i * i;
  int s = 0;
  for (int i = 0; i < n; i++)
    s += a[i];
  return s * 1000 + (int)(sizeof a / sizeof a[0]);
}
// IC-LABEL: function @squares
// IC: ; a = __vla_alloc(__zcc_t{{[0-9]+}}*2)
// IC: (ICALL *int "__vla_alloc"

// Each level's array is passed to the next, which reads it: the tail call
// must stay a call.
static long chain(int n, const long *prev, int prev_len) {
  long a[n + 1];
  for (int i = 0; i <= n; i++)
    a[i] = (prev_len ? prev[i % prev_len] : 1) + i;
  if (n == 0)
    return a[0];
  return chain(n - 1, a, n + 1);
}
// TAIL-NOT: Tail recursive self-call removed

// Two dimensions: a parameter `double m[n][n]` is a pointer to rows of n
// elements, whose bound is read once on entry; rows are stepped over with
// ++, += and subtraction at run time.
static double trace(int n, double m[n][n]) {
  double t = 0;
  for (int i = 0; i < n; i++)
    t += m[i][i];
  n = 0;   // the rows keep the size they had on entry
  return t + m[1][1];
}

static int rows(int r, int c) {
  int a[r][c];
  for (int i = 0; i < r; i++)
    for (int j = 0; j < c; j++)
      a[i][j] = i * 10 + j;
  int (*q)[c] = a;
  q++;
  int (*e)[c] = q;
  e += 2;
  printf("%d %d %d %d %u %u\n", q[0][c - 1], (*e)[1], (int)(e - q), (int)(&a[r - 1] - a),
         (unsigned)sizeof a, (unsigned)sizeof a[0]);
  return a[r - 1][c - 1];
}

int main(void) {
  printf("%d\n", squares(10));
  // CHECK: 285010
  long total = 0;
  for (int k = 0; k < 3000; k++) {
    long v[100];
    long w[k % 50 + 50];
    w[0] = k;
    v[0] = (long)sizeof w;
    total += w[0] + v[0];
  }
  printf("%ld\n", total);
  // CHECK-NEXT: 4945500
  printf("%ld %d\n", chain(5, 0, 0), (int)sizeof(char[squares(2) % 7 + 1]));
  // CHECK-NEXT: 1 2
  int n = 3;
  double m[n][n];
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      m[i][j] = i + j * 0.5;
  printf("%g\n", trace(n, m));
  // CHECK-NEXT: 6
  printf("%d\n", rows(4, 3));
  // CHECK-NEXT: 12 31 2 3 24 6
  // CHECK-NEXT: 32
  // A typedef fixes its bound where it stands.
  typedef int row[n];
  n = 10;
  row r1, r2;
  r1[2] = 5;
  r2[2] = 6;
  printf("%u %d\n", (unsigned)(sizeof(row) / sizeof(int)), r1[2] + r2[2]);
  // CHECK-NEXT: 3 11
  n = 3;
  long x[4] = {1, 2, 3, 4};
  printf("%ld\n", sum(4, x));
  // CHECK-NEXT: 10
#ifdef OVERRUN
  short t[n];
  t[n] = 1;
  // BAD: zrun: error: access outside any object in main at {{.*}}vla.c:[[@LINE-1]]
#endif
  return 0;
}
