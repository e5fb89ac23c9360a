// Compound literals in functions: a temporary initialized each time the
// expression is evaluated, usable as a value, a designator, an array that
// decays to a pointer, and a structure argument.  At file scope: a static
// object of its own, whose address or value initializes a global.
// RUN: %zcc %s -o %t.if
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
// RUN: %same_after_zopt %t.if | FileCheck %s
#include <stdio.h>

struct point {
  int x, y;
};

static int *primes = (int[]){2, 3, 5, 7};
static const char **names = (const char *[]){"zero", "one", "two"};
static struct point origin = (struct point){3, 4};
static struct point *corner = &(struct point){10, 20};

static int sum(const int *a, int n) {
  int s = 0;
  for (int i = 0; i < n; i++)
    s += a[i];
  return s;
}

static int dot(struct point a, struct point b) { return a.x * b.x + a.y * b.y; }

int main(void) {
  int k = 3;
  struct point q = (struct point){1, 2};
  int *arr = (int[]){4, k, 6};
  printf("%d %d\n", q.x + q.y, sum(arr, 3));
  // CHECK: 3 13
  for (int i = 0; i < 3; i++) {
    // Initialized anew in every iteration: element 0 is i, the rest 0.
    int *c = (int[3]){i};
    c[1] += i;
    printf("%d %d %d\n", c[0], c[1], c[2]);
  }
  // CHECK-NEXT: 0 0 0
  // CHECK-NEXT: 1 1 0
  // CHECK-NEXT: 2 2 0
  printf("%d\n", dot((struct point){k, 4}, (struct point){.y = 5}));
  // CHECK-NEXT: 20
  // The initializers run where the literal stands, after the left operand.
  int n = 0;
  int r = (n = 5, ((int[]){n, n + 1})[1]);
  printf("%d %d\n", (int){7} + ((struct point){8, 9}).y, r);
  // CHECK-NEXT: 16 6
  primes[1] = 11;
  printf("%d %d %s %d %d %d\n", primes[1], primes[3], names[2], origin.x + origin.y, corner->x,
         corner->y);
  // CHECK-NEXT: 11 7 two 7 10 20
  return 0;
}
// IC-LABEL: function @main
// IC: symbol %__zcc_t{{[0-9]+}} struct.point
// IC: (COMMAOP
