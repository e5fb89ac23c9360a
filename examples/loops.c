/* examples/loops.c - a small C program for the demo: a loop with an unroll
 * pragma, a few calls and a recursive function.
 *
 *   zcc -O 2 --run --keep examples/loops.c
 */
#include <stdio.h>

static int squares[8];

int square(int x) { return x * x; }

int sum(const int *a, int n) {
  int i, s = 0;
#pragma UNROLL(2)
  for (i = 0; i < n; i++)
    s += a[i];
  return s;
}

int gcd(int a, int b) { return b == 0 ? a : gcd(b, a % b); }

int main(void) {
  int i;
  for (i = 0; i < 8; i++)
    squares[i] = square(i + 1);
  printf("sum of squares: %d\n", sum(squares, 8));
  printf("gcd(%d, %d) = %d\n", squares[5], squares[3], gcd(squares[5], squares[3]));
  return 0;
}
