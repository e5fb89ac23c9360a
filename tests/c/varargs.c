// Functions with a variable argument list: va_start takes the variadic
// area of the call, va_arg steps over slots of 2 units (4 for 64-bit
// values, a structure's size rounded up to 2), va_copy copies the position
// and va_end writes nothing.  Every level of zopt keeps the results.
// RUN: %zcc %s -o %t.if
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
#include <stdarg.h>
#include <stdio.h>

struct pair {
  short a;
  long long b;
};

long long sum(int n, ...) {
  va_list ap, again;
  long long s = 0;
  va_start(ap, n);
  va_copy(again, ap);
  for (int i = 0; i < n; i++)
    s += va_arg(ap, int);
  s += va_arg(again, int) * 1000LL;
  va_end(again);
  va_end(ap);
  return s;
}
// IC-LABEL: function @sum
// IC: (ASG *char (NAME *char %ap) (UICALL *char "__va_start"))
// IC-NEXT: stmt {{.*}}again = ap
// IC-NOT: va_end

// One slot of each size, in an order that puts a 4-unit slot after a
// 2-unit one.
void mixed(const char *tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const char *text = va_arg(ap, const char *);
  long long big = va_arg(ap, long long);
  double d = va_arg(ap, double);
  struct pair q = va_arg(ap, struct pair);
  unsigned short u = (unsigned short)va_arg(ap, int);
  long double x = va_arg(ap, long double);
  va_end(ap);
  printf("%s %s %lld %d %d %lld %u %d\n", tag, text, big, (int)(d * 4), q.a, q.b, u,
         (int)(x * 2));
}

// A variadic function that passes its list on.
int count_nonzero(int n, ...) {
  va_list ap;
  int k = 0;
  va_start(ap, n);
  while (n-- > 0)
    if (va_arg(ap, long) != 0)
      k++;
  va_end(ap);
  return k;
}

int main(void) {
  struct pair pr = {-7, -5000000000LL};
  printf("%lld\n", sum(3, 10, -20, 30000));
  // CHECK: 39990
  printf("%lld\n", sum(0, 42));
  // CHECK-NEXT: 42000
  mixed("m", "str", 123456789012LL, 2.5, pr, 65535, 1.25L);
  // CHECK-NEXT: m str 123456789012 10 -7 -5000000000 65535 2
  printf("%d\n", count_nonzero(5, 1L, 0L, -1L, 0L, 70000L));
  // CHECK-NEXT: 3
  return 0;
}
