// Calls: recursion, mutual recursion, function pointers (called directly
// and through a table), arguments converted to the parameter types, a
// result discarded, printf with variable arguments.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o0 %t.if %t.o0 && %zrun %t.o0 | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

static int calls;

int fib(int n) {
  calls++;
  return n < 2 ? n : fib(n - 1) + fib(n - 2);
}

int is_odd(unsigned n);
int is_even(unsigned n) { return n == 0 ? 1 : is_odd(n - 1); }
int is_odd(unsigned n) { return n == 0 ? 0 : is_even(n - 1); }

long long fact(short n) { return n <= 1 ? 1 : n * fact(n - 1); }

int add(int a, int b) { return a + b; }
int sub(int a, int b) { return a - b; }
int apply(int (*f)(int, int), int a, int b) { return f(a, b) * 10 + (*f)(b, a); }

// Called directly: the callee is the address of the function.
// IC-LABEL: function @apply
// IC: (CALL int 2 0
// IC-NEXT: (NAME *%t{{[0-9]+}} %f)

void bump(int *p) { ++*p; }

int main(void) {
  int (*ops[2])(int, int) = {add, sub};
  int x = 5;
  printf("%d %d\n", fib(15), calls);
  // CHECK: 610 1973
  printf("%d %d\n", is_even(10), is_odd(7));
  // CHECK-NEXT: 1 1
  printf("%lld\n", fact(20));
  // CHECK-NEXT: 2432902008176640000
  printf("%d %d\n", apply(add, 3, 4), apply(ops[1], 3, 4));
  // CHECK-NEXT: 77 -9
  bump(&x);
  bump(&x);
  printf("%d\n", x);
  // CHECK-NEXT: 7
  return 0;
}
